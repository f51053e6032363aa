#include "install/app_deployment.h"

#include <string>
#include <vector>

#include "core/InstallInfo.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "install/upgrade_migration.h"
#include "platform/files.h"
#include "system/CommandRunner.h"
#include "system/VariousTests.h"

namespace tide {
namespace {

void Show(TStatusBar* sb, const wchar_t* text) {
    if (sb) sb->SetText(text);
}

std::wstring ContextDir() { return ServerBaseDir(true) + L"conf\\Catalina\\localhost\\"; }

}  // namespace

bool InstallApplication(TStatusBar* sb) {
    Show(sb, L"Installing Tidewell");
    if (!UnzipArchive(ComponentFilePath(L"TW"), InstallDirectory(), sb)) {
        Show(sb, L"Install of Tidewell Failed.");
        return false;
    }
    // The record describes the machine as it was before this run wrote
    // anything; built only now, it would already see the new "Version".
    const std::wstring arch = GetInstallInfo().DestinationArchString();
    CreateDirectoryTree(AttachmentDir());
    WriteAppConfiguration();
    WriteContextFile();
    RunUpgradeMigration();
    WriteSetting(L"Version", ManifestValue(L"TW", L"FILE_VERSION"));
    WriteSetting(L"Arch", arch);
    Show(sb, L"Installation of Tidewell Completed");
    return true;
}

void WriteAppConfiguration() {
    const std::wstring appDir = VersionedAppDir();
    const std::wstring previous = ReadSetting(L"Version");
    std::wstring source = appDir + L"WEB-INF\\configuration.default";
    bool takenOver = false;
    if (!previous.empty()) {
        const std::wstring previousConfig = InstalledVersionDir(previous) + L"\\WEB-INF\\configuration.properties";
        // A re-installation of the recorded version keeps the configuration
        // its folder holds: rebuilding it from the template would throw away
        // the administrator's database settings.
        const bool exists = platform::Files().FileExists(previousConfig);
        if (exists) source = previousConfig;
        takenOver = previous != ManifestValue(L"TW", L"FILE_VERSION") || exists;
    }
    std::vector<std::wstring> lines = ReadTextLines(source);
    lines.push_back(L"EnableAttachments=yes");
    lines.push_back(L"AttachmentDirectory=" + EscapePropertyValue(AttachmentDir()));
    if (!takenOver) lines.push_back(L"URLBase=" + EscapePropertyValue(ServerURL()));
    WriteTextLines(appDir + L"WEB-INF\\configuration.properties", lines);
}

void WriteContextFile() {
    const std::wstring dir = ContextDir();
    platform::Files().RemoveFile(dir + L"tidewell.xml");
    std::wstring appDir = VersionedAppDir();
    appDir.pop_back();
    std::wstring docBase;
    for (wchar_t c : appDir) {
        docBase += c;
        if (c == L'\\') docBase += c;
    }
    WriteTextLines(dir + L"calendar.xml", {L"<Context docBase=\"" + docBase + L"\" reloadable=\"false\">", L"</Context>"});
}

}  // namespace tide
