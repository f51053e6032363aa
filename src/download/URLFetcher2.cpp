#include "download/URLFetcher2.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "download/verification.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/message_box.h"

namespace tide {

using platform::Files;
using platform::OpenMode;
using platform::Share;

// What one transfer works with: the open URL, the local file positioned
// at dwPosition, the piece buffer (kPipeSlots pieces long) and, when a digest is
// expected, the running digest of everything in the file so far.
struct TUrlDownloader::Attempt {
    platform::UrlHandle* url;
    platform::File* file;
    std::vector<uint8_t>* buffer;
    Md5State* md5;
};

namespace {

// Feeds pieces to a digest on a second thread while the transfer reads the
// next pieces into the other slots of its buffer, so that checking the
// digest costs (nearly) no time of its own. The transfer cycles through
// kPipeSlots slots; at most kPipeSlots - 1 pieces wait or are being digested,
// so the slot it reads into next is always free.
constexpr size_t kPipeSlots = 4;

class DigestPipe {
public:
    explicit DigestPipe(Md5State& st) : st_(st), worker_([this] { Run(); }) {}
    ~DigestPipe() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    DigestPipe(const DigestPipe&) = delete;
    DigestPipe& operator=(const DigestPipe&) = delete;

    // Queues a piece; its bytes must stay untouched until Drain returns or
    // kPipeSlots - 1 further pieces have been fed.
    void Feed(const uint8_t* bytes, size_t count) {
        std::unique_lock<std::mutex> lock(mu_);
        done_.wait(lock, [this] { return pending_ < kPipeSlots - 1; });
        queue_[(head_ + pending_) % kPipeSlots] = Piece{bytes, count};
        ++pending_;
        wake_.notify_one();
    }
    // Waits until every fed piece is digested.
    void Drain() {
        std::unique_lock<std::mutex> lock(mu_);
        done_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    struct Piece {
        const uint8_t* bytes;
        size_t count;
    };
    void Run() {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            wake_.wait(lock, [this] { return pending_ > 0 || stop_; });
            if (pending_ == 0) return;  // stopped and nothing left
            Piece p = queue_[head_];
            lock.unlock();
            Md5Feed(st_, p.bytes, static_cast<uint32_t>(p.count));
            lock.lock();
            head_ = (head_ + 1) % kPipeSlots;
            --pending_;
            done_.notify_all();
        }
    }

