// The registry and the WOW64 probes on Windows: thin calls of the Win32
// functions.
#include <windows.h>

#include <vector>

#include "platform/registry.h"
#include "platform/win32/win32_util.h"
#include "platform/wow64.h"

namespace tide::platform::win32 {
namespace {

class Win32Registry : public Registry {
public:
    long OpenKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) override {
        return RegOpenKeyExW(parent, subKey.c_str(), 0, sam, result);
    }
    long CreateKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) override {
        DWORD disposition = 0;
        return RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, result,
                               &disposition);
    }
    long CloseKey(HKEY key) override { return RegCloseKey(key); }
    long QueryValue(HKEY key, const std::wstring& name, uint32_t* type, std::vector<uint8_t>* data) override {
        for (int tries = 0; tries < 4; ++tries) {
            DWORD t = 0, size = 0;
            LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &t, nullptr, &size);
            if (rc != ERROR_SUCCESS) return rc;
            if (type) *type = t;
            if (!data) return ERROR_SUCCESS;
            data->assign(size, 0);
            rc = RegQueryValueExW(key, name.c_str(), nullptr, &t, data->empty() ? nullptr : data->data(), &size);
            if (rc == ERROR_MORE_DATA) continue;  // grew in between
            if (rc != ERROR_SUCCESS) return rc;
            data->resize(size);
            if (type) *type = t;
            return ERROR_SUCCESS;
        }
        return ERROR_MORE_DATA;
    }
    long SetValue(HKEY key, const std::wstring& name, uint32_t type, const void* data, uint32_t size) override {
        return RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    }
    long DeleteValue(HKEY key, const std::wstring& name) override { return RegDeleteValueW(key, name.c_str()); }
    long DeleteKey(HKEY parent, const std::wstring& subKey) override { return RegDeleteKeyW(parent, subKey.c_str()); }
    long EnumKey(HKEY key, uint32_t index, uint32_t bufferChars, std::wstring* name) override {
        std::vector<wchar_t> buf(bufferChars + 1, L'\0');
        DWORD len = bufferChars;
        LONG rc = RegEnumKeyExW(key, index, buf.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) name->assign(buf.data(), len);
        return rc;
    }
    long EnumValue(HKEY key, uint32_t index, std::wstring* name) override {
        std::vector<wchar_t> buf(16384, L'\0');
        DWORD len = static_cast<DWORD>(buf.size());
        LONG rc = RegEnumValueW(key, index, buf.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) name->assign(buf.data(), len);
        return rc;
    }
    long QueryInfoKey(HKEY key, RegKeyInfo* info) override {
        DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueLen = 0, maxDataLen = 0;
        LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKeyLen, nullptr, &values,
                                   &maxValueLen, &maxDataLen, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            info->numSubKeys = subKeys;
            info->maxSubKeyLen = maxSubKeyLen;
            info->numValues = values;
            info->maxValueLen = maxValueLen;
            info->maxDataLen = maxDataLen;
        }
        return rc;
    }
    void* LoadAdvApi32() override { return LoadSystemLibrary(L"AdvAPI32.dll"); }
    TRegDeleteKeyEx FindRegDeleteKeyEx(void* library) override {
        if (!library) return nullptr;
        return reinterpret_cast<TRegDeleteKeyEx>(
            reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), "RegDeleteKeyExW")));
    }
    void FreeLibrary(void* library) override {
        if (library) ::FreeLibrary(static_cast<HMODULE>(library));
    }
};

class Win32Wow64Probes : public Wow64Probes {
public:
    Wow64 IsWow64Process() override {
        typedef BOOL(WINAPI * Fn)(HANDLE, PBOOL);
        HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
        Fn fn = k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k32, "IsWow64Process"))) : nullptr;
        if (!fn) return Wow64::NoFunction;
        BOOL flag = FALSE;
        if (!fn(GetCurrentProcess(), &flag)) return Wow64::CallFailed;
        return flag ? Wow64::Yes : Wow64::No;
    }
    uint16_t NativeProcessorArchitecture() override {
        typedef void(WINAPI * Fn)(LPSYSTEM_INFO);
        HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
        Fn fn = k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k32, "GetNativeSystemInfo")))
                    : nullptr;
        SYSTEM_INFO si{};
        if (fn) fn(&si);
        else GetSystemInfo(&si);
        return si.wProcessorArchitecture;
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
Registry& Port<Registry>::Default() {
    static win32::Win32Registry instance;
    return instance;
}
template <>
Wow64Probes& Port<Wow64Probes>::Default() {
    static win32::Win32Wow64Probes instance;
    return instance;
}
}  // namespace tide::platform
