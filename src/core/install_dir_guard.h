// Which folders the installer may take as its install directory. The
// uninstaller deletes the install directory with everything below it, so a
// folder that holds more than this installation can never be one: a drive
// root, the Windows folder or anything inside it, a Program Files folder
// itself, the folder of the user profiles, a user's (or the public or the
// all-users) profile folder itself.
#pragma once

#include <string>

namespace tide {

// path as typed (trimmed by the caller): true when it is an absolute drive
// path ("X:\..."), holds no "." or ".." component and is none of the
// folders above. The system folders come from the environment (SystemRoot,
// windir, ProgramFiles, ProgramFiles(x86), ProgramW6432, USERPROFILE,
// PUBLIC, ALLUSERSPROFILE; the profiles folder is the parent of
// USERPROFILE). Letter case, "/" for "\", doubled and trailing separators
// do not matter.
bool IsOwnableInstallDirectory(const std::wstring& path);

}  // namespace tide
