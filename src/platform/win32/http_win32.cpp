// The internet layer on Windows: WinInet in blocking mode.
//
// The blocking calls of a session (the open, the reads of the body, the
// close of its URL) are made by a worker thread of that session, while the
// caller waits for the worker or for an abort, whichever comes first. On
// Windows, closing the internet handles from the aborting thread ends the
// WinInet call in progress; Wine's WinInet does not end it (nor does it
// keep to the connect time-out), so without the worker a connect towards a
// host that accepts nothing would hold the caller for minutes. An abandoned
// call finishes on the worker, which then closes whatever it still holds
// and ends.
//
// The body is read ahead by the worker into a ring buffer, each WinInet
// read sized by what is waiting, and handed to the caller in batches.
//
// The session takes the proxy from the system's settings (PRECONFIG). A
// proxy that asks for credentials answers the open with 407; when the
// program was given credentials they go on the request handle
// (INTERNET_OPTION_PROXY_USERNAME/PASSWORD) and the request is sent again,
// as WinInet expects: it answers the proxy's challenge on that resend.
// (Wine's WinInet sends them only after a 407 of that send, so a fetch
// through a proxy with basic authentication reads 407, 407, 200.)
//
// An https URL is opened with INTERNET_FLAG_SECURE and none of the flags
// that ignore a certificate error; WinInet then refuses a server whose
// certificate does not hold, and its error code tells which check failed
// (LastFailure).
//
// wininet.dll is delay-loaded (CMakeLists.txt). Its functions are declared
// here without __declspec(dllimport), so every call goes through the
// delay-load thunk: with only the import slot referenced, the i686 linker
// drops the thunk that would load the DLL and leaves the slot 0, and the
// first WinInet call of the 32-bit program jumps to address 0.
#define DECLSPEC_IMPORT
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/http.h"

namespace tide::platform::win32 {
namespace {

// A single WinInet read never asks for more than this.
constexpr DWORD kMaxRead = 256 * 1024;
// How far the worker reads ahead of the caller.
constexpr size_t kRing = 1024 * 1024;
// A caller's read returns once this much (or what it asked for) is waiting,
// or this long after the first byte, whichever comes first: few returns on
// a fast line, little delay on a slow one.
constexpr size_t kBatch = 64 * 1024;
constexpr std::chrono::milliseconds kBatchWait{50};

enum class Job { None, Open, Pump, CloseUrl };

// What a session, its URL object and its worker share.
struct Line {
    std::mutex mu;
    std::condition_variable cv;
    // Handles, each closed exactly once by whoever takes it out of here
    // (under mu): the worker when it ends or closes the URL, or an abort
    // while the worker is inside a call that uses them.
    HINTERNET session = nullptr;
    HINTERNET url = nullptr;
    bool aborted = false;
    bool quit = false;     // the session object is gone: close and end
    bool inCall = false;   // the worker is inside a WinInet call
    // The one job in flight: posted by the caller, finished by the worker.
    Job job = Job::None;
    uint64_t posted = 0;
    uint64_t finished = 0;
    std::wstring openUrl, openHeaders;
    std::wstring proxyUser, proxyPassword;  // set once, before the worker starts
    int status = 0;
    HttpFailure failure = HttpFailure::None;  // of the last open
    // The body read so far and not yet taken: fill bytes from head on. The
    // worker writes only after them, the caller takes only them.
    std::vector<uint8_t> ring;
    size_t head = 0;
    size_t fill = 0;
    bool pumping = false;
    bool bodyEnd = false;      // the end of the body, or a failed read
    size_t readerNeed = 0;     // the caller waits until this much is there
    bool writerWaiting = false;
};

// Reads what is waiting, at most want bytes, into buf; 0 at the end or on
// failure. InternetReadFile blocks until its whole count has arrived (at
// 20 KB/s a 256 KiB read would hold progress for 13 s), so it is asked for
// what InternetQueryDataAvailable reports (which itself waits for at least
// one byte, or the end). Wine's WinInet never reports more than 8 KiB,
// which would take more than half the speed of a fast line; so while the
// line runs ahead of the reads (a full report, and the read done in a few
// milliseconds) the next read may ask for twice as much as the last, up to
// kMaxRead. A report below full, or a read that had to wait, drops back to
// what is waiting, so a slow line keeps its reads, and progress, short.
constexpr DWORD kFullReport = 8 * 1024;
DWORD ReadWaiting(HINTERNET h, uint8_t* buf, DWORD want, DWORD& ahead) {
    DWORD avail = 0;
    if (!InternetQueryDataAvailable(h, &avail, 0, 0) || avail == 0) return 0;
    const bool full = avail >= kFullReport;
    const DWORD ask = std::min(want, full ? std::max(avail, ahead) : avail);
    const ULONGLONG start = GetTickCount64();
    DWORD got = 0;
    if (!InternetReadFile(h, buf, ask, &got)) return 0;
    const bool quick = GetTickCount64() - start <= 5;
    ahead = (full && quick && got == ask) ? std::min<DWORD>(kMaxRead, 2 * std::max(ask, kFullReport)) : 0;
    return got;
}

// What WinInet's error after a failed open says about the server's
// certificate.
HttpFailure FailureOf(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA: return HttpFailure::UnknownAuthority;
        case ERROR_INTERNET_SEC_CERT_CN_INVALID: return HttpFailure::WrongHost;
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return HttpFailure::CertificateDates;
        case ERROR_INTERNET_SEC_CERT_REVOKED: return HttpFailure::Revoked;
        // Wine's WinInet also answers this for a certificate whose issuer
        // it does not know (Windows: ERROR_INTERNET_INVALID_CA).
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED: return HttpFailure::Unverified;
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_INVALID_CERT: return HttpFailure::BadCertificate;
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return HttpFailure::SecureChannel;
        default: return HttpFailure::Other;
    }
}

// Secure for an https URL, whatever the scheme's default of the WinInet at
// hand; no flag that ignores a certificate error is ever given.
DWORD SchemeFlags(const std::wstring& url) {
    return _wcsnicmp(url.c_str(), L"https:", 6) == 0 ? INTERNET_FLAG_SECURE : 0;
}

int StatusOf(HINTERNET h) {
    DWORD code = 0, len = sizeof(code), index = 0;
    if (!HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, &index)) return 0;
    return static_cast<int>(code);
}

