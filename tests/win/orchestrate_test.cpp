// One installation with the real steps and ports, driven as the main window
// drives it, without a window: a stand-in of the window records what the
// installation does to it, and this program's loop plays its two timers
// (dlTimer every 500 ms, tmrStartTomcat every 1000 ms). Run by
// tests/wine/orchestrate.sh.
//
//   orchestrate_test.exe /i MANIFEST_URL INSTALL_PATH
//
// Prints "key=value" lines: every stage with the milliseconds since the
// Install click, the window's journal, the status texts, message boxes
// ("box=CAPTION|TEXT|ICON", printed, not shown) and the settings the run
// left.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "../unit/fake_install_window.h"
#include "base/error.h"
#include "base/text.h"
#include "core/settings.h"
#include "download/manifest_download.h"
#include "install/install_orchestration.h"
#include "platform/message_box.h"
#include "platform/wow64.h"
#include "system/VariousTests.h"

using namespace tide;

namespace {

void Put(const std::wstring& key, const std::wstring& value) {
    std::printf("%ls=%ls\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

const wchar_t* IconName(platform::MbIcon icon) {
    switch (icon) {
        case platform::MbIcon::Warning: return L"warning";
        case platform::MbIcon::Information: return L"information";
        case platform::MbIcon::Error: return L"error";
        case platform::MbIcon::Stop: return L"stop";
        default: return L"none";
    }
}

class PrintedBoxes : public platform::MessageBoxes {
public:
    int Show(const std::wstring& text, const std::wstring& caption, platform::MbButtons, platform::MbIcon icon) override {
        std::lock_guard<std::mutex> lock(mu_);
        std::wstring flat = text;
        for (auto& c : flat)
            if (c == L'\n') c = L' ';
        Put(L"box", caption + L"|" + flat + L"|" + IconName(icon));
        return platform::kIdOk;
    }

private:
    std::mutex mu_;
};

// This x86_64 program stands in for the 32-bit installer under WOW64.
class ProductProbes : public platform::Wow64Probes {
public:
    Wow64 IsWow64Process() override { return Wow64::Yes; }
    uint16_t NativeProcessorArchitecture() override {
        SYSTEM_INFO si{};
        GetNativeSystemInfo(&si);
        return si.wProcessorArchitecture;
    }
};

const wchar_t* const kStageNames[] = {L"", L"Analyzing System", L"Downloading Files", L"Unpacking Files",
                                      L"Configuring System", L"Starting System"};

class TimedWindow : public testing::FakeInstallWindow {
public:
    TimedWindow(testing::Journal& j, const std::wstring& path) : FakeInstallWindow(j, path), start_(GetTickCount64()) {}
    void SetStage(InstallStage bold) override {
        FakeInstallWindow::SetStage(bold);
        Put(L"stage", IntToStr(static_cast<int>(bold)) + L" " + kStageNames[static_cast<int>(bold)] + L" at " +
                          IntToStr(static_cast<int64_t>(GetTickCount64() - start_)) + L" ms");
    }
    void* OwnerHandle() override { return nullptr; }  // no window here
    uint64_t Elapsed() const { return GetTickCount64() - start_; }

private:
    uint64_t start_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || std::wstring(argv[1]) != L"/i") {
        fwprintf(stderr, L"usage: orchestrate_test.exe /i MANIFEST_URL INSTALL_PATH\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the shell's objects of the shortcuts
    SetManifestFetcher(&ManifestDownload());
    PrintedBoxes boxes;
    ProductProbes probes;
    platform::ScopedPort<platform::MessageBoxes> boxPort(boxes);
    platform::ScopedPort<platform::Wow64Probes> probePort(probes);

    testing::Journal journal;
    TimedWindow w(journal, argv[3]);
    int rc = 0;
    try {
        cbInstallClick(w);
        // dlTimer: the first poll 500 ms after the start; bounded at 10 min.
        for (int tick = 0; w.dlTimer && tick < 1200; ++tick) {
            Sleep(500);
            dlTimerTimer(w);
        }
        if (w.dlTimer) Put(L"error", L"the download did not end");
        Put(L"install-phase-done", IntToStr(static_cast<int64_t>(w.Elapsed())) + L" ms");
        for (int tick = 0; w.startTimer && tick < 20; ++tick) {
            Sleep(1000);
            tmrStartTomcatTimer(w);
        }
        Put(L"countdown-done", IntToStr(static_cast<int64_t>(w.Elapsed())) + L" ms");
    } catch (const Error& e) {
        Put(L"error", e.Message());
        rc = 1;
    }
    for (const auto& e : journal.Entries()) Put(L"event", e);
    for (const auto& t : w.sb.Texts()) Put(L"status-line", t);
    Put(L"components", [&] {
        std::wstring s;
        for (const auto& c : w.slComponents) s += (s.empty() ? L"" : L",") + c;
        return s;
    }());
    Put(L"closed", w.closed ? L"1" : L"0");
    Put(L"uninstall-enabled", w.uninstallEnabled ? L"1" : L"0");
    for (const wchar_t* name : {L"AppPath", L"Port", L"Version", L"Arch", L"ServiceInstalled", L"ShortcutsOffered"})
        Put(std::wstring(L"setting-") + name, ReadSetting(name));
    Put(L"url", ServerURL());
    CoUninitialize();
    return rc;
}
