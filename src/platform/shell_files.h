// The shell's folders and file operations that removing an installation
// needs: the programs folders, deleting a folder tree (optionally into the
// recycle bin), removing an empty folder and deleting a file at the next
// restart.
#pragma once

#include <cstdint>
#include <string>

#include "platform/port.h"

namespace tide::platform {

// Folder identifiers as SHGetSpecialFolderPathW takes them.
constexpr int kCsidlPrograms = 2;
constexpr int kCsidlCommonPrograms = 23;

// SHFileOperationW flags.
constexpr uint32_t kFofAllowUndo = 0x40;
constexpr uint32_t kFofSilentDelete = 0x614;  // FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI

class ShellFiles {
public:
    virtual ~ShellFiles() = default;
    // SHGetSpecialFolderPathW with no owner and no creation; empty text on
    // failure.
    virtual std::wstring SpecialFolder(int csidl) = 0;
    // SHFileOperationW FO_DELETE of the one path (no trailing "\") with the
    // flags; returns what SHFileOperationW returns (0 on success).
    virtual int DeleteTree(const std::wstring& path, uint32_t flags) = 0;
    // RemoveDirectoryW: only an empty folder goes.
    virtual bool RemoveEmptyDirectory(const std::wstring& path) = 0;
    // MoveFileExW(path, no target, MOVEFILE_DELAY_UNTIL_REBOOT).
    virtual bool DeleteAtRestart(const std::wstring& path) = 0;
};

inline ShellFiles& ShellFileOps() { return Port<ShellFiles>::Get(); }

}  // namespace tide::platform