// After a 407 with credentials to give: reads what is left of the proxy's
// page (so the connection can carry the resend), puts the credentials on
// the request and sends it again. The request's headers (a range) stay.
// Returns the new status, or 0 when the resend failed.
int ResendWithProxyCredentials(HINTERNET request, const std::wstring& user, const std::wstring& password) {
    InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(user.c_str()),
                       static_cast<DWORD>(user.size() + 1));
    InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(password.c_str()),
                       static_cast<DWORD>(password.size() + 1));
    char page[4096];
    DWORD got = 0;
    for (int i = 0; i < 256 && InternetReadFile(request, page, sizeof(page), &got) && got != 0; ++i) {
    }
    if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return 0;
    return StatusOf(request);
}

// The worker's read-ahead of the body, until its end, an abort or the end
// of the session. Called and returns with the lock held.
void Pump(Line& line, std::unique_lock<std::mutex>& lock) {
    if (line.ring.size() < kRing) line.ring.resize(kRing);
    DWORD ahead = 0;
    for (;;) {
        line.writerWaiting = true;
        line.cv.wait(lock, [&] { return line.fill < kRing || line.aborted || line.quit; });
        line.writerWaiting = false;
        if (line.aborted || line.quit || !line.url) return;
        const size_t tail = (line.head + line.fill) % kRing;
        const DWORD want = static_cast<DWORD>(std::min({kRing - line.fill, kRing - tail, size_t{kMaxRead}}));
        HINTERNET url = line.url;
        uint8_t* at = line.ring.data() + tail;
        line.inCall = true;
        lock.unlock();
        const DWORD got = std::min(ReadWaiting(url, at, want, ahead), want);
        lock.lock();
        line.inCall = false;
        if (line.aborted) return;
        if (got == 0) {
            line.bodyEnd = true;
            line.cv.notify_all();
            return;
        }
        line.fill += got;
        if (line.readerNeed != 0 && line.fill >= line.readerNeed) line.cv.notify_all();
    }
}

