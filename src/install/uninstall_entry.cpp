#include "install/uninstall_entry.h"

#include "core/ArchAwareRegistry.h"
#include "core/InstallInfo.h"
#include "core/manifest.h"
#include "core/settings.h"

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
    reg.CloseKey();
    return true;
}

}  // namespace tide
