// A scripted internet layer for native tests: serves byte strings by URL
// with range requests as HTTP servers answer them, records every request,
// and injects the faults a real network shows (no session, URL that does
// not open, a connection that drops, a server that ignores Range, wrong
// bytes, error statuses, slow pieces).
#pragma once

#include <functional>
#include <map>
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

class FakeHttp : public Http {
public:
    std::unique_ptr<HttpSession> OpenSession(const std::wstring& agent) override;

    // Answers url with body (status 200, or 206 for a satisfiable range).
    void Serve(const std::wstring& url, std::string body);
    // Answers url with an error status and page instead. An unknown URL
    // answers 404.
    void ServeStatus(const std::wstring& url, int status, std::string page);

    // ---- faults ----
    void FailSessions(bool fail);
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

    std::vector<HttpRequest> Requests();
    int Sessions();
    // Sessions and URL handles not yet closed.
    int LiveHandles();

    // Used by the session and URL objects.
    struct Answer {
        int status = 200;
        std::string body;
    };
    std::unique_ptr<UrlHandle> Open(const std::wstring& agent, const std::wstring& url, const std::wstring& headers);
    size_t ReadHookAndLimit(size_t asked, size_t delivered);
    void Closed();

private:
    std::mutex mu_;
    struct Resource {
        int status = 200;
        std::string body;
    };
    std::map<std::wstring, Resource> resources_;
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
    int sessions_ = 0;
    int live_ = 0;
};

}  // namespace tide::platform::fake
