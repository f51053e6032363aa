// GetFullPathNameW, GetLongPathNameW, SHGetFolderPathW, CoCreateGuid,
// SetNamedSecurityInfoW.
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "platform/paths.h"

namespace tide::platform::win32 {
namespace {

// Asks twice: once for the length, once for the text.
template <class Call>
std::wstring Sized(Call call) {
    DWORD n = call(nullptr, 0);
    if (n == 0) return std::wstring();
    std::vector<wchar_t> buf(n + 1);
    DWORD got = call(buf.data(), n + 1);
    if (got == 0 || got > n) return std::wstring();
    return std::wstring(buf.data(), got);
}

class Win32Paths : public Paths {
public:
    std::wstring FullPath(const std::wstring& path) override {
        return Sized([&](wchar_t* b, DWORD n) { return GetFullPathNameW(path.c_str(), n, b, nullptr); });
    }
    std::wstring LongPath(const std::wstring& path) override {
        return Sized([&](wchar_t* b, DWORD n) { return GetLongPathNameW(path.c_str(), b, n); });
    }
    std::wstring KnownFolder(int csidl) override {
        wchar_t path[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
        return path;
    }
    std::wstring NewIdentity() override {
        GUID g;
        if (FAILED(CoCreateGuid(&g))) return std::wstring();
        wchar_t text[64] = {};
        return StringFromGUID2(g, text, 64) ? std::wstring(text) : std::wstring();
    }
    bool ProtectFolder(const std::wstring& path) override {
        BYTE sids[3][SECURITY_MAX_SID_SIZE];
        const WELL_KNOWN_SID_TYPE types[3] = {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinBuiltinUsersSid};
        // Full control, and read and execute, as the security dialog sets them.
        const DWORD rights[3] = {FILE_ALL_ACCESS, FILE_ALL_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE};
        EXPLICIT_ACCESSW ea[3] = {};
        for (int i = 0; i < 3; ++i) {
            DWORD size = SECURITY_MAX_SID_SIZE;
            if (!CreateWellKnownSid(types[i], nullptr, sids[i], &size)) return false;
            ea[i].grfAccessPermissions = rights[i];
            ea[i].grfAccessMode = SET_ACCESS;
            ea[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
            ea[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
            ea[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
            ea[i].Trustee.ptstrName = reinterpret_cast<LPWSTR>(sids[i]);
        }
        PACL acl = nullptr;
        if (SetEntriesInAclW(3, ea, nullptr, &acl) != ERROR_SUCCESS) return false;
        std::wstring name = path;
        const DWORD rc = SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, acl, nullptr);
        LocalFree(acl);
        return rc == ERROR_SUCCESS;
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
Paths& Port<Paths>::Default() {
    static win32::Win32Paths instance;
    return instance;
}
}  // namespace tide::platform
