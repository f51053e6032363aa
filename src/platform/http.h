// Fetching a URL (web or file URL) as the internet layer of Windows does it:
// a session carrying the user agent, an open URL with optional request
// headers, and reads of the body piece by piece. Closing happens when the
// objects are destroyed: the URL before its session.
//
// A session can be aborted from any other thread: the open or read in
// progress on it returns at once as failed, and so does every later one.
// That is the only call that may come from another thread; everything else
// is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/port.h"

namespace tide::platform {

class UrlHandle {
public:
    virtual ~UrlHandle() = default;
    // HTTP status code of the answer; 0 when the URL is not HTTP (file URL)
    // or the status cannot be read. A ranged request that the server
    // honoured answers 206; any other answer carries the whole resource.
    virtual int StatusCode() = 0;
    // Reads up to count bytes of the body; 0 at the end of the body, when
    // the connection failed or when the session was aborted. Returns soon
    // after bytes arrive (at least one byte) rather than wait for count
    // bytes, so that a slow line still shows its progress.
    virtual size_t Read(void* buffer, size_t count) = 0;
};

// Why a URL could not be opened, where the reason is the server's identity
// over HTTPS: asking again cannot change the answer, and the user needs to
// be told which check failed. Anything else (no connection, a time-out) is
// Other.
enum class HttpFailure {
    None,
    Other,
    UnknownAuthority,   // the certificate's chain ends at no trusted root
    WrongHost,          // the certificate names another host
    CertificateDates,   // expired, or not yet valid
    Revoked,            // revoked by its issuer
    Unverified,         // its revocation could not be checked (Wine: also an unknown issuer)
    BadCertificate,     // invalid in another way, or several faults at once
    SecureChannel,      // no secure connection could be agreed
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // Opens url, sending headers (a "Name: value" line, or empty for none)
    // with the request. The answer is never taken from or written to a
    // cache. nullptr when the URL cannot be opened or the session was
    // aborted.
    // An https URL is only opened over a connection whose server
    // certificate holds (trusted issuer, this host name, in its dates);
    // certificate errors are never ignored.
    virtual std::unique_ptr<UrlHandle> OpenUrl(const std::wstring& url, const std::wstring& headers) = 0;
    // Why the last OpenUrl returned nullptr (None after one that succeeded).
    virtual HttpFailure LastFailure() = 0;
    // Callable from any thread, at any time, more than once: the open or
    // read in progress on this session (or its URL) returns at once as
    // failed, and every later one fails without touching the network. The
    // objects are still destroyed by their owner as usual.
    virtual void Abort() = 0;
};

// Bounds on how long the network may keep one call waiting.
struct HttpTimeouts {
    uint32_t connectMs;  // to reach the server
    uint32_t receiveMs;  // for each wait for the answer or more of its body
};

class Http {
public:
    virtual ~Http() = default;
    // A session identifying itself as agent; nullptr when none can be made.
    // It goes through the proxy of the system's settings, if any.
    virtual std::unique_ptr<HttpSession> OpenSession(const std::wstring& agent, const HttpTimeouts& timeouts) = 0;
    // The user name and password for a proxy that asks for them (407), in
    // every session opened afterwards; an empty user name sends none. They
    // are kept in memory only.
    virtual void SetProxyCredentials(const std::wstring& user, const std::wstring& password) = 0;
};

inline Http& Internet() { return Port<Http>::Get(); }

}  // namespace tide::platform