    Md5State& st_;
    std::mutex mu_;
    std::condition_variable wake_, done_;
    Piece queue_[kPipeSlots] = {};
    size_t head_ = 0;
    size_t pending_ = 0;
    bool stop_ = false;
    std::thread worker_;  // last: starts when everything above exists
};

}  // namespace

TUrlDownloader::TUrlDownloader() = default;

TUrlDownloader::TUrlDownloader(const std::wstring& agent) : AgentName(agent) {}

// Makes the attempt's session known to Abort for as long as it is in use.
class TUrlDownloader::SessionInUse {
public:
    SessionInUse(TUrlDownloader& owner, platform::HttpSession& session) : owner_(owner) {
        std::lock_guard<std::mutex> lock(owner_.sessionMu_);
        owner_.session_ = &session;
        // An abort that came before the session existed reaches it here.
        if (owner_.Aborting()) session.Abort();
    }
    ~SessionInUse() {
        std::lock_guard<std::mutex> lock(owner_.sessionMu_);
        owner_.session_ = nullptr;
    }
    SessionInUse(const SessionInUse&) = delete;
    SessionInUse& operator=(const SessionInUse&) = delete;

private:
    TUrlDownloader& owner_;
};

std::wstring CertificateRefusal(platform::HttpFailure why) {
    using platform::HttpFailure;
    switch (why) {
        case HttpFailure::UnknownAuthority:
            return L"The server's certificate was not issued by an authority this computer trusts.";
        case HttpFailure::WrongHost:
            return L"The server's certificate was issued for another host name than the one in the address.";
        case HttpFailure::CertificateDates:
            return L"The server's certificate has expired or is not yet valid (check the computer's date and time).";
        case HttpFailure::Revoked: return L"The server's certificate has been revoked by its issuer.";
        case HttpFailure::Unverified:
            return L"The server's certificate could not be verified: its issuer is unknown, or whether it was "
                   L"revoked could not be checked.";
        case HttpFailure::BadCertificate: return L"The server's certificate is not valid.";
        case HttpFailure::SecureChannel: return L"No secure connection to the server could be made.";
        case HttpFailure::None:
        case HttpFailure::Other: break;
    }
    return L"";
}

bool TUrlDownloader::Aborting() const { return AbortFlag || (OwnerAbort && OwnerAbort->load()); }

void TUrlDownloader::Abort() {
    AbortFlag = true;
    std::lock_guard<std::mutex> lock(sessionMu_);
    if (session_) session_->Abort();
}

namespace {

std::unique_ptr<platform::File> OpenLocal(const std::wstring& path, OpenMode mode) {
    std::unique_ptr<platform::File> f = Files().Open(path, mode, Share::Read);
    if (!f) throw IoError(L"Cannot open file " + path);
    return f;
}

bool IsErrorStatus(int status) { return status != 0 && (status < 200 || status > 299); }

}  // namespace

bool TUrlDownloader::downloadURL(const std::wstring& aUrl, const std::wstring& localName,
                                 const std::wstring& sMD5Sum, int32_t size) {
    AbortFlag = false;
    bool ok = false;
    int32_t attempts = 0;
    uint64_t total = 0;
    const bool hashing = !sMD5Sum.empty();
    Md5State md5{};
    bool digestCoversFile = false;
    // The digests were checked on a file that was already complete.
    bool verified = false;
    // Set when the local file cannot be the beginning of the remote one; the
    // next attempt starts it again instead of resuming.
    bool restart = false;
    // The file that arrived began with bytes that were on disk before this
    // call (a resume): when its digest fails, those may be the wrong ones.
    bool fromOldBytes = false;
    platform::HttpFailure refused = platform::HttpFailure::None;
    std::vector<uint8_t> buffer(kPipeSlots * kPieceSize);

    overflow_ = false;
    while (!ok && !Aborting() && attempts < MaximumRetries) {
        ++attempts;
        digestCoversFile = false;
        const uint64_t existing = LocalFileSize(localName);
        bool resume = AllowResume && existing != 0 && !restart;
        if (resume && size >= 1) {
            if (existing == static_cast<uint64_t>(size)) {
                // As long as the expected file: a range request for nothing
                // more would only earn an error answer. Taken as it is when
                // its digests match (or none is given); otherwise it is some
                // other file of that size and is fetched again from the start.
                const bool digests = hashing || !Trim(Sha256).empty();
                if (!digests || ComponentFileComplete(localName, size, sMD5Sum, Sha256)) {
                    dwPosition = existing;
                    total = dwPosition;
                    verified = digests;
                    ok = true;
                    break;
                }
            }
            // Longer than the expected file: it cannot be resumed.
            if (existing >= static_cast<uint64_t>(size)) resume = false;
        }

        std::unique_ptr<platform::HttpSession> session =
            platform::Internet().OpenSession(AgentName, platform::HttpTimeouts{ConnectTimeoutMs, ReceiveTimeoutMs});
        if (!session) {
            attempts = MaximumRetries;
        } else {
            SessionInUse inUse(*this, *session);
            std::unique_ptr<platform::File> file;
            std::wstring header;
            if (resume) {
                dwPosition = existing;
                file = OpenLocal(localName, hashing ? OpenMode::ReadWriteExisting : OpenMode::WriteExisting);
                if (hashing) {
                    // The digest is built while the bytes arrive, so the part
                    // already on disk goes first.
                    Md5Start(md5);
                    file->Seek(0);
                    uint64_t left = dwPosition;
                    while (left > 0) {
                        size_t n = file->Read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
                        if (n == 0) throw IoError(L"Read error on " + localName);
                        Md5Feed(md5, buffer.data(), static_cast<uint32_t>(n));
                        left -= n;
                    }
                }
                file->Seek(dwPosition);
                header = L"Range: bytes=" + std::to_wstring(dwPosition) + L"-";
                if (size >= 0 && dwPosition < static_cast<uint64_t>(size)) header += std::to_wstring(size);
            } else {
                // Created once the server has answered: a server that is
                // refused leaves no file behind.
                dwPosition = 0;
                restart = false;
                if (hashing) Md5Start(md5);
            }

            if (sb) sb->SetText(L"Opening File URL: " + aUrl);
            std::unique_ptr<platform::UrlHandle> url = session->OpenUrl(aUrl, header);
            if (!url && !CertificateRefusal(session->LastFailure()).empty()) {
                // The server's identity does not hold: asking again gets the
                // same certificate.
                refused = session->LastFailure();
                attempts = MaximumRetries;
            }
            if (url && !resume) file = OpenLocal(localName, OpenMode::CreateAlways);
            if (url) {
                fromOldBytes = resume;
                int status = url->StatusCode();
                if (IsErrorStatus(status)) {
                    // An error answer is not the file: its page is not
                    // written, and the attempt counts as a failed open.
                    // A range the server cannot satisfy means our partial
                    // file is no beginning of its file.
                    if (status == 416 && resume) restart = true;
                } else {
                    if (resume && status != 206) {
                        // The range was not honoured: the answer is the whole
                        // file, which replaces the partial one.
                        file.reset();
                        file = OpenLocal(localName, OpenMode::CreateAlways);
                        dwPosition = 0;
                        fromOldBytes = false;
                        if (hashing) Md5Start(md5);
                    }
                    Attempt at{url.get(), file.get(), &buffer, hashing ? &md5 : nullptr};
                    total = TransferBody(at, size);
                    digestCoversFile = hashing;
                }
                url.reset();
            }
            file.reset();
        }
        session.reset();

        if (overflow_) {
            // More than was announced: a server that does that is not
            // asked again, and what it sent goes.
            Files().RemoveFile(localName);
            break;
        }
        if (size < 1) {
            ok = total > 0;
        } else {
            ok = total == static_cast<uint64_t>(size);
        }
    }

    if (!ok && !Aborting() && !SilentFail && refused != platform::HttpFailure::None) {
        const std::wstring after = refused == platform::HttpFailure::SecureChannel
                                       ? L"Nothing was downloaded."
                                       : L"The connection was refused before anything was downloaded: the server "
                                         L"may not be the one it claims to be.";
        platform::ShowMessage(L"An error happened downloading " + aUrl + L"\n" + L"to " + localName + L"." + L"\n" +
                                  L"\n" + CertificateRefusal(refused) + L"\n\n" + after,
                              L"Error Dowloading", platform::MbIcon::Warning);
    } else if (!ok && !Aborting() && !SilentFail) {
        std::wstring text = L"An error happened downloading " + aUrl + L"\n" + L"to " + localName + L"." + L"\n" + L"\n";
        if (AllowResume && KeepPartialDownload && !overflow_)
            text += L"You can try to re-download the file.\n\nThe download will resume where this attempt left off.\n\n";
        text += L"Please check your internet connection.";
        platform::ShowMessage(text, L"Error Dowloading", platform::MbIcon::Warning);
        if (!KeepPartialDownload) Files().RemoveFile(localName);
    }

    // A file resumed from bytes left by something else (a shorter file of
    // the same name from an earlier release, say) fails its digest; it is
    // fetched once more from its first byte before the failure is told.
    const auto startOver = [&] {
        if (!fromOldBytes || Aborting()) return false;
        Files().RemoveFile(localName);
        return true;
    };
    if (ok && hashing && !verified) {
        if (sb) sb->SetText(L"Verifying file integrity...");
        std::wstring computed = digestCoversFile ? DigestToHex(Md5Finish(md5)) : DigestToHex(DigestOfFile(localName));
        const bool matches = SameText(computed, sMD5Sum);
        if (!matches && startOver()) return downloadURL(aUrl, localName, sMD5Sum, size);
        if (!matches) {
            ok = false;
            Files().RemoveFile(localName);
            platform::ShowMessage(
                L"It looks like the file you downloaded was corrupted during the transfer.\n\nThe computed MD5Sum is " +
                    computed + L"\n" + L"The expected MD5Sum is " + sMD5Sum + L"\n" + L"\n" +
                    L"You will have to re-download the file.",
                L"Notice", platform::MbIcon::Error);
        }
    }
    if (ok && !verified && !Trim(Sha256).empty()) {
        if (sb) sb->SetText(L"Verifying file integrity...");
        std::wstring computed;
        const bool matches = Sha256Matches(localName, Sha256, &computed);
        if (!matches && startOver()) return downloadURL(aUrl, localName, sMD5Sum, size);
        if (!matches) {
            ok = false;
            Files().RemoveFile(localName);
            ShowSha256Mismatch(computed, Sha256);
        }
    }
    return ok;
}

uint64_t TUrlDownloader::TransferBody(Attempt& at, int32_t expected) {
    platform::Clock& clock = platform::SystemClock();
    int64_t rateStart = clock.NowMs();
    int64_t lastText = rateStart;
    uint64_t rateMark = dwPosition;
    // The file ends at the expected size (or the caller's bound): a read
    // asks for at most one byte beyond it, which is enough to tell that the
    // answer is too long, and is never written.
    const uint64_t limit = expected >= 1 ? static_cast<uint64_t>(expected) : MaximumSize ? MaximumSize : UINT64_MAX;
    std::unique_ptr<DigestPipe> digest;
    if (at.md5) digest = std::make_unique<DigestPipe>(*at.md5);
    size_t slot = 0;
    do {
        uint8_t* buf = at.buffer->data() + slot * kPieceSize;
        const uint64_t room = dwPosition < limit ? limit - dwPosition : 0;
        const size_t want = room < kPieceSize ? static_cast<size_t>(room) + 1 : kPieceSize;
        size_t got = at.url->Read(buf, want);
        if (got == 0) break;
        if (got > room) {
            overflow_ = true;
            break;
        }
        at.file->Write(buf, got);
        if (digest) {
            digest->Feed(buf, got);
            slot = (slot + 1) % kPipeSlots;
        }
        dwPosition += got;
        // No percentage can be formed without an expected size: the bar
        // stays where it is. A longer answer than expected (which fails the
        // call) shows a full bar, not more.
        if (pb && expected > 0) {
            int64_t percent = static_cast<int64_t>(dwPosition) * 100 / expected;
            pb->SetPosition(static_cast<int>(std::min<int64_t>(percent, 100)));
        }
        int64_t now = clock.NowMs();
        if ((now - lastText) / 1000.0 > UpdateInterval) {
            lastText = now;
            double delta = static_cast<double>(dwPosition - rateMark);
            double seconds = (now - rateStart) / 1000.0;
            rateStart = now;
            rateMark = dwPosition;
            double rate = seconds > 0 ? delta / seconds : 0.0;
            double remaining = rate > 0 ? (static_cast<double>(expected) - dwPosition) / rate : 0.0;
            if (sb)
                sb->SetText(Format(L"downloaded %dK of %dK bytes %.1fKBytes/Second, %8.2f seconds remaining",
                                   static_cast<int>(dwPosition >> 10), static_cast<int>(expected / 1024),
                                   rate / 1024, remaining));
        }
    } while (!Aborting());
    if (digest) digest->Drain();
    return dwPosition;
}

}  // namespace tide
