// Helpers shared by the Windows adapters.
#pragma once

#include <windows.h>

#include <string>

namespace tide::platform::win32 {

// The system's message text for an error code (FormatMessageW, system table,
// default language), at most maxChars characters.
std::wstring SystemMessage(DWORD code, DWORD maxChars = 512);

// Loads a library from the system folder only, never from the folder of the
// executable or the current directory.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The window that owns message boxes (none until the main window exists).
void SetOwnerWindow(HWND hwnd);
HWND OwnerWindow();

// A look at each message before the message loops of the window thread
// dispatch it (the dialog keys of the main window); true when it has been
// handled and must not be dispatched.
using MessageFilter = bool (*)(MSG* msg);
void SetMessageFilter(MessageFilter filter);
bool FilterMessage(MSG* msg);

}  // namespace tide::platform::win32
