/* A DLL planted beside an executable by the DLL-planting test, under the
   names of DLLs the program loads. If any process loads it, DllMain leaves
   a marker file "<name>.loaded" beside the DLL holding the path of the
   executable, which the test looks for. It exports GetFileVersionInfoSizeW
   (answering 0) so a program that imports it from version.dll can still
   start: the test's control program does, to show the plant is noticed. */
#include <windows.h>

static void LeaveMarker(HINSTANCE self) {
    wchar_t dll[MAX_PATH], exe[MAX_PATH], marker[MAX_PATH + 16];
    DWORD n = GetModuleFileNameW(self, dll, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    GetModuleFileNameW(NULL, exe, MAX_PATH);
    wsprintfW(marker, L"%s.loaded", dll);
    HANDLE h = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    WriteFile(h, exe, (DWORD)(lstrlenW(exe) * sizeof(wchar_t)), &put, NULL);
    CloseHandle(h);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
    return TRUE;
}

DWORD WINAPI PlantedVersionInfoSize(LPCWSTR path, LPDWORD handle) {
    (void)path;
    if (handle) *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}