void Work(std::shared_ptr<Line> line) {
    std::unique_lock<std::mutex> lock(line->mu);
    for (;;) {
        line->cv.wait(lock, [&] { return line->job != Job::None || line->quit; });
        if (line->job == Job::None) break;  // quit with nothing to do
        const Job job = line->job;
        if (!line->aborted) {
            if (job == Job::Pump) {
                Pump(*line, lock);
            } else {
                HINTERNET session = line->session, url = line->url;
                HINTERNET opened = nullptr;
                HttpFailure failure = HttpFailure::Other;
                line->inCall = true;
                if (job == Job::CloseUrl) line->url = nullptr;  // taken: closed below
                lock.unlock();
                if (job == Job::Open && session) {
                    // RELOAD and NO_CACHE_WRITE: always fetch from the server
                    // and never copy the body into WinInet's cache (which
                    // costs a second write of every byte and can hand back a
                    // stale manifest).
                    opened = InternetOpenUrlW(session, line->openUrl.c_str(),
                                              line->openHeaders.empty() ? nullptr : line->openHeaders.c_str(),
                                              static_cast<DWORD>(line->openHeaders.size()),
                                              INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                  SchemeFlags(line->openUrl),
                                              0);
                    failure = opened ? HttpFailure::None : FailureOf(GetLastError());
                    line->status = opened ? StatusOf(opened) : 0;
                    if (line->status == HTTP_STATUS_PROXY_AUTH_REQ && !line->proxyUser.empty()) {
                        line->status = ResendWithProxyCredentials(opened, line->proxyUser, line->proxyPassword);
                        if (line->status == 0) {
                            failure = FailureOf(GetLastError());
                            InternetCloseHandle(opened);
                            opened = nullptr;
                        }
                    }
                } else if (job == Job::CloseUrl && url) {
                    InternetCloseHandle(url);
                }
                lock.lock();
                line->inCall = false;
                if (job == Job::Open) line->failure = failure;
                if (opened) {
                    if (line->aborted || line->quit || line->url) {
                        lock.unlock();
                        InternetCloseHandle(opened);  // nobody waits for it any more
                        lock.lock();
                    } else {
                        line->url = opened;
                    }
                }
            }
        }
        line->job = Job::None;
        line->finished = line->posted;
        line->cv.notify_all();
    }
    HINTERNET url = line->url, session = line->session;
    line->url = line->session = nullptr;
    lock.unlock();
    if (url) InternetCloseHandle(url);
    if (session) InternetCloseHandle(session);
}

// Posts a job; with wait, waits until the worker has done it (true) or the
// line is aborted (false; the worker finishes the job alone). Called with
// the lock held, and only while no other job is in flight.
bool Post(Line& line, std::unique_lock<std::mutex>& lock, Job job, bool wait = true) {
    if (line.aborted || line.quit) return false;
    line.job = job;
    const uint64_t mine = ++line.posted;
    line.cv.notify_all();
    if (!wait) return true;
    line.cv.wait(lock, [&] { return line.finished >= mine || line.aborted; });
    return line.finished >= mine && !line.aborted;
}

// Makes the call in progress return at once and every later one fail.
void AbortLine(Line& line) {
    HINTERNET url = nullptr, session = nullptr;
    {
        std::lock_guard<std::mutex> lock(line.mu);
        if (line.aborted) return;
        line.aborted = true;
        if (line.inCall) {
            // Closing the handles ends the call in progress (on Windows);
            // the worker finds them gone and leaves them be. A worker that
            // has not quite entered its call gets an invalid handle, and
            // that call fails at once.
            url = line.url;
            session = line.session;
            line.url = line.session = nullptr;
        }
        line.cv.notify_all();
    }
    if (url) InternetCloseHandle(url);
    if (session) InternetCloseHandle(session);
}

