#include "platform/fake/fake_shell_files.h"

#include <filesystem>
#include <system_error>

#include "platform/fake/fake_files.h"

namespace tide::platform::fake {
namespace {

// The host path of a Windows path on the fake file system in use; empty
// when the files port is not a fake one.
std::string Host(const std::wstring& path) {
    auto* fs = dynamic_cast<FakeFileSystem*>(&Files());
    return fs ? fs->HostPath(path) : std::string();
}

}  // namespace

std::wstring FakeShellFiles::SpecialFolder(int csidl) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = folders_.find(csidl);
    return it == folders_.end() ? std::wstring() : it->second;
}

int FakeShellFiles::DeleteTree(const std::wstring& path, uint32_t flags) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back({L"DeleteTree", path, flags});
    }
    std::string host = Host(path);
    std::error_code ec;
    if (host.empty() || !std::filesystem::exists(host, ec)) return 2;
    std::filesystem::remove_all(host, ec);
    return ec ? 5 : 0;
}

bool FakeShellFiles::RemoveEmptyDirectory(const std::wstring& path) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back({L"RemoveEmptyDirectory", path, 0});
    }
    std::string host = Host(path);
    std::error_code ec;
    if (host.empty() || !std::filesystem::is_directory(host, ec) || !std::filesystem::is_empty(host, ec)) return false;
    return std::filesystem::remove(host, ec);
}

bool FakeShellFiles::DeleteAtRestart(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({L"DeleteAtRestart", path, 0});
    return true;
}

void FakeShellFiles::SetSpecialFolder(int csidl, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    folders_[csidl] = path;
}

std::vector<ShellFileCall> FakeShellFiles::Calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
}

std::vector<std::wstring> FakeShellFiles::Recycled() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::wstring> out;
    for (const auto& c : calls_)
        if (c.op == L"DeleteTree" && (c.flags & kFofAllowUndo)) out.push_back(c.path);
    return out;
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
ShellFiles& Port<ShellFiles>::Default() {
    static fake::FakeShellFiles instance;
    return instance;
}
}  // namespace tide::platform
