// Stand-in of a Java runtime installer (the release's JRE and JREx64
// components). Opens no window. While it runs it keeps its own file open
// without sharing it for writing, so nobody can open the installer
// exclusively until it has finished; it creates a Java home whose
// bin\java.exe is a copy of this program, registers the runtime the way
// Java runtime installers do, in the registry view of its own bitness:
//
//   HKLM\Software\JavaSoft\Java Runtime Environment   CurrentVersion = VERSION
//   HKLM\Software\JavaSoft\Java Runtime Environment\VERSION   JavaHome = HOME
//
// and exits 0 (1 when something failed). Arguments, in any order; any other
// argument (/s, /quiet, ...) is accepted and ignored:
//   INSTALLDIR=DIR   the Java home (default %ProgramFiles%\Java\jre-standin)
//   VERSION=V        the version registered (default 1.8)
//   HOLD=S           seconds the installer runs and holds its file (default 3)
//
// Started under the name java.exe or javaw.exe (the copy in the Java home)
// it installs nothing: it appends its arguments to java.args beside itself
// and exits 0.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "record_args.h"

namespace {

const wchar_t kJreKey[] = L"Software\\JavaSoft\\Java Runtime Environment";

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix) {
    size_t n = std::wcslen(prefix);
    return s.size() >= n && _wcsnicmp(s.c_str(), prefix, n) == 0;
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring EnvOr(const wchar_t* name, const wchar_t* fallback) {
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring(fallback);
}

// Creates DIR and its missing parents.
bool MakeDirectories(const std::wstring& dir) {
    if (dir.empty()) return false;
    DWORD attr = GetFileAttributesW(dir.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES) return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t slash = dir.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 2) MakeDirectories(dir.substr(0, slash));
    return CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool Register(const std::wstring& version, const std::wstring& home) {
    // The view of this program's own bitness, said explicitly.
    const REGSAM view = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kJreKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = SetString(key, L"CurrentVersion", version);
    HKEY sub = nullptr;
    if (ok && RegCreateKeyExW(key, version.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &sub, nullptr) ==
                  ERROR_SUCCESS) {
        ok = SetString(sub, L"JavaHome", home);
        RegCloseKey(sub);
    } else {
        ok = false;
    }
    RegCloseKey(key);
    return ok;
}

int Install() {
    std::wstring home = EnvOr(L"ProgramFiles", L"C:\\Program Files") + L"\\Java\\jre-standin";
    std::wstring version = L"1.8";
    int holdMs = 3000;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring a = argv[i];
        if (StartsWithNoCase(a, L"INSTALLDIR=")) home = a.substr(11);
        else if (StartsWithNoCase(a, L"VERSION=")) version = a.substr(8);
        else if (StartsWithNoCase(a, L"HOLD=")) holdMs = _wtoi(a.c_str() + 5) * 1000;
    }
    if (argv) LocalFree(argv);
    while (home.size() > 3 && (home.back() == L'\\' || home.back() == L'/')) home.pop_back();

    DWORD started = GetTickCount();
    std::wstring own = standin::OwnPath();
    // Readers may share it; writers and exclusive opens fail until we exit.
    HANDLE self = CreateFileW(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Sleep(static_cast<DWORD>(holdMs / 2));

    bool ok = MakeDirectories(home + L"\\bin") &&
              CopyFileW(own.c_str(), (home + L"\\bin\\java.exe").c_str(), FALSE) &&
              Register(version, home);

    DWORD spent = GetTickCount() - started;
    if (holdMs > 0 && spent < static_cast<DWORD>(holdMs)) Sleep(static_cast<DWORD>(holdMs) - spent);
    if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
    return ok ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring name = FileNameOf(standin::OwnPath());
    if (_wcsicmp(name.c_str(), L"java.exe") == 0 || _wcsicmp(name.c_str(), L"javaw.exe") == 0)
        return standin::RecordArguments() ? 0 : 1;
    return Install();
}
