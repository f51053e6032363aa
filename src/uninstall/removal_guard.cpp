#include "uninstall/removal_guard.h"

#include "core/install_dir_guard.h"
#include "core/settings.h"
#include "install/uninstall_entry.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace tide {

bool IsRemovableInstallDirectory(const std::wstring& dir) {
    if (!IsOwnableInstallDirectory(dir)) return false;
    platform::FileSystem& fs = platform::Files();
    const std::wstring d = AddTrailingBackslash(dir);
    return fs.FileExists(d + kInstallerCopyName) || fs.DirectoryExists(d + L"TCBase") ||
           fs.FileExists(d + L"downloader.ini");
}

std::wstring RefusedDirectoryText(const std::wstring& dir) {
    return L"The folder " + dir +
           L" is not a Tidewell installation the uninstaller may delete (a drive, a system or profile folder, or a "
           L"folder without the installer, TCBase or downloader.ini). Nothing was deleted.";
}

bool CheckRemovableInstallDirectory(const std::wstring& dir) {
    if (IsRemovableInstallDirectory(dir)) return true;
    platform::ShowMessage(RefusedDirectoryText(dir), L"Notice", platform::MbIcon::Error);
    return false;
}

}  // namespace tide
