// SHGetSpecialFolderPathW, SHFileOperationW, RemoveDirectoryW, MoveFileExW.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/shell_files.h"

namespace tide::platform::win32 {
namespace {

class Win32ShellFiles : public ShellFiles {
public:
    std::wstring SpecialFolder(int csidl) override {
        wchar_t path[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return std::wstring();
        return path;
    }
    int DeleteTree(const std::wstring& path, uint32_t flags) override {
        std::wstring from = path;
        from.push_back(L'\0');  // the list ends with a second zero
        SHFILEOPSTRUCTW op = {};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = static_cast<FILEOP_FLAGS>(flags);
        return SHFileOperationW(&op);
    }
    bool RemoveEmptyDirectory(const std::wstring& path) override { return RemoveDirectoryW(path.c_str()) != 0; }
    bool DeleteAtRestart(const std::wstring& path) override {
        return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
ShellFiles& Port<ShellFiles>::Default() {
    static win32::Win32ShellFiles instance;
    return instance;
}
}  // namespace tide::platform
