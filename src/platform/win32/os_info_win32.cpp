// System facts: version record, administrator check, computer name,
// temporary folder, error texts.
#include <windows.h>

#include <vector>

#include "platform/os_info.h"
#include "platform/win32/win32_util.h"

namespace tide::platform::win32 {
namespace {

class Win32OsInfo : public OsInfo {
public:
    bool QueryVersion(TOSVersionInfo& info) override {
        OSVERSIONINFOW v;
        ZeroMemory(&v, sizeof v);
        v.dwOSVersionInfoSize = info.dwOSVersionInfoSize;
        if (!GetVersionExW(&v)) return false;
        info.dwMajorVersion = v.dwMajorVersion;
        info.dwMinorVersion = v.dwMinorVersion;
        info.dwBuildNumber = v.dwBuildNumber;
        info.dwPlatformId = v.dwPlatformId;
        info.szCSDVersion.assign(v.szCSDVersion);
        return true;
    }

    bool TokenIsAdministrator() override {
        HANDLE token = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
            if (GetLastError() != ERROR_NO_TOKEN) return false;
            if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        }
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        BOOL member = FALSE;
        bool ok = false;
        if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                     0, &admins)) {
            // No explicit token: the calling thread's effective token, so a
            // group present but disabled (a filtered token) does not count.
            ok = CheckTokenMembership(nullptr, admins, &member) && member;
            FreeSid(admins);
        }
        CloseHandle(token);
        return ok;
    }

    std::wstring ComputerName(uint32_t bufferChars) override {
        std::vector<wchar_t> buf(bufferChars + 1, L'\0');
        DWORD n = bufferChars;
        if (!GetComputerNameW(buf.data(), &n)) return std::wstring();
        return std::wstring(buf.data(), n);
    }

    std::wstring TempPath() override {
        wchar_t buf[MAX_PATH + 2];
        DWORD n = GetTempPathW(MAX_PATH + 1, buf);
        if (n == 0 || n > MAX_PATH + 1) return std::wstring();
        return std::wstring(buf, n);
    }

    std::wstring SystemMessage(uint32_t code, uint32_t maxChars) override {
        return win32::SystemMessage(code, maxChars);
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
OsInfo& Port<OsInfo>::Default() {
    static win32::Win32OsInfo instance;
    return instance;
}
}  // namespace tide::platform
