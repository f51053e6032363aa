#include "install/uninstall_entry.h"

#include <cwchar>
#include <optional>

#include "core/ArchAwareRegistry.h"
#include "core/InstallInfo.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "core/tree_size.h"
#include "platform/clock.h"

namespace tide {

const wchar_t kUninstallKey[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell";
const wchar_t kInstallerCopyName[] = L"Tidestart.EXE";

std::wstring InstallerCopyPath() { return InstallDirectory() + kInstallerCopyName; }

bool WriteUninstallEntry(const std::wstring& installerCopy) {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_WRITE);
    if (!reg.OpenKey(kUninstallKey, true)) return false;
    const std::wstring folder = installerCopy.substr(0, installerCopy.rfind(L'\\') + 1);
    reg.WriteString(L"DisplayName", L"Tidewell Web Calendar");
    reg.WriteString(L"DisplayVersion", GetInstallInfo().DestinationVersion());
    reg.WriteString(L"HelpLink", ManifestValue(L"GENERAL", L"TUTORIAL_URL"));
    reg.WriteString(L"URLInfoAbout", ManifestValue(L"GENERAL", L"SUPPORT_URL"));
    reg.WriteString(L"InstallLocation", folder.empty() ? folder : folder.substr(0, folder.size() - 1));
    reg.WriteString(L"Publisher", L"Quorvan Labs, Inc.");
    reg.WriteInteger(L"NoModify", 1);
    reg.WriteInteger(L"NoRepair", 1);
    reg.WriteString(L"UninstallString", L"\"" + installerCopy + L"\" /UNINSTALL");
    // With the index the last comma is always the one before it: the shell
    // splits an icon location at its last comma, so a folder such as
    // "C:\Tidewell,2\" would otherwise lose the icon.
    reg.WriteString(L"DisplayIcon", installerCopy + L",0");
    const platform::LocalDate today = platform::SystemClock().Today();
    reg.WriteString(L"InstallDate", InstallDateText(today.year, today.month, today.day));
    reg.WriteString(L"QuietUninstallString", L"\"" + installerCopy + L"\" /UNINSTALL /SILENT");
    reg.CloseKey();
    return true;
}

std::wstring InstallDateText(int year, int month, int day) {
    wchar_t text[16];
    swprintf(text, 16, L"%04d%02d%02d", year, month, day);
    return text;
}

bool WriteEstimatedSize(const std::wstring& installDir) {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_WRITE);
    if (!reg.OpenKey(kUninstallKey, false)) return false;
    const std::optional<uint64_t> bytes = TreeSizeBytes(installDir);
    bool written = false;
    if (bytes) {
        written = reg.WriteInteger(L"EstimatedSize", static_cast<int32_t>(KiBRoundedUp(*bytes)));
    } else {
        // No size is better than a wrong one: the list of programs shows
        // the column empty, where a stale or partial size (or 0) would
        // mislead whoever looks for what takes the disk.
        reg.DeleteValue(L"EstimatedSize");
    }
    reg.CloseKey();
    return written;
}

}  // namespace tide
