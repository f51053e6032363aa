// Self-update and the uninstall entry with every real port (WinInet, the
// shell, files, the registry, message boxes). Run by tests/wine/self_update.sh.
// Built twice: as self_update_test.exe with the product's version resource
// and as self_update_next.exe with a higher one, the "newer installer" that
// a test release announces.
//
//   self_update_test.exe version          prints its own file version
//   self_update_test.exe run /i URL DIR   AppPath := DIR, SelfUpdateAndRegister
//   (started by the updater)              a "Started" box; the result file
//                                         names the arguments it was given
//
// Result lines go to stdout and to the file TIDETEST_OUT (the robot does
// not pass output on).
#include <windows.h>

#include "base/command_line.h"
#include "base/error.h"
#include "core/Tidestart.h"
#include "download/manifest_download.h"
#include "install/self_update.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "release_test_support.h"

using namespace tide;
using namespace tide::wintest;

int wmain(int argc, wchar_t** argv) {
    SetManifestFetcher(&ManifestDownload());
    ResultFile out(EnvVar(L"TIDETEST_OUT"));
    const std::wstring self = platform::Env().ExecutablePath();
    const std::wstring version = ExeVersionString(self);
    if (argc == 2 && std::wstring(argv[1]) == L"version") {
        out.Line(version);
        return 0;
    }
    // The updater passes its own arguments on; the variable, inherited
    // from the run below, tells the started copy that it is the new one.
    if (!EnvVar(L"TIDETEST_STARTED_BY_UPDATE").empty()) {
        out.Line(L"started: " + self + L" version " + version);
        out.Line(L"arguments: " + CommandLineArguments(GetCommandLineW()));
        platform::ShowMessage(L"version " + version, L"Started");
        return 0;
    }
    if (argc != 5 || std::wstring(argv[1]) != L"run") {
        out.Line(L"usage: self_update_test.exe [version | run /i URL DIR]");
        return 2;
    }
    AppPathGuard guard(argv[4]);
    SetEnvironmentVariableW(L"TIDETEST_STARTED_BY_UPDATE", L"1");
    out.Line(L"self=" + self);
    out.Line(L"version=" + version);
    out.Line(L"temp=" + TempDirectory());
    try {
        bool goOn = SelfUpdateAndRegister();
        out.Line(std::wstring(L"result=") + (goOn ? L"true" : L"false"));
    } catch (const Error& e) {
        out.Line(L"error=" + e.Message());
    }
    out.Line(std::wstring(L"quit=") + (platform::Env().QuitRequested() ? L"yes" : L"no"));
    return 0;
}
