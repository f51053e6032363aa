// The internet layer on Windows: WinInet, blocking mode.
#include <windows.h>
#include <wininet.h>

#include <algorithm>

#include "platform/http.h"

namespace tide::platform::win32 {
namespace {

class WinInetUrl : public UrlHandle {
public:
    static constexpr DWORD kFastLine = 8192;
    explicit WinInetUrl(HINTERNET h) : h_(h) {}
    ~WinInetUrl() override { InternetCloseHandle(h_); }
    int StatusCode() override {
        DWORD code = 0, len = sizeof(code), index = 0;
        if (!HttpQueryInfoW(h_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, &index)) return 0;
        return static_cast<int>(code);
    }
    size_t Read(void* buffer, size_t count) override {
        // InternetReadFile blocks until the whole count has arrived, which
        // on a slow line would hold the caller (and its abort check) for a
        // long time. So ask first what is waiting (the query itself waits
        // for at least one byte): while the line delivers slowly, read just
        // that; once a full read buffer (8 KiB) is waiting the data flows
        // fast, and a large read costs little time and far fewer calls.
        DWORD avail = 0;
        DWORD want = static_cast<DWORD>(count);
        if (InternetQueryDataAvailable(h_, &avail, 0, 0)) {
            if (avail == 0) return 0;
            if (avail < kFastLine) want = std::min<DWORD>(want, avail);
        }
        DWORD got = 0;
        if (!InternetReadFile(h_, buffer, want, &got)) return 0;
        return got;
    }

private:
    HINTERNET h_;
};

class WinInetSession : public HttpSession {
public:
    explicit WinInetSession(HINTERNET h) : h_(h) {}
    ~WinInetSession() override { InternetCloseHandle(h_); }
    std::unique_ptr<UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) override {
        // RELOAD and NO_CACHE_WRITE: always fetch from the server and never
        // copy the body into WinInet's cache (which costs a second write of
        // every byte and can hand back a stale manifest).
        HINTERNET h = InternetOpenUrlW(h_, url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                       static_cast<DWORD>(headers.size()),
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
        if (!h) return nullptr;
        return std::make_unique<WinInetUrl>(h);
    }

private:
    HINTERNET h_;
};

class WinInet : public Http {
public:
    std::unique_ptr<HttpSession> OpenSession(const std::wstring& agent) override {
        HINTERNET h = InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!h) return nullptr;
        return std::make_unique<WinInetSession>(h);
    }
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
