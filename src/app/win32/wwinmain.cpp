// Windows entry point of Tidestart.exe.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/program.h"

namespace {

// The installer is started from a Downloads folder, where other downloads
// may have left DLLs named like system ones: before anything else loads,
// restrict the DLL search to the system folder.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = k32 ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                reinterpret_cast<void*>(GetProcAddress(k32, "SetDefaultDllDirectories")))
                          : nullptr;
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace

// What runs when an exception escapes (std::terminate). GCC's own handler of
// this name says the same but names the exception's type, and for that
// links a C++ name demangler (about 50 KB, a twentieth of the program); the
// message says what() and the program ends as that one does.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    static bool once = false;
    if (!once) {
        once = true;
        if (std::current_exception()) {
            std::fputs("terminate called after throwing an exception\n", stderr);
            try {
                throw;
            } catch (const std::exception& e) {
                std::fputs("  what():  ", stderr);
                std::fputs(e.what(), stderr);
                std::fputs("\n", stderr);
            } catch (...) {
            }
        } else {
            std::fputs("terminate called without an active exception\n", stderr);
        }
    }
    std::abort();
}
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    // The shell's shortcut objects and the folder picker are COM objects,
    // used from this (the window) thread only.
    HRESULT com = CoInitialize(nullptr);
    int rc = tide::RunProgram();
    if (SUCCEEDED(com)) CoUninitialize();
    return rc;
}
