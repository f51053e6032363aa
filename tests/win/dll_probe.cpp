// Control program of the DLL-planting test: an unprotected program that
// imports version.dll at load time and loads wininet.dll by name, the way
// a program without DLL-search hardening would. Planted DLLs beside it are
// loaded, which shows the test would notice a plant.
#include <windows.h>

#include <cstdio>

int wmain() {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(L"C:\\windows\\system32\\kernel32.dll", &handle);
    HMODULE inet = LoadLibraryW(L"wininet.dll");
    printf("version size %lu, wininet %s\n", static_cast<unsigned long>(size), inet ? "loaded" : "not loaded");
    return 0;
}
