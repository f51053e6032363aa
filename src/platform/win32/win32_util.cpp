#include "platform/win32/win32_util.h"

#include <atomic>
#include <vector>

namespace tide::platform::win32 {

namespace {
std::atomic<HWND> gOwner{nullptr};
std::atomic<MessageFilter> gFilter{nullptr};
}

std::wstring SystemMessage(DWORD code, DWORD maxChars) {
    std::vector<wchar_t> buf(maxChars + 1, L'\0');
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf.data(), maxChars, nullptr);
    return std::wstring(buf.data(), n);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 exists from Windows 7 with KB2533623 on;
    // without it, build the full path of the system folder ourselves.
    HMODULE h = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (h) return h;
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring full = std::wstring(dir, n) + L"\\" + name;
    return LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void SetOwnerWindow(HWND hwnd) { gOwner = hwnd; }
HWND OwnerWindow() { return gOwner; }

void SetMessageFilter(MessageFilter filter) { gFilter = filter; }
bool FilterMessage(MSG* msg) {
    MessageFilter f = gFilter;
    return f && f(msg);
}

}  // namespace tide::platform::win32
