#include "uninstall/removal_guard.h"

#include <algorithm>

#include "base/text.h"
#include "core/ArchAwareRegistry.h"
#include "core/IniDocument.h"
#include "core/install_dir_guard.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "install/uninstall_entry.h"
#include "platform/message_box.h"

namespace tide {

const wchar_t kRemovalKey[] = L"\\Software\\Quorvan Labs\\Tidewell Removal";

namespace {

const wchar_t* const kComponentSections[] = {L"JRE",    L"JREx64",    L"UNZIP", L"CATALINA_BASE",
                                             L"TOMCAT", L"TOMCATx64", L"TW"};

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return SameText(n, name); });
}

}  // namespace

bool IsRemovableInstallDirectory(const std::wstring& dir, const std::wstring& identity) {
    if (identity.empty() || !IsOwnableInstallDirectory(dir)) return false;
    return ReadInstallMarker(AddTrailingBackslash(dir)) == identity;
}

bool IsRemovableInstallDirectory(const std::wstring& dir) {
    return IsRemovableInstallDirectory(dir, ReadSetting(kInstallIdSetting));
}

std::wstring RefusedDirectoryText(const std::wstring& dir) {
    return L"The folder " + dir +
           L" is not a Tidewell installation the uninstaller may delete (a drive, a system or profile folder, or a "
           L"folder without this installation's mark " +
           kInstallMarkerName + L"). Nothing was deleted.";
}

bool CheckRemovableInstallDirectory(const std::wstring& dir, const std::wstring& identity) {
    if (IsRemovableInstallDirectory(dir, identity)) return true;
    LogEntry(L"step", L"refused to delete " + dir);
    platform::ShowMessage(RefusedDirectoryText(dir), L"Notice", platform::MbIcon::Error);
    return false;
}

bool CheckRemovableInstallDirectory(const std::wstring& dir) {
    return CheckRemovableInstallDirectory(dir, ReadSetting(kInstallIdSetting));
}

void RecordRemoval(const std::wstring& dir, const std::wstring& id) {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_WRITE);
    if (reg.OpenKey(kRemovalKey, true)) {
        reg.WriteString(L"Directory", dir);
        reg.WriteString(L"Identity", id);
    }
    reg.CloseKey();
}

std::wstring RecordedRemovalIdentity(const std::wstring& dir) {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ);
    std::wstring recordedDir, id;
    if (reg.OpenKey(kRemovalKey, false)) {
        recordedDir = reg.ReadString(L"Directory");
        id = reg.ReadString(L"Identity");
        reg.CloseKey();
    }
    return SamePath(recordedDir, dir) ? id : std::wstring();
}

void ForgetRemoval() {
    TArchAwareRegistry reg(KEY_ALL_ACCESS);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.DeleteKey(kRemovalKey);
    if (reg.OpenKey(kSettingsVendorKey, false)) {
        const bool empty = !reg.HasSubKeys() && reg.GetValueNames().empty();
        reg.CloseKey();
        if (empty) reg.DeleteKey(kSettingsVendorKey);
    }
}

std::vector<platform::DirEntry> InstallerEntries(const std::wstring& dir) {
    const std::wstring manifest = dir + kManifestFileName;
    std::vector<std::wstring> folders = {L"TCBase", L"UploadedAttachments"};
    const std::wstring tomcat = ReadIniString(manifest, L"TOMCAT", L"UNPACK_PATH");
    if (IsContainedRelativePath(tomcat)) {
        std::wstring top = tomcat.substr(0, tomcat.find_first_of(L"\\/"));
        folders.push_back(top);
    }
    std::vector<std::wstring> files = {kManifestFileName, std::wstring(kManifestFileName) + L".new", L"UNZIP.EXE",
                                       kInstallerCopyName, kRunLogFileName};
    for (const wchar_t* section : kComponentSections) {
        const std::wstring name = ReadIniString(manifest, section, L"FILE_NAME");
        if (IsBareFileName(name)) files.push_back(name);
    }
    std::vector<platform::DirEntry> entries, mine;
    std::wstring d = dir;
    if (d.size() > 3 && d.back() == L'\\') d.pop_back();
    platform::Files().ListDirectory(d, entries);
    platform::DirEntry marker;
    bool marked = false;
    for (const auto& e : entries) {
        if (SameText(e.name, kInstallMarkerName) && !e.directory) {
            marker = e;
            marked = true;
        } else if (e.directory ? Contains(folders, e.name) || StartsWith(LowerCase(e.name), L"tidewell-")
                               : Contains(files, e.name)) {
            mine.push_back(e);
        }
    }
    if (marked) mine.push_back(marker);
    return mine;
}

std::wstring LeftInPlaceText(const std::wstring& dir, const std::vector<std::wstring>& names) {
    std::wstring list;
    const size_t shown = std::min<size_t>(names.size(), 10);
    for (size_t i = 0; i < shown; ++i) list += L"\n" + names[i];
    if (names.size() > shown) list += L"\n... and " + std::to_wstring(names.size() - shown) + L" more";
    return L"The uninstaller removed what the installer put into " + dir +
           L". It left the folder in place with what the installer did not put there:" + list +
           L"\n\nDelete them yourself when they are no longer needed.";
}

}  // namespace tide
