// Shared by the stand-ins that only record how they were started (java.exe,
// tomcat7w.exe): one line per run, appended to NAME.args beside the
// program (bin\java.exe -> bin\java.args), holding the command line after
// the program's own name exactly as the program received it, in UTF-8.
#pragma once
#include <windows.h>

#include <string>

namespace standin {

// The program's own full path.
inline std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The command line after the program name (as CommandLineToArgvW skips it:
// a quoted first word ends at the next quote, else at the first blank).
inline std::wstring ArgumentsText() {
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

inline std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// Appends the arguments line to NAME.args beside the program. True when written.
inline bool RecordArguments() {
    std::wstring own = OwnPath();
    size_t dot = own.find_last_of(L'.');
    size_t slash = own.find_last_of(L"\\/");
    std::wstring record = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)
                               ? own.substr(0, dot) : own) + L".args";
    HANDLE f = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::string line = Utf8(ArgumentsText()) + "\r\n";
    DWORD written = 0;
    bool ok = WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    CloseHandle(f);
    return ok;
}

}  // namespace standin
