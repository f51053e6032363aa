// Start-menu shortcuts: shell links (.lnk) and Internet shortcuts (.url)
// made through the shell's objects, in folders the current user's registry
// names, and the shortcuts of this installation in the Programs folder's
// "Tidewell Web Calendar": the calendar's address, tutorials, manual, the
// installer, the server's start and stop pair and the service's
// configuration window. The start and stop pair follows "ServiceInstalled".
#pragma once

#include <string>

namespace tide {

extern const wchar_t kShortcutFolderName[];  // "Tidewell Web Calendar"

// Where a shortcut goes: the folder of that name in the current user's
// Shell Folders (Quick Launch: GrpConv's MapGroups); CustomFolder: the
// sub-folder argument is the folder itself.
enum class TShortcutLocation { Desktop, QuickLaunch, SendTo, StartMenu, CustomFolder, Programs };

// Writes a shortcut to target into the location's folder (below subFolder,
// made when missing): linkName + ".url" for an Internet shortcut, else
// linkName + ".lnk" (empty linkName: the target's file name with ".lnk"
// for its extension). A shell link gets arguments, description and the
// working directory (empty: the target's directory). An existing file is
// replaced. linkPath receives the file's full path; when the location has
// no folder nothing is written and linkPath stays as it was. Throws Error
// when the shell's object cannot be created.
void CreateShortcut(const std::wstring& target, const std::wstring& linkName, bool isUrl,
                    TShortcutLocation location, const std::wstring& subFolder, const std::wstring& workingDirectory,
                    const std::wstring& arguments, const std::wstring& description, std::wstring& linkPath);
// CreateShortcut of a shell link.
void CreateLink(const std::wstring& target, const std::wstring& linkName, TShortcutLocation location,
                const std::wstring& subFolder, const std::wstring& workingDirectory, const std::wstring& arguments,
                const std::wstring& description, std::wstring& linkPath);

// The current user's Programs folder ("Programs" of the Shell Folders);
// empty when it is not recorded.
std::wstring ProgramsFolder();

// The calendar's address, tutorials, manual and installer shortcuts; the
// installer's shortcut path becomes "StartMenuIcon" (empty without a
// Programs folder).
void CreateProgramShortcuts(const std::wstring& installerPath, const std::wstring& installDirectory);

// Replaces the start and stop pair (NET.EXE start/stop Tidewell with the
// service, else the server base's catalina.bat start/stop) and makes the
// service configuration shortcut. The argument is not used: every path
// comes from the settings and the release manifest.
void CreateServiceShortcuts(const std::wstring& installDirectory);

}  // namespace tide
