// Which folders the installer may take as its install directory. The
// uninstaller deletes what the installer put into that directory, and the
// service running as LocalSystem, the uninstall string run by
// administrators and the logs live there, so a folder that holds more than
// this installation can never be one: a drive root, the Windows folder or
// anything inside it, a Program Files folder itself, the folder of the user
// profiles, a profile folder itself, the system's known folders (Documents,
// Desktop, AppData, ProgramData, Common Files, ...), a folder that already
// holds other things.
//
// Every check looks at the canonical form of the path, so that the aliases
// of one folder ("C:\PROGRA~1", "c:/program files/", "C:\Program Files.",
// "\\?\C:\Program Files", "C:\x\..\Program Files") get one answer.
#pragma once

#include <optional>
#include <string>

namespace tide {

// The installation's mark: a file in the install directory holding an
// identity that the settings store keeps too ("InstallationId"). The
// uninstaller deletes only a folder whose mark agrees with the setting.
extern const wchar_t kInstallMarkerName[];   // "Tidestart.id"
extern const wchar_t kInstallIdSetting[];    // "InstallationId"

// The canonical form of an absolute drive path ("X:\..." with "\" or "/";
// a leading "\\?\" or "\\.\" is dropped): the full path (".", ".." and
// doubled separators resolved), each name without the trailing dots and
// blanks Windows drops, short (8.3) names replaced by the long ones as far
// as the path exists, the drive letter upper case, no trailing "\" except
// for a root ("C:\"). None for anything else (relative, UNC, a device, a
// stream, characters no name can hold).
std::optional<std::wstring> CanonicalPath(const std::wstring& path);

// Whether two paths name one folder (their canonical forms compared
// without regard to letter case); false when either has none.
bool SamePath(const std::wstring& a, const std::wstring& b);

// path as typed (trimmed by the caller): true when it has a canonical form
// and that is none of the folders above (which come from the system's
// known folders and from the environment: SystemRoot, windir,
// ProgramFiles, ProgramFiles(x86), ProgramW6432, USERPROFILE, PUBLIC,
// ALLUSERSPROFILE, the parent of USERPROFILE).
bool IsOwnableInstallDirectory(const std::wstring& path);

// The first of & % ^ ! " in path (the command interpreter and XML read them
// differently, so the generated scripts and configuration would break), or
// 0 when it has none.
wchar_t UnsafePathCharacter(const std::wstring& path);

struct InstallDirCheck {
    bool ok = false;
    std::wstring dir;       // the canonical folder, ending in "\" (when ok)
    std::wstring refusal;   // why not, for the box; empty: the path is not usable at all
};

// The install-time check of a typed (trimmed) path: no unsafe character,
// an ownable folder, and either missing, empty, or holding this product's
// installation (its mark, or the recorded install directory of an earlier
// installer with its files) or only the running installer itself.
InstallDirCheck CheckInstallDirectory(const std::wstring& path);

// Creates dir (canonical, from CheckInstallDirectory) with its missing
// parents; the topmost folder it creates gets the protected access list
// (Administrators and SYSTEM full control, Users read and execute), which
// everything below inherits. True when dir exists afterwards.
bool CreateInstallDirectory(const std::wstring& dir);

// The identity in dir's mark; empty when it has none.
std::wstring ReadInstallMarker(const std::wstring& dir);
// Gives dir (ending in "\") the mark of this installation: keeps one that
// agrees with the setting, else writes a new identity to both. False when
// the file cannot be written.
bool MarkInstallation(const std::wstring& dir);

// The texts of the refusals.
std::wstring UnsafeCharacterText(const std::wstring& path, wchar_t c);
std::wstring ForeignFolderText(const std::wstring& dir);

}  // namespace tide
