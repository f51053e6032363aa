// Fetching a URL (web or file URL) as the internet layer of Windows does it:
// a session carrying the user agent, an open URL with optional request
// headers, and reads of the body piece by piece. Closing happens when the
// objects are destroyed: the URL before its session.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/port.h"

namespace tide::platform {

class UrlHandle {
public:
    virtual ~UrlHandle() = default;
    // HTTP status code of the answer; 0 when the URL is not HTTP (file URL)
    // or the status cannot be read.
    virtual int StatusCode() = 0;
    // Reads up to count bytes of the body; 0 at the end of the body or when
    // the connection failed. May return fewer bytes than asked while more
    // are on their way.
    virtual size_t Read(void* buffer, size_t count) = 0;
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // Opens url, sending headers (a "Name: value" line, or empty for none)
    // with the request. The answer is never taken from or written to a
    // cache. nullptr when the URL cannot be opened.
    virtual std::unique_ptr<UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) = 0;
};

class Http {
public:
    virtual ~Http() = default;
    // A session identifying itself as agent; nullptr when none can be made.
    virtual std::unique_ptr<HttpSession> OpenSession(const std::wstring& agent) = 0;
};

inline Http& Internet() { return Port<Http>::Get(); }

}  // namespace tide::platform
