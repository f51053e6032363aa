// A scripted internet layer for native tests: serves byte strings by URL
// with range requests as HTTP servers answer them, records every request,
// and injects the faults a real network shows (no session, URL that does
// not open, a connection that drops, a server that ignores Range, wrong
// bytes, error statuses, slow pieces, an open or a read that hangs until
// the session is aborted).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http.h"

namespace tide::platform::fake {

struct HttpRequest {
    std::wstring agent;
    std::wstring url;
    std::wstring headers;
};

// The abort state of one session, shared with its URL objects.
struct FakeLine;

class FakeHttp : public Http {
public:
    std::unique_ptr<HttpSession> OpenSession(const std::wstring& agent, const HttpTimeouts& timeouts) override;

    // Answers url with body (status 200, or 206 for a satisfiable range).
    void Serve(const std::wstring& url, std::string body);
    // Answers url with an error status and page instead. An unknown URL
    // answers 404.
    void ServeStatus(const std::wstring& url, int status, std::string page);

    void SetProxyCredentials(const std::wstring& user, const std::wstring& password) override;
    // A proxy that answers every request with 407 unless the session's
    // credentials are these (an empty user name: no proxy in the way).
    void RequireProxyCredentials(const std::wstring& user, const std::wstring& password);
    // The credentials handed over last.
    std::wstring ProxyUser();
    std::wstring ProxyPassword();

    // ---- faults ----
    void FailSessions(bool fail);
    // Every open of url fails for this reason (a server certificate that
    // does not hold, say); the request is recorded, no answer is read.
    void RefuseConnection(const std::wstring& url, HttpFailure why);
    // The next n URL opens fail.
    void FailOpens(int n);
    // The next `times` answers end after `bytes` body bytes.
    void DropAfter(size_t bytes, int times = 1);
    // Answer range requests with the whole body (status 200).
    void IgnoreRange(bool ignore);
    // The byte at this offset of every body goes out changed.
    void CorruptAt(size_t offset);
    // Every read delivers at most n bytes (0: as many as asked).
    void SetPieceLimit(size_t n);
    // Called after every read that delivers bytes, with the count; a test
    // sleeps, moves a clock or raises an abort here.
    void SetReadHook(std::function<void(size_t)> hook);
    // Called whenever a session is asked for, before it is made (or
    // refused).
    void SetSessionHook(std::function<void()> hook);
    // Every URL open hangs (a host that accepts nothing, or accepts and
    // never answers) until its session is aborted; then it fails. The
    // request is recorded when the open starts.
    void HangOpens(bool hang);
    // Reads of every answer hang once `bytes` body bytes have been
    // delivered (a line that stalls), until the session is aborted.
    void HangReadsAfter(size_t bytes);
    void StopHangingReads();
    // A hang that nothing ends gives up after this long (so that a test of
    // an abort that does not arrive fails instead of hanging).
    static constexpr std::chrono::seconds kHangLimit{10};

    std::vector<HttpRequest> Requests();
    int Sessions();
    // Sessions and URL handles not yet closed.
    int LiveHandles();
    // Sessions on which Abort was called.
    int AbortedSessions();
    // Calls (opens and reads) hanging at this moment.
    int Hanging();
    // The time-outs the last session was opened with.
    HttpTimeouts LastTimeouts();

    // Used by the session and URL objects.
    struct Answer {
        int status = 200;
        std::string body;
    };
    std::unique_ptr<UrlHandle> Open(const std::shared_ptr<FakeLine>& line, const std::wstring& agent,
                                    const std::wstring& url, const std::wstring& headers, HttpFailure* failure);
    size_t ReadHookAndLimit(size_t asked, size_t delivered);
    // How many more bytes an answer that has delivered `delivered` bytes
    // may deliver before its reads hang (SIZE_MAX: no hang).
    size_t BytesBeforeHang(size_t delivered);
    // Waits until line is aborted (true) or the hang limit passes (false).
    bool Hang(FakeLine& line);
    void Closed();
    void SessionAborted();

private:
    std::mutex mu_;
    struct Resource {
        int status = 200;
        std::string body;
    };
    std::map<std::wstring, Resource> resources_;
    std::map<std::wstring, HttpFailure> refusals_;
    std::vector<HttpRequest> requests_;
    bool failSessions_ = false;
    int failOpens_ = 0;
    size_t dropBytes_ = 0;
    int dropTimes_ = 0;
    bool ignoreRange_ = false;
    bool corrupt_ = false;
    size_t corruptAt_ = 0;
    size_t pieceLimit_ = 0;
    std::function<void(size_t)> hook_;
    std::function<void()> sessionHook_;
    bool hangOpens_ = false;
    bool hangReads_ = false;
    size_t hangReadsAfter_ = 0;
    int hanging_ = 0;
    int sessions_ = 0;
    int live_ = 0;
    int aborted_ = 0;
    HttpTimeouts timeouts_{0, 0};
    std::wstring proxyUser_, proxyPassword_;
    std::wstring neededUser_, neededPassword_;
};

}  // namespace tide::platform::fake
