#include "install/app_deployment.h"

#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "core/InstallInfo.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "install/upgrade_migration.h"
#include "platform/files.h"
#include "platform/shell_files.h"
#include "system/CommandRunner.h"
#include "system/VariousTests.h"

namespace tide {
namespace {

void Show(TStatusBar* sb, const wchar_t* text) {
    if (sb) sb->SetText(text);
}

std::wstring ContextDir() { return ServerBaseDir(true) + L"conf\\Catalina\\localhost\\"; }

// Where the archive is unpacked when its folder is already in use.
const wchar_t kUnpackAside[] = L"TWUnpack";

// What a folder in use holds of its own and an archive must not replace:
// the calendar's data (the Derby database folder, an Access database) and
// the configuration (every properties file). Paths relative to the
// application folder, compared without regard to case.
bool IsDataFolder(const std::wstring& rel) { return LowerCase(rel) == L"web-inf\\sql\\derby\\calendardb"; }
bool IsOwnFile(const std::wstring& rel) {
    const std::wstring lower = LowerCase(rel);
    return EndsWith(lower, L".properties") || EndsWith(lower, L".mdb");
}

// Brings the unpacked tree from into the folder to: what to lacks comes
// in, program files are replaced, the data and the configuration that to
// holds stay. False when a file could not be brought in.
bool BringIn(const std::wstring& from, const std::wstring& to, const std::wstring& rel) {
    auto& files = platform::Files();
    std::vector<platform::DirEntry> entries;
    if (!files.ListDirectory(from, entries)) return false;
    for (const platform::DirEntry& e : entries) {
        const std::wstring src = from + L"\\" + e.name, dst = to + L"\\" + e.name;
        const std::wstring relName = rel.empty() ? e.name : rel + L"\\" + e.name;
        if (e.reparsePoint) continue;
        if (e.directory) {
            if (files.DirectoryExists(dst) && IsDataFolder(relName)) continue;
            if (!files.DirectoryExists(dst) && !files.MakeDirectory(dst)) return false;
            if (!BringIn(src, dst, relName)) return false;
        } else if (!(IsOwnFile(relName) && files.FileExists(dst))) {
            if (!files.Copy(src, dst, false)) return false;
        }
    }
    return true;
}

// Unpacks the archive. The folder of a version that is in use (the
// recorded version's, or, with nothing recorded, one an installation has
// configured) holds the calendar's data and configuration, and the archive
// ships empty databases: it is unpacked aside and brought in without
// replacing them. The new folder of an upgrade is not in use (the
// migration fills its data from the previous version) and is unpacked over.
bool Unpack(TStatusBar* sb) {
    const std::wstring dir = InstallDirectory(), appDir = VersionedAppDir();
    const std::wstring recorded = ReadSetting(L"Version");
    const bool inUse = recorded.empty()
                           ? platform::Files().FileExists(appDir + L"WEB-INF\\configuration.properties")
                           : recorded == ManifestValue(L"TW", L"FILE_VERSION") &&
                                 platform::Files().DirectoryExists(appDir);
    if (!inUse) return UnzipArchive(ComponentFilePath(L"TW"), dir, sb);

    const std::wstring aside = dir + kUnpackAside;
    platform::ShellFileOps().DeleteTree(aside, platform::kFofSilentDelete);  // left by a run that ended early
    const std::wstring unpacked = aside + L"\\" + appDir.substr(dir.size(), appDir.size() - dir.size() - 1);
    std::wstring live = appDir;
    live.pop_back();
    const bool ok = CreateDirectoryTree(aside) && UnzipArchive(ComponentFilePath(L"TW"), aside + L"\\", sb) &&
                    platform::Files().DirectoryExists(unpacked) && BringIn(unpacked, live, L"");
    platform::ShellFileOps().DeleteTree(aside, platform::kFofSilentDelete);
    if (ok) LogEntry(L"step", L"the application unpacked beside " + live + L"; its data and configuration kept");
    return ok;
}

}  // namespace

bool InstallApplication(TStatusBar* sb) {
    Show(sb, L"Installing Tidewell");
    if (!Unpack(sb)) {
        Show(sb, L"Install of Tidewell Failed.");
        return false;
    }
    // The record describes the machine as it was before this run wrote
    // anything; built only now, it would already see the new "Version".
    const std::wstring arch = GetInstallInfo().DestinationArchString();
    CreateDirectoryTree(AttachmentDir());
    WriteAppConfiguration();
    // Tomcat is pointed at the new folder only once its data is there: until
    // then the context names the previous version, which goes on serving.
    const std::wstring previous = ReadSetting(L"Version"), version = ManifestValue(L"TW", L"FILE_VERSION");
    bool migrated = false;
    try {
        migrated = RunUpgradeMigration();
    } catch (const IoError& e) {
        throw IoError(e.Message() + L"\n\n" + UpgradeNotDoneText(previous, version));
    } catch (const Error& e) {
        throw Error(e.Message() + L"\n\n" + UpgradeNotDoneText(previous, version));
    }
    if (!migrated) {  // the migration has said why
        Show(sb, L"Install of Tidewell Failed.");
        return false;
    }
    WriteContextFile();
    WriteSetting(L"Version", version);
    WriteSetting(L"Arch", arch);
    Show(sb, L"Installation of Tidewell Completed");
    return true;
}

void WriteAppConfiguration() {
    const std::wstring appDir = VersionedAppDir();
    const std::wstring previous = ReadSetting(L"Version");
    const std::wstring ownConfig = appDir + L"WEB-INF\\configuration.properties";
    std::wstring source = appDir + L"WEB-INF\\configuration.default";
    bool takenOver = false;
    if (previous.empty() && platform::Files().FileExists(ownConfig)) {
        // The folder was configured by an installation that is no longer
        // recorded: its configuration is kept, as on a re-installation.
        source = ownConfig;
        takenOver = true;
    } else if (!previous.empty()) {
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
    WriteTextLines(ownConfig, lines);
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
