// Facts about the running system: version record, administrator check,
// computer name, temporary folder, the system's text for an error code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

namespace tide::platform {

constexpr uint32_t kVerPlatformWin32NT = 2;
// A time limit that means none (INFINITE).
constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// The fields of the OSVERSIONINFOW record.
struct TOSVersionInfo {
    uint32_t dwOSVersionInfoSize = 0;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    std::wstring szCSDVersion;  // service-pack text, at most 127 characters
};

class OsInfo {
public:
    virtual ~OsInfo() = default;
    // GetVersionExW into info (whose size field the caller has set); on
    // failure info is left as it was and false is returned.
    virtual bool QueryVersion(TOSVersionInfo& info) = 0;
    // Whether the built-in Administrators group is enabled in the calling
    // thread's effective token. False when no token can be opened (thread
    // token, else process token) or the membership check fails.
    virtual bool TokenIsAdministrator() = 0;
    // GetComputerNameW with a buffer of bufferChars characters, cut to the
    // length the call returns; empty text when the call fails.
    virtual std::wstring ComputerName(uint32_t bufferChars) = 0;
    // GetTempPathW: the temporary folder, ending in "\".
    virtual std::wstring TempPath() = 0;
    // The system's message text for an error code (FormatMessageW, system
    // table, default language), at most maxChars characters.
    virtual std::wstring SystemMessage(uint32_t code, uint32_t maxChars) = 0;
};

inline OsInfo& Os() { return Port<OsInfo>::Get(); }

}  // namespace tide::platform
