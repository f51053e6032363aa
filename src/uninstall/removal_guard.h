// Which folder the uninstaller may delete with everything below it. A
// recorded install directory can have been typed as a drive root or a
// Program Files folder, and the second stage takes its folder from its
// command line, which anyone can write: neither may ever reach outside the
// installation.
#pragma once

#include <string>

namespace tide {

// True when dir is a folder the installer could own (IsOwnableInstallDirectory:
// no drive root, Windows folder, Program Files folder, user profile or the
// profiles folder) and it looks like this installation: it holds
// "Tidestart.EXE", "TCBase" or "downloader.ini".
bool IsRemovableInstallDirectory(const std::wstring& dir);

// The same test; on a refusal shows the "Notice" box naming dir and returns
// false.
bool CheckRemovableInstallDirectory(const std::wstring& dir);

// The text of that box.
std::wstring RefusedDirectoryText(const std::wstring& dir);

}  // namespace tide
