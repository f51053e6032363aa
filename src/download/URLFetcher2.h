// TUrlDownloader: fetches one URL into one local file, with retries, resume
// of a partial file by an HTTP range request, progress on an optional
// progress bar and status line, abort from another thread, and a final MD5
// check.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/progress.h"

namespace tide::platform {
class HttpSession;
enum class HttpFailure;
}

namespace tide {

// The sentence that names what was wrong with a server refused over HTTPS
// (its certificate, or the secure connection); empty for a failure that is
// not about the server's identity.
std::wstring CertificateRefusal(platform::HttpFailure why);

class TUrlDownloader {
public:
    TUrlDownloader();
    explicit TUrlDownloader(const std::wstring& agent);

    // Fetches aUrl into localName. sMD5Sum: expected digest (hex, any case)
    // or empty for no check. size: expected length in bytes, or below 1
    // when unknown. True when the file is complete and, when a digest was
    // given, matches it. Shows its own message boxes ("Error Dowloading" on
    // failure unless SilentFail or AbortFlag; "Notice" on a digest mismatch,
    // always). Throws tide::IoError when the local file cannot be written.
    //
    // A resumed request that the server answers with the whole file (200,
    // not 206) starts the local file again from its first byte.
    //
    // A server whose certificate does not hold is refused at once, without
    // further attempts: the failure box names what was wrong, and the
    // local file is neither created nor touched.
    //
    // The transfer stops at size bytes (at MaximumSize when no size is
    // given): an answer that goes on beyond it fails the call at once,
    // without another attempt; its excess is never written and the local
    // file is deleted, since nothing of such an answer can be trusted.
    bool downloadURL(const std::wstring& aUrl, const std::wstring& localName, const std::wstring& sMD5Sum,
                     int32_t size);

    // Stops the running call, from any thread: sets AbortFlag and makes the
    // open or read in progress return at once (a host that accepts nothing
    // or never answers does not hold the call). The call then fails
    // without a message and keeps the partial file.
    void Abort();

    std::wstring AgentName = L"TUrlDownloader";
    platform::ProgressBar* pb = nullptr;   // receives the percentage after every piece
    platform::StatusLine* sb = nullptr;    // receives the status texts
    bool AllowResume = true;
    bool KeepPartialDownload = true;
    int32_t MaximumRetries = 10;
    // Set by another thread to stop the running call; cleared when a call
    // starts.
    std::atomic<bool> AbortFlag{false};
    // An owner that keeps its own abort state across calls points this at
    // it: while it reads true, a call behaves as if AbortFlag were set. (A
    // call clears AbortFlag when it starts, which would lose an abort that
    // arrives just before.)
    const std::atomic<bool>* OwnerAbort = nullptr;
    bool SilentFail = false;
    // Expected SHA-256 of the file (64 hexadecimal digits, any case), checked
    // after the MD5 like it: a mismatch deletes the file and shows its own
    // "Notice" box. Empty: no check.
    std::wstring Sha256;
    // The largest answer accepted when the caller gives no size; 0: no
    // bound. The manifest fetch sets one.
    uint64_t MaximumSize = 0;
    double UpdateInterval = 10.0;  // seconds between two progress texts
    // How long the network may keep one attempt waiting: to connect, and
    // for the answer or the next bytes of it.
    uint32_t ConnectTimeoutMs = 30000;
    uint32_t ReceiveTimeoutMs = 60000;

    // Largest piece read from the network at once.
    static constexpr size_t kPieceSize = 256 * 1024;

private:
    struct Attempt;
    class SessionInUse;
    uint64_t TransferBody(Attempt& at, int32_t expected);
    bool Aborting() const;

    // Counted in 64 bits: no length wraps around to pass for another.
    uint64_t dwPosition = 0;
    // Set by TransferBody when the answer went beyond its limit.
    bool overflow_ = false;
    // The session of the attempt in progress, for Abort.
    std::mutex sessionMu_;
    platform::HttpSession* session_ = nullptr;
};

}  // namespace tide
