// The product's entry in the Windows list of installed programs: the key
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell
// in the machine's native registry view, pointing at the installer's copy
// in the install directory, which uninstalls when started with "/UNINSTALL".
#pragma once

#include <string>

namespace tide {

extern const wchar_t kUninstallKey[];       // "\Software\...\Uninstall\Tidewell"
extern const wchar_t kInstallerCopyName[];  // "Tidestart.EXE"

// InstallDirectory() + "Tidestart.EXE".
std::wstring InstallerCopyPath();

// Opens the entry's key for writing (creating it) and writes, in this order:
// DisplayName, DisplayVersion (the version this run installs), HelpLink and
// URLInfoAbout (TUTORIAL_URL and SUPPORT_URL of [GENERAL]), InstallLocation
// (the folder of installerCopy without its trailing "\"), Publisher,
// NoModify and NoRepair (REG_DWORD 1), UninstallString ("installerCopy"
// /UNINSTALL), DisplayIcon (installerCopy,0), InstallDate (today's local
// date, yyyymmdd), QuietUninstallString ("installerCopy" /UNINSTALL
// /SILENT). False when the key cannot be opened or created (no
// administrator rights); nothing is shown.
bool WriteUninstallEntry(const std::wstring& installerCopy);

// yyyymmdd, as InstallDate holds it.
std::wstring InstallDateText(int year, int month, int day);

// At the end of an installation: EstimatedSize (REG_DWORD), the size of
// installDir in KiB (TreeSizeBytes rounded up), in the entry when it
// exists (never creates it). When the size cannot be computed, a value left
// by an earlier installation is removed and false returned.
bool WriteEstimatedSize(const std::wstring& installDir);

}  // namespace tide
