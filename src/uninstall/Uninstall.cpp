#include "uninstall/Uninstall.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/command_line.h"
#include "base/text.h"
#include "core/ArchAwareRegistry.h"
#include "core/IniDocument.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/run_log.h"
#include "core/run_options.h"
#include "core/servers.h"
#include "core/install_dir_guard.h"
#include "core/settings.h"
#include "install/self_update.h"
#include "install/uninstall_entry.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell_execute.h"
#include "platform/shell_files.h"
#include "system/VariousTests.h"
#include "system/server_service.h"
#include "system/shortcuts.h"
#include "uninstall/removal_guard.h"

namespace tide {

const wchar_t kUninstallerCopyName[] = L"Tideclean.EXE";
const wchar_t kUninstallLogName[] = L"Tidestart-uninstall.log";

namespace {

constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;

TStatusBar* gStatus = nullptr;

const wchar_t* const kSyncAppPaths[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tidelink.exe",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tideclean.exe",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tidestart.exe",
};
const wchar_t kSyncSettingsKey[] = L"\\Software\\Quorvan Labs\\Tidelink";
const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tidewell";

std::wstring WithoutTrailingBackslash(const std::wstring& path) {
    return !path.empty() && path.back() == L'\\' ? path.substr(0, path.size() - 1) : path;
}

// The folder that holds dir (dir with or without its trailing "\");
// empty for a drive root.
std::wstring ContainingFolder(const std::wstring& dir) {
    const std::wstring d = WithoutTrailingBackslash(dir);
    const size_t slash = d.rfind(L'\\');
    if (slash == std::wstring::npos || slash < 3) return std::wstring();
    return d.substr(0, slash);
}

// Deletes what the installer made in dir, then dir and its containing
// folder when that left them empty; anything else stays, and the log and
// (unless the run is unattended) a box say what.
void RemoveInstallDirectory(const std::wstring& dir) {
    const std::wstring d = AddTrailingBackslash(dir);
    for (const platform::DirEntry& e : InstallerEntries(d)) {
        const std::wstring path = d + e.name;
        if (!e.directory)
            platform::Files().RemoveFile(path);
        else if (e.reparsePoint)  // the link itself, never what it points to
            platform::ShellFileOps().RemoveEmptyDirectory(path);
        else
            RemoveDirectoryTree(path, false);
    }
    std::vector<platform::DirEntry> left;
    platform::Files().ListDirectory(WithoutTrailingBackslash(d), left);
    if (left.empty()) {
        platform::ShellFileOps().RemoveEmptyDirectory(WithoutTrailingBackslash(d));
        const std::wstring parent = ContainingFolder(dir);
        if (!parent.empty()) platform::ShellFileOps().RemoveEmptyDirectory(parent);
    }
    if (!platform::Files().DirectoryExists(dir)) {
        LogEntry(L"step", L"the folder " + dir + L" is removed");
        return;
    }
    std::sort(left.begin(), left.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) { return LowerCase(a.name) < LowerCase(b.name); });
    std::vector<std::wstring> names;
    std::wstring listed;
    for (const auto& e : left) {
        names.push_back(e.name + (e.directory ? L"\\" : L""));
        listed += (listed.empty() ? L"" : L", ") + names.back();
    }
    LogEntry(L"step", L"the folder " + dir + L" is still there, with what the installer did not put there: " + listed);
    if (!names.empty() && !ParseRunOptions(platform::Env().Arguments()).silent)
        platform::ShowMessage(LeftInPlaceText(dir, names), L"Notice", platform::MbIcon::Information);
}

HKEY SettingsHive() {
    TArchAwareRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    return reg.OpenKeyReadOnly(kSettingsKey) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The program of a service's ImagePath: the quoted first part, else the
// whole text.
std::wstring ImageProgram(const std::wstring& imagePath) {
    if (imagePath.empty() || imagePath[0] != L'"') return imagePath;
    const std::vector<std::wstring> parts = SplitCommandLine(imagePath);
    return parts.empty() ? std::wstring() : parts[0];
}

void StopServer() {
    if (!ServerRunning()) return;
    UninstallStatus(L"Stopping Tidewell Service...");
    SetServerRunning(false);
    TArchAwareRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (reg.OpenKeyReadOnly(kServiceKey))
        WaitForFileRelease(ImageProgram(reg.ReadString(L"ImagePath")), kServerReleaseWaitMs);
}

void RemoveService() {
    // Also a service whose script run was reported as failed: left behind,
    // it would make every later installation fail to create its own.
    if (!IsServiceInstalled() && !ServiceOfThisInstallation()) return;
    UninstallStatus(L"Uninstalling Tidewell Service...");
    RemoveServerService(platform::Env().Variable(L"DEBUG").empty());
}

void RemoveIcons(HKEY hive) {
    UninstallStatus(L"Removing start menu icons...");
    TArchAwareRegistry reg(KEY_READ);
    reg.SetRootKey(hive);
    if (!reg.OpenKeyReadOnly(kSettingsKey)) return;
    for (const wchar_t* name : {L"DesktopIcon", L"StartMenuIcon"}) {
        const std::wstring file = reg.ReadString(name);
        if (!file.empty()) platform::Files().RemoveFile(file);
    }
    for (int csidl : {platform::kCsidlCommonPrograms, platform::kCsidlPrograms}) {
        const std::wstring folder = platform::ShellFileOps().SpecialFolder(csidl);
        if (folder.empty()) continue;
        const std::wstring shortcuts = folder + L"\\" + kShortcutFolderName;
        if (platform::Files().DirectoryExists(shortcuts)) RemoveDirectoryTree(shortcuts, false);
    }
}

// Deletes root\path with its subkeys in the 32-bit registry view, whatever
// this process's own view is (RegDeleteKeyExW; RegDeleteKeyW on a Windows
// without it, which has one view).
void DeleteKey32(HKEY root, const std::wstring& path, TRegDeleteKeyEx deleteEx) {
    platform::Registry& r = platform::Reg();
    HKEY key = nullptr;
    if (r.OpenKey(root, path, KEY_READ | KEY_WOW64_32KEY, &key) != platform::kRegOk) return;
    std::vector<std::wstring> children;
    std::wstring name;
    RegKeyInfo info;
    if (r.QueryInfoKey(key, &info) == platform::kRegOk)
        for (uint32_t i = 0; i < info.numSubKeys; ++i)
            if (r.EnumKey(key, i, info.maxSubKeyLen + 1, &name) == platform::kRegOk) children.push_back(name);
    r.CloseKey(key);
    for (const auto& child : children) DeleteKey32(root, path + L"\\" + child, deleteEx);
    if (deleteEx)
        deleteEx(root, path.c_str(), KEY_WOW64_32KEY, 0);
    else
        r.DeleteKey(root, path);
}

void RemoveSyncEntries() {
    UninstallStatus(L"Removing Sync Program Registry Entries...");
    platform::Registry& r = platform::Reg();
    void* advapi = r.LoadAdvApi32();
    TRegDeleteKeyEx deleteEx = advapi ? r.FindRegDeleteKeyEx(advapi) : nullptr;
    for (const wchar_t* key : kSyncAppPaths) DeleteKey32(HKEY_LOCAL_MACHINE, key, deleteEx);
    if (advapi) r.FreeLibrary(advapi);

    TRegistry user;  // HKEY_CURRENT_USER, full access
    if (user.OpenKey(kSyncSettingsKey, false)) {
        user.CloseKey();
        user.DeleteKey(kSyncSettingsKey);
    }
    if (user.OpenKey(kSettingsVendorKey, false)) {
        const bool empty = !user.HasSubKeys();
        user.CloseKey();
        if (empty) user.DeleteKey(kSettingsVendorKey);
    }
}

// Install directory + "tidewell-" + the version of the manifest already in
// the install directory (the uninstaller never fetches one); none when
// that version cannot name a folder.
std::optional<std::wstring> LocalVersionedAppDir(const std::wstring& dir) {
    const std::wstring version = ReadIniString(dir + kManifestFileName, L"TW", L"FILE_VERSION");
    if (version.empty() || !IsBareFileName(L"tidewell-" + version)) return std::nullopt;
    return dir + L"tidewell-" + version + L"\\";
}

void RemoveProductKeys(HKEY hive) {
    UninstallStatus(L"Removing Registry keys...");
    TArchAwareRegistry reg(KEY_ALL_ACCESS);
    reg.SetRootKey(hive);
    reg.DeleteKey(kSettingsKey);
    if (reg.OpenKey(kSettingsVendorKey, false)) {
        const bool empty = !reg.HasSubKeys();
        reg.CloseKey();
        if (empty) reg.DeleteKey(kSettingsVendorKey);
    }
    reg.DeleteKey(kUninstallKey);
}

// What this run passes on to the second stage: an unattended run stays
// unattended, and both stages write to the same log.
std::wstring SecondStageOptions() {
    std::wstring words;
    if (ParseRunOptions(platform::Env().Arguments()).silent) words += L" /SILENT";
    const std::wstring log = TheRunLog().Path();
    if (!log.empty()) words += L" \"/log=" + log + L"\"";
    return words;
}

void SpawnSecondStage(const std::wstring& installer, const std::wstring& dir) {
    const std::wstring temp = TempDirectory();
    const std::wstring copy = temp + kUninstallerCopyName;
    UninstallStatus(L"Copying file " + installer + L" to " + copy);
    platform::Files().Copy(installer, copy, false);
    UninstallStatus(L"Spawning uninstaller to erase program directory....");
    platform::ProcessStart start;
    start.application = copy;
    start.commandLine = SecondStageCommandLine(copy, installer, dir, SecondStageOptions());
    start.workDir = temp;
    start.flags = platform::kCreateNewConsole | platform::kCreateNewProcessGroup;
    uint32_t error = 0;
    platform::Procs().Start(start, error);
}

// Whether another process still holds path open (the wait for it ended by
// its bound, not by its release).
bool StillHeld(const std::wstring& path) {
    platform::FileSystem& fs = platform::Files();
    if (!fs.FileExists(path)) return false;
    if (fs.Open(path, platform::OpenMode::ReadWriteExisting, platform::Share::None)) return false;
    const uint32_t error = fs.LastError();
    return error == kErrorSharingViolation || error == kErrorLockViolation;
}

}  // namespace

std::wstring UninstallConfirmationText(const std::wstring& installDirectory) {
    return L"Uninstalling Tidewell will remove all files stored in " + installDirectory + L"." + L"\n" + L"\n" +
           L"This includes any calendar data you may have stored in the Derby database." + L"\n" + L"\n" +
           L"Are you sure you wish to do this?";
}

std::wstring FirstStageStillRunningText(const std::wstring& installer, const std::wstring& dir) {
    return L"The uninstaller waited 5 minutes for " + installer + L" to end, but it is still running. The folder " +
           dir + L" was left in place; delete it once that program has ended.";
}

std::wstring SecondStageCommandLine(const std::wstring& copy, const std::wstring& installer,
                                    const std::wstring& installDirectory, const std::wstring& options) {
    return L"\"" + copy + L"\" /DOUNINSTALL \"" + installer + L"\" \"" + installDirectory + L"\"" + options;
}

void UninstallStatus(const std::wstring& text) {
    LogEntry(L"step", text);
    if (!gStatus) return;
    gStatus->SetText(text);
    platform::Env().ProcessMessages();
}

void RemoveDirectoryTree(const std::wstring& folder, bool toRecycleBin) {
    UninstallStatus(L"Removing Directory tree " + folder);
    // A large tree takes seconds: the window answers meanwhile.
    RunHandlingMessages([&] {
        platform::ShellFileOps().DeleteTree(WithoutTrailingBackslash(folder),
                                            platform::kFofSilentDelete | (toRecycleBin ? platform::kFofAllowUndo : 0));
    });
}

bool RunUninstall(TStatusBar* sb) {
    // The status line belongs to the caller: it is forgotten on return.
    struct StatusScope {
        explicit StatusScope(TStatusBar* s) { gStatus = s; }
        ~StatusScope() { gStatus = nullptr; }
    } scope(sb);
    const int answer = platform::ShowMessage(UninstallConfirmationText(InstallDirectory()), L"Uninstall Tidewell",
                                             platform::MbIcon::Stop, platform::MbButtons::OkCancelDefaultCancel);
    if (answer != platform::kIdOk) return false;

    // Started from the window, the run has not settled on a log yet.
    TheRunLog().SetPath(TempDirectory() + kUninstallLogName);
    // Read before the product keys go: the second stage compares the mark
    // with it.
    const std::wstring identity = ReadSetting(kInstallIdSetting);
    if (!CheckRemovableInstallDirectory(InstallDirectory(), identity)) return false;
    // From here on the folder as the system names it, whatever alias was
    // recorded.
    const std::wstring dir = AddTrailingBackslash(*CanonicalPath(InstallDirectory()));
    // Started from the window, the run has not fetched the manifest; the
    // steps below (the service's shortcuts) read the one installed.
    UseLocalManifest();

    UninstallStatus(L"Determining registry hive...");
    const HKEY hive = SettingsHive();
    StopServer();
    RemoveService();
    RemoveDataSource(sb);
    RemoveIcons(hive);
    RemoveSyncEntries();
    if (auto app = LocalVersionedAppDir(dir)) RemoveDirectoryTree(*app, true);
    RemoveProductKeys(hive);

    const std::wstring installer = platform::Env().ExecutablePath();
    if (StartsWith(LowerCase(installer), LowerCase(dir))) {
        RecordRemoval(dir, identity);
        SpawnSecondStage(installer, dir);
    } else {
        RemoveInstallDirectory(dir);
    }

    UninstallStatus(L"Terminating application...");
    platform::Env().RequestQuit();
    return true;
}

void FinishUninstall() {
    gStatus = nullptr;
    const std::vector<std::wstring> args = platform::Env().Arguments();
    if (args.size() < 4) return;
    const std::wstring& installer = args[2];
    if (!CheckRemovableInstallDirectory(args[3], RecordedRemovalIdentity(args[3]))) return;
    const std::wstring dir = AddTrailingBackslash(*CanonicalPath(args[3]));
    if (platform::Files().FileExists(installer) && !WaitForFileRelease(installer, kFirstStageWaitMs) &&
        StillHeld(installer)) {
        platform::ShowMessage(FirstStageStillRunningText(installer, dir), L"Notice", platform::MbIcon::Error);
        return;
    }
    RemoveInstallDirectory(dir);
    ForgetRemoval();
    // Nobody is there to answer the survey after an unattended uninstall.
    if (!ParseRunOptions(args).silent)
        platform::Shell().Execute(L"open", ExitSurveyUrl(), L"", std::nullopt, platform::kSwShowNormal);
    platform::ShellFileOps().DeleteAtRestart(platform::Env().ExecutablePath());
}

}  // namespace tide
