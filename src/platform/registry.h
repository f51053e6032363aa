// The Windows registry: keys, string and integer values, the 32-bit and
// 64-bit views. The calls mirror the Win32 registry functions one to one
// (results are Windows error codes, 0 = success); the logic on top of them
// lives in core/ArchAwareRegistry.
//
// Root keys, access masks and value types carry their Windows names and
// values on every platform. A Windows file that also includes <windows.h>
// must include it first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/port.h"

// Same declaration as <windows.h> (a redeclared typedef of the same type is
// allowed), so both headers can meet in one file.
struct HKEY__;
typedef struct HKEY__* HKEY;

#ifndef HKEY_LOCAL_MACHINE
#define HKEY_CLASSES_ROOT ((HKEY)(intptr_t)(int32_t)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(intptr_t)(int32_t)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(intptr_t)(int32_t)0x80000002)
#define HKEY_USERS ((HKEY)(intptr_t)(int32_t)0x80000003)
#endif
#ifndef KEY_READ
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#endif
#ifndef REG_SZ
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#endif

// Calling convention of the system's exported functions.
#if defined(_WIN32) && !defined(_WIN64)
#define TIDE_WINAPI __stdcall
#else
#define TIDE_WINAPI
#endif

namespace tide::platform {

// Signature of RegDeleteKeyExW (advapi32, Windows XP x64 / Vista and later).
typedef long(TIDE_WINAPI* TRegDeleteKeyEx)(HKEY hKey, const wchar_t* lpSubKey, uint32_t samDesired,
                                           uint32_t reserved);

// Windows error codes the registry functions return.
enum : long {
    kRegOk = 0,
    kRegFileNotFound = 2,
    kRegAccessDenied = 5,
    kRegInvalidHandle = 6,
    kRegInvalidParameter = 87,
    kRegMoreData = 234,
    kRegNoMoreItems = 259,
    kRegKeyDeleted = 1018,
};

struct RegKeyInfo {
    uint32_t numSubKeys = 0;
    uint32_t maxSubKeyLen = 0;  // characters, without the terminating zero
    uint32_t numValues = 0;
    uint32_t maxValueLen = 0;
    uint32_t maxDataLen = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // RegOpenKeyExW / RegCreateKeyExW with the access mask sam (which also
    // selects the view: KEY_WOW64_64KEY, KEY_WOW64_32KEY).
    virtual long OpenKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) = 0;
    virtual long CreateKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) = 0;
    virtual long CloseKey(HKEY key) = 0;
    // RegQueryValueExW: type and raw bytes of a value (data may be nullptr
    // to ask for the type only).
    virtual long QueryValue(HKEY key, const std::wstring& name, uint32_t* type, std::vector<uint8_t>* data) = 0;
    virtual long SetValue(HKEY key, const std::wstring& name, uint32_t type, const void* data, uint32_t size) = 0;
    virtual long DeleteValue(HKEY key, const std::wstring& name) = 0;
    // RegDeleteKeyW: the key must have no subkeys; the view is the process's.
    virtual long DeleteKey(HKEY parent, const std::wstring& subKey) = 0;
    // RegEnumKeyExW with a name buffer of bufferChars characters (including
    // the terminating zero); kRegMoreData when the name does not fit.
    virtual long EnumKey(HKEY key, uint32_t index, uint32_t bufferChars, std::wstring* name) = 0;
    // RegEnumValueW, the name only.
    virtual long EnumValue(HKEY key, uint32_t index, std::wstring* name) = 0;
    virtual long QueryInfoKey(HKEY key, RegKeyInfo* info) = 0;

    // Run-time lookup of RegDeleteKeyExW: loads "AdvAPI32.dll" from the
    // system folder (nullptr when it cannot be loaded) and finds the export
    // (nullptr when this Windows does not have it).
    virtual void* LoadAdvApi32() = 0;
    virtual TRegDeleteKeyEx FindRegDeleteKeyEx(void* library) = 0;
    virtual void FreeLibrary(void* library) = 0;
};

inline Registry& Reg() { return Port<Registry>::Get(); }

}  // namespace tide::platform

// A list of strings, each ended by a zero, the list ended by one more zero.
#ifndef REG_MULTI_SZ
#define REG_MULTI_SZ 7
#endif
