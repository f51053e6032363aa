// The server's install steps with the real ports: the settings store and
// the Java keys in Wine's registry, UNZIP.EXE on the stand-in archives, the
// port probes against real listeners, ShellExecuteW starting the stand-in
// runtime installer. Run by tests/wine/install_server.sh.
//
//   install_server_test.exe /i MANIFEST_URL ports INSTALL_DIR
//       ConfigureServerBase
//   install_server_test.exe /i MANIFEST_URL java INSTALL_DIR
//       JreCheck, InstallJre("JREx64") and the wait for the runtime, then
//       ConfigureServerBase and InstallTomcat("TOMCATx64")
//
// The components lie in INSTALL_DIR as the downloader leaves them. Prints
// "key=value" lines; message boxes are printed ("box=CAPTION|TEXT"), not
// shown. The "Port" setting is put back as it was.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "core/InstallInfo.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/process_arch.h"
#include "core/settings.h"
#include "download/manifest_download.h"
#include "install/java_runtime.h"
#include "install/tomcat_setup.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "platform/wow64.h"
#include "release_test_support.h"
#include "system/VariousTests.h"

using namespace tide;
using namespace tide::wintest;

namespace {

// Puts a setting back as it was (removed when it had none).
class SettingGuard {
public:
    explicit SettingGuard(const wchar_t* name) : name_(name), previous_(ReadSetting(name)) {}
    ~SettingGuard() {
        if (!previous_.empty()) {
            WriteSetting(name_, previous_);
            return;
        }
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_ALL_ACCESS);
        if (reg.OpenKey(kSettingsKey, false)) reg.DeleteValue(name_);
    }

private:
    std::wstring name_, previous_;
};

ResultFile out(L"");
void Put(const std::wstring& key, const std::wstring& value) { out.Line(key + L"=" + value); }
void Put(const std::wstring& key, bool value) { Put(key, std::wstring(value ? L"1" : L"0")); }
void Put(const std::wstring& key, int value) { Put(key, IntToStr(value)); }

void ConfigureBase(platform::RecordingStatusLine& sb) {
    Put(L"configured", ConfigureServerBase(&sb));
    Put(L"port-setting", ReadSetting(L"Port"));
    Put(L"native-arch", NativeArchString());
}

void JavaAndTomcat(platform::RecordingStatusLine& sb) {
    Put(L"jre-before", JreCheck(true));
    Put(L"install-jre", InstallJre(&sb, L"JREx64"));
    Put(L"status", sb.Last());
    Put(L"jre-at-launch", JreCheck(true));
    // As the installation waits for the runtime: every 500 ms, bounded here.
    std::wstring seen = IntToStr(JreCheck(true));
    int last = StrToInt(seen);
    for (int i = 0; i < 60 && last == kJreNotFound; ++i) {
        Sleep(500);
        int now = JreCheck(true);
        if (now != last) seen += L"," + IntToStr(now);
        last = now;
    }
    Put(L"jre-seen", seen);
    Put(L"installer-released", WaitForFileRelease(ComponentFilePath(L"JREx64"), 30000));
    Put(L"jre-after", JreCheck(true));
    Put(L"dest-arch", GetInstallInfo().DestinationArchString());
    Put(L"java-home", FindJavaHome());
    ConfigureBase(sb);
    Put(L"install-tomcat", InstallTomcat(&sb, L"TOMCATx64"));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5 || std::wstring(argv[1]) != L"/i") {
        fwprintf(stderr, L"usage: install_server_test.exe /i MANIFEST_URL ports|java INSTALL_DIR\n");
        return 2;
    }
    SetManifestFetcher(&ManifestDownload());
    CollectedBoxes boxes;
    Wow64ProductProbes probes;
    platform::ScopedPort<platform::MessageBoxes> boxPort(boxes);
    platform::ScopedPort<platform::Wow64Probes> probePort(probes);
    const std::wstring mode = argv[3];
    int rc = 0;
    {
        AppPathGuard appPath(argv[4]);
        SettingGuard port(L"Port");
        platform::RecordingStatusLine sb;
        try {
            if (mode == L"ports") ConfigureBase(sb);
            else if (mode == L"java") JavaAndTomcat(sb);
            else rc = 2;
        } catch (const Error& e) {
            Put(L"error", e.Message());
            rc = 1;
        }
        for (const auto& t : sb.Texts()) Put(L"status-line", t);
    }
    for (const auto& l : boxes.lines) out.Line(l);
    return rc;
}
