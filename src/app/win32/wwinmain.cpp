// Windows entry point of Tidestart.exe.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

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