class WinInetUrl : public UrlHandle {
public:
    explicit WinInetUrl(std::shared_ptr<Line> line, int status) : line_(std::move(line)), status_(status) {}
    ~WinInetUrl() override {
        bool abandon = false;
        {
            std::unique_lock<std::mutex> lock(line_->mu);
            if (line_->pumping && !line_->bodyEnd && !line_->aborted)
                abandon = true;  // closed in the middle of the body: the worker may wait on the network
            else if (line_->url && line_->job == Job::None)
                Post(*line_, lock, Job::CloseUrl);
        }
        if (abandon) AbortLine(*line_);
    }
    int StatusCode() override { return status_; }
    size_t Read(void* buffer, size_t count) override {
        if (count == 0) return 0;
        Line& line = *line_;
        std::unique_lock<std::mutex> lock(line.mu);
        if (line.aborted) return 0;
        if (!line.pumping) {
            if (!line.url || !Post(line, lock, Job::Pump, false)) return 0;
            line.pumping = true;
        }
        auto ready = [&](size_t need) { return line.fill >= need || line.bodyEnd || line.aborted; };
        line.readerNeed = 1;
        line.cv.wait(lock, [&] { return ready(1); });
        const size_t batch = std::min(count, kBatch);
        if (!ready(batch)) {
            line.readerNeed = batch;
            line.cv.wait_for(lock, kBatchWait, [&] { return ready(batch); });
        }
        line.readerNeed = 0;
        if (line.aborted) return 0;
        const size_t n = std::min(count, line.fill);
        const size_t first = std::min(n, kRing - line.head);
        std::memcpy(buffer, line.ring.data() + line.head, first);
        std::memcpy(static_cast<uint8_t*>(buffer) + first, line.ring.data(), n - first);
        line.head = (line.head + n) % kRing;
        line.fill -= n;
        if (line.writerWaiting) line.cv.notify_all();
        return n;
    }

private:
    std::shared_ptr<Line> line_;
    int status_;
};

class WinInetSession : public HttpSession {
public:
    WinInetSession(HINTERNET h, const std::wstring& proxyUser, const std::wstring& proxyPassword)
        : line_(std::make_shared<Line>()) {
        line_->session = h;
        line_->proxyUser = proxyUser;
        line_->proxyPassword = proxyPassword;
        worker_ = std::thread(Work, line_);
    }
    ~WinInetSession() override {
        bool busy;
        {
            std::lock_guard<std::mutex> lock(line_->mu);
            line_->quit = true;
            busy = line_->job != Job::None;  // a call that an abort left running
            line_->cv.notify_all();
        }
        // An idle worker closes the handles and ends at once; one still in
        // an abandoned call ends when WinInet lets it go.
        if (busy)
            worker_.detach();
        else
            worker_.join();
    }
    std::unique_ptr<UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) override {
        std::unique_lock<std::mutex> lock(line_->mu);
        // After an abort the worker may still be in the abandoned call, so
        // the job's fields are not touched.
        if (line_->aborted || line_->url || line_->job != Job::None) return nullptr;  // one URL per session
        line_->openUrl = url;
        line_->openHeaders = headers;
        line_->status = 0;
        line_->failure = HttpFailure::Other;
        if (!Post(*line_, lock, Job::Open) || !line_->url) return nullptr;
        return std::make_unique<WinInetUrl>(line_, line_->status);
    }
    HttpFailure LastFailure() override {
        std::lock_guard<std::mutex> lock(line_->mu);
        // After an abort the worker's answer, if any, came too late to count.
        return line_->aborted ? HttpFailure::Other : line_->failure;
    }
    void Abort() override { AbortLine(*line_); }

private:
    std::shared_ptr<Line> line_;
    std::thread worker_;
};

void SetTimeout(HINTERNET h, DWORD option, uint32_t ms) {
    DWORD value = ms;
    InternetSetOptionW(h, option, &value, sizeof(value));
}

class WinInet : public Http {
public:
    std::unique_ptr<HttpSession> OpenSession(const std::wstring& agent, const HttpTimeouts& timeouts) override {
        HINTERNET h = InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!h) return nullptr;
        SetTimeout(h, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs);
        SetTimeout(h, INTERNET_OPTION_SEND_TIMEOUT, timeouts.receiveMs);
        SetTimeout(h, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receiveMs);
        std::lock_guard<std::mutex> lock(mu_);
        return std::make_unique<WinInetSession>(h, proxyUser_, proxyPassword_);
    }
    void SetProxyCredentials(const std::wstring& user, const std::wstring& password) override {
        std::lock_guard<std::mutex> lock(mu_);
        proxyUser_ = user;
        proxyPassword_ = password;
    }

private:
    std::mutex mu_;
    std::wstring proxyUser_, proxyPassword_;
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
Http& Port<Http>::Default() {
    static win32::WinInet instance;
    return instance;
}
}  // namespace tide::platform
