// Program entry: prepares the process, picks the mode from the first
// argument and hands over to the part of the program that does the work.
#pragma once

#include <functional>
#include <string>

namespace tide {

extern const wchar_t kApplicationTitle[];  // "Tidewell Downloader"

enum class Mode { Installer, Uninstall, DoUninstall, TestIni };

// Argument 1, lower-cased and compared as a whole.
Mode SelectMode(const std::wstring& argument1);

// The file version of the executable or library at path as four decimal
// numbers joined by "."; empty when it has no version resource.
std::wstring ExeVersionString(const std::wstring& path);

// "Tidewell Downloader V " followed by the running executable's version.
std::wstring AgentName();

// What each mode runs. The Windows entry and the tests fill these in; a mode
// left empty shows a notice that it is not available in this build.
struct ModeHandlers {
    std::function<void()> installer;
    std::function<void()> uninstall;
    std::function<void()> doUninstall;
    std::function<void()> testIni;
};

// Start-up steps after the framework is initialised: title, decimal
// separator, the proxy credentials of the command line, mode dispatch. Returns the process exit code (0; an error that
// escapes the mode is left to the caller).
int RunTidestart(const ModeHandlers& handlers);

}  // namespace tide
