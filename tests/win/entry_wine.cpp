// The program's quit requests and its last handler with the real ports.
// Run by tests/wine/entry.sh.
//
//   entry_wine.exe quit-from-thread   a second thread requests the quit; the
//                                     main message loop must end by it
//   entry_wine.exe held-quit          the same while a box ("Held", Yes and
//                                     No) is up: the box stays until it is
//                                     answered, then the loop ends (run it
//                                     under the robot, answering No)
//   entry_wine.exe throw-in-mode      RunModes with a mode that raises
//   entry_wine.exe throw-in-timer     RunModes with a mode whose timer
//                                     handler raises inside the message loop
//
// The first two print one result line per case (report.h) and exit with the
// number of failures; the last two end as the program would.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/program.h"
#include "base/error.h"
#include "core/manifest.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "report.h"

using namespace tide;

namespace {

std::atomic<bool> gTimedOut{false};

void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
    gTimedOut = true;
    PostQuitMessage(0);
}

// Runs the main message loop, ended after 5 s by a watchdog on this thread.
// True when the quit request ended it.
bool LoopEndsByQuitRequest() {
    UINT_PTR watchdog = SetTimer(nullptr, 0, 5000, Watchdog);
    platform::Env().RunMessageLoop();
    KillTimer(nullptr, watchdog);
    return !gTimedOut;
}

int QuitFromThread() {
    std::thread([] { platform::Env().RequestQuit(); }).join();
    Report("a quit requested by a second thread ends the main message loop", LoopEndsByQuitRequest());
    return gFailures;
}

int HeldQuit() {
    std::atomic<bool> requestedWhileUp{false};
    std::thread other([&] {
        for (int i = 0; i < 400 && !FindWindowW(L"#32770", L"Held"); ++i) Sleep(25);
        requestedWhileUp = FindWindowW(L"#32770", L"Held") != nullptr;
        platform::Env().RequestQuit();
    });
    int answer = platform::ShowMessage(L"A quit is requested while this box is up.", L"Held", platform::MbIcon::None,
                                       platform::MbButtons::YesNo);
    other.join();
    Report("the quit was requested while the box was up", requestedWhileUp);
    Report("the box stayed until it was answered", answer == platform::kIdNo,
           L"Show returned " + std::to_wstring(answer));
    Report("the held quit then ends the main message loop", LoopEndsByQuitRequest());
    return gFailures;
}

void CALLBACK FailingTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    platform::RunHandler([] { throw ManifestError(L"FILE_SIZE of section [TW] is not a number."); });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"quit-from-thread") return QuitFromThread();
    if (what == L"held-quit") return HeldQuit();
    ModeHandlers h;
    if (what == L"throw-in-mode") {
        h.installer = [] { throw IoError(L"Cannot write Z:\\Tidewell\\downloader.ini"); };
    } else if (what == L"throw-in-timer") {
        h.installer = [] {
            SetTimer(nullptr, 0, 50, FailingTimer);
            platform::Env().RunMessageLoop();
        };
    } else {
        return 64;
    }
    return RunModes(h);
}
