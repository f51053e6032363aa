// Native stand-in for the shell's folders and file operations: acts on the
// fake file system of the files port (a tree deleted into the recycle bin
// is recorded as such) and records every call.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/shell_files.h"

namespace tide::platform::fake {

struct ShellFileCall {
    std::wstring op;  // "DeleteTree", "RemoveEmptyDirectory", "DeleteAtRestart"
    std::wstring path;
    uint32_t flags = 0;
};

class FakeShellFiles : public ShellFiles {
public:
    std::wstring SpecialFolder(int csidl) override;
    int DeleteTree(const std::wstring& path, uint32_t flags) override;
    bool RemoveEmptyDirectory(const std::wstring& path) override;
    bool DeleteAtRestart(const std::wstring& path) override;

    void SetSpecialFolder(int csidl, const std::wstring& path);
    std::vector<ShellFileCall> Calls();
    // Trees deleted with kFofAllowUndo, in order.
    std::vector<std::wstring> Recycled();

private:
    std::mutex mu_;
    std::map<int, std::wstring> folders_;
    std::vector<ShellFileCall> calls_;
};

}  // namespace tide::platform::fake
