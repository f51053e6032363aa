// The application's install step and the upgrade migration with the real
// ports: UNZIP.EXE on the stand-in Tidewell archive, the settings store in
// Wine's registry, the completed winupdate.bat run by cmd.exe in a console
// of its own. Run by tests/wine/deploy.sh.
//
//   deploy_test.exe /i MANIFEST install INSTALL_DIR [OPTIONS]
//       InstallApplication
//   deploy_test.exe /i MANIFEST migrate INSTALL_DIR [OPTIONS]
//       RunUpgradeMigration alone (the new version already unpacked)
//
// MANIFEST is a file, copied as the downloader would fetch it. OPTIONS:
// version=V (the "Version" recorded before; none: a first installation),
// arch=A, port=P (the settings "Arch" and "Port" before), fail=NAME (the
// stand-in conversion script NAME fails), out=FILE (result lines also go
// there: under the dialog robot stdout is not passed on), boxes=real (show
// message boxes instead of printing them). INSTALL_DIR goes first on the
// PATH, for the stand-in java.exe there. Prints "key=value" lines; every
// setting is put back as it was.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/error.h"
#include "core/layout.h"
#include "core/local_file.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "install/app_deployment.h"
#include "install/upgrade_migration.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "platform/wow64.h"
#include "release_test_support.h"

using namespace tide;
using namespace tide::wintest;

namespace {

// The manifest comes from a file here.
class FileFetcher : public ManifestFetcher {
public:
    bool Fetch(const std::wstring& location, const std::wstring& localPath, std::string& accepted) override {
        if (!CopyFileW(location.c_str(), localPath.c_str(), FALSE)) return false;
        const auto bytes = ReadLocalFile(localPath);
        if (bytes) accepted = *bytes;
        return bytes.has_value();
    }
};

// Sets a setting for the run and puts it back as it was afterwards.
class SettingGuard {
public:
    SettingGuard(const wchar_t* name, const std::wstring& value) : name_(name), previous_(ReadSetting(name)) {
        Set(value);
    }
    ~SettingGuard() { Set(previous_); }

private:
    void Set(const std::wstring& value) {
        if (!value.empty()) {
            WriteSetting(name_, value);
            return;
        }
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.SetAccess(KEY_ALL_ACCESS);
        if (reg.OpenKey(kSettingsKey, false)) reg.DeleteValue(name_);
    }
    std::wstring name_, previous_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5 || std::wstring(argv[1]) != L"/i") {
        fwprintf(stderr, L"usage: deploy_test.exe /i MANIFEST install|migrate INSTALL_DIR [OPTIONS]\n");
        return 2;
    }
    std::map<std::wstring, std::wstring> opt;
    for (int i = 5; i < argc; ++i) {
        std::wstring a = argv[i];
        size_t eq = a.find(L'=');
        opt[a.substr(0, eq)] = eq == std::wstring::npos ? L"" : a.substr(eq + 1);
    }
    ResultFile out(opt[L"out"]);
    auto put = [&](const std::wstring& k, const std::wstring& v) { out.Line(k + L"=" + v); };

    const std::wstring dir = AddTrailingBackslash(argv[4]);
    SetEnvironmentVariableW(L"PATH", (dir + L";" + EnvVar(L"PATH")).c_str());
    if (!opt[L"fail"].empty()) SetEnvironmentVariableW(L"TW_STANDIN_FAIL", opt[L"fail"].c_str());
    FileFetcher fetcher;
    SetManifestFetcher(&fetcher);
    CollectedBoxes printed;
    Wow64ProductProbes probes;
    platform::ScopedPort<platform::Wow64Probes> probePort(probes);
    std::unique_ptr<platform::ScopedPort<platform::MessageBoxes>> boxPort;
    if (opt[L"boxes"] != L"real") boxPort = std::make_unique<platform::ScopedPort<platform::MessageBoxes>>(printed);

    int rc = 0;
    {
        AppPathGuard appPath(dir);
        SettingGuard version(L"Version", opt[L"version"]), arch(L"Arch", opt[L"arch"]), port(L"Port", opt[L"port"]);
        platform::RecordingStatusLine sb;
        try {
            const std::wstring mode = argv[3];
            if (mode == L"install") {
                put(L"installed", InstallApplication(&sb) ? L"1" : L"0");
            } else if (mode == L"migrate") {
                put(L"migrated", RunUpgradeMigration() ? L"1" : L"0");
            } else {
                rc = 2;
            }
        } catch (const Error& e) {
            put(L"error", e.Message());
            rc = 1;
        }
        for (const auto& t : sb.Texts()) put(L"status-line", t);
        put(L"version-after", ReadSetting(L"Version"));
        put(L"arch-after", ReadSetting(L"Arch"));
    }
    for (const auto& l : printed.lines) out.Line(l);
    return rc;
}
