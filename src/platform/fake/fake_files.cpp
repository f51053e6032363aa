#include "platform/fake/fake_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "base/error.h"
#include "base/encoding.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace tide::platform::fake {
namespace {

constexpr uint32_t kErrFileNotFound = 2;
constexpr uint32_t kErrPathNotFound = 3;
constexpr uint32_t kErrAccessDenied = 5;
constexpr uint32_t kErrSharingViolation = 32;
constexpr uint32_t kErrFileExists = 80;
constexpr uint32_t kErrAlreadyExists = 183;

thread_local uint32_t tlsLastError = 0;

class HostFile : public File {
public:
    HostFile(FakeFileSystem* owner, std::string host, FILE* f, bool write, Share share)
        : owner_(owner), host_(std::move(host)), f_(f), write_(write), share_(share), buf_(new char[kBuffer]) {
        // Callers read and write in 4 KiB pieces; a larger buffer keeps each
        // piece from costing a system call. (glibc ignores the size unless
        // it is given the buffer.)
        std::setvbuf(f_, buf_.get(), _IOFBF, kBuffer);
    }
    ~HostFile() override {
        std::fclose(f_);
        owner_->Release(host_, write_, share_);
    }
    uint64_t Size() override {
        std::fflush(f_);
        std::error_code ec;
        auto n = fs::file_size(host_, ec);
        return ec ? 0 : n;
    }
    uint64_t Position() override { return static_cast<uint64_t>(ftello(f_)); }
    void Seek(uint64_t position) override { fseeko(f_, static_cast<off_t>(position), SEEK_SET); }
    size_t Read(void* buffer, size_t count) override {
        size_t n = std::fread(buffer, 1, count, f_);
        if (n < count && std::ferror(f_)) throw IoError(L"Read error on " + Utf8ToWide(host_));
        return n;
    }
    void Write(const void* buffer, size_t count) override {
        if (!write_ || std::fwrite(buffer, 1, count, f_) != count)
            throw IoError(L"Write error on " + Utf8ToWide(host_));
    }

private:
    FakeFileSystem* owner_;
    std::string host_;
    static constexpr size_t kBuffer = 64 * 1024;
    FILE* f_;
    bool write_;
    Share share_;
    std::unique_ptr<char[]> buf_;
};

}  // namespace

FakeFileSystem::FakeFileSystem(std::string root) : root_(std::move(root)) {
    fs::create_directories(root_);
}

FakeFileSystem::~FakeFileSystem() = default;

std::string FakeFileSystem::HostPath(const std::wstring& winPath) const {
    std::wstring p = winPath;
    for (auto& c : p)
        if (c == L'\\') c = L'/';
    std::string u = WideToUtf8(p);
    if (u.size() >= 2 && u[1] == ':') u = std::string(1, static_cast<char>(toupper(u[0]))) + u.substr(2);
    return root_ + "/" + u;
}

bool FakeFileSystem::Admit(const std::string& host, bool write, Share share) {
    std::lock_guard<std::mutex> lock(mu_);
    auto range = open_.equal_range(host);
    for (auto it = range.first; it != range.second; ++it) {
        const Opener& o = it->second;
        // Both the holder and the newcomer must allow each other's access.
        bool holderAllows = o.share == Share::ReadWrite || (o.share == Share::Read && !write);
        bool newAllows = share == Share::ReadWrite || (share == Share::Read && !o.write);
        if (!holderAllows || !newAllows) return false;
    }
    open_.emplace(host, Opener{write, share});
    return true;
}

void FakeFileSystem::Release(const std::string& host, bool write, Share share) {
    std::lock_guard<std::mutex> lock(mu_);
    auto range = open_.equal_range(host);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.write == write && it->second.share == share) {
            open_.erase(it);
            return;
        }
    }
}

std::unique_ptr<File> FakeFileSystem::Open(const std::wstring& path, OpenMode mode, Share share) {
    std::string host = HostPath(path);
    std::error_code ec;
    bool exists = fs::is_regular_file(host, ec);
    bool write = mode != OpenMode::ReadExisting;
    if (mode != OpenMode::CreateAlways && !exists) {
        tlsLastError = fs::is_directory(fs::path(host).parent_path(), ec) ? kErrFileNotFound : kErrPathNotFound;
        return nullptr;
    }
    if (fs::is_directory(host, ec)) {
        tlsLastError = kErrAccessDenied;
        return nullptr;
    }
    if (!Admit(host, write, share)) {
        tlsLastError = kErrSharingViolation;
        return nullptr;
    }
    const char* how = mode == OpenMode::ReadExisting ? "rb" : mode == OpenMode::CreateAlways ? "w+b" : "r+b";
    FILE* f = std::fopen(host.c_str(), how);
    if (!f) {
        Release(host, write, share);
        tlsLastError = errno == ENOENT ? kErrPathNotFound : kErrAccessDenied;
        return nullptr;
    }
    return std::make_unique<HostFile>(this, host, f, write, share);
}

bool FakeFileSystem::FileExists(const std::wstring& path) {
    std::error_code ec;
    return fs::is_regular_file(HostPath(path), ec);
}

bool FakeFileSystem::DirectoryExists(const std::wstring& path) {
    std::error_code ec;
    std::string h = HostPath(path);
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    return fs::is_directory(h, ec);
}

bool FakeFileSystem::MakeDirectory(const std::wstring& path) {
    std::string h = HostPath(path);
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    std::error_code ec;
    if (fs::exists(h, ec)) {
        tlsLastError = kErrAlreadyExists;
        return false;
    }
    // A drive root ("C:") always exists on the machine.
    fs::create_directories(HostPath(path.substr(0, 2)), ec);
    if (!fs::is_directory(fs::path(h).parent_path(), ec)) {
        tlsLastError = kErrPathNotFound;
        return false;
    }
    if (!fs::create_directory(h, ec)) {
        tlsLastError = kErrAccessDenied;
        return false;
    }
    return true;
}

bool FakeFileSystem::RemoveFile(const std::wstring& path) {
    std::string h = HostPath(path);
    std::error_code ec;
    if (!fs::is_regular_file(h, ec)) {
        tlsLastError = kErrFileNotFound;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (open_.count(h)) {
            tlsLastError = kErrSharingViolation;
            return false;
        }
    }
    return fs::remove(h, ec);
}

bool FakeFileSystem::Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) {
    std::string a = HostPath(from), b = HostPath(to);
    std::error_code ec;
    if (!fs::is_regular_file(a, ec)) {
        tlsLastError = kErrFileNotFound;
        return false;
    }
    if (failIfExists && fs::exists(b, ec)) {
        tlsLastError = kErrFileExists;
        return false;
    }
    if (!fs::copy_file(a, b, fs::copy_options::overwrite_existing, ec)) {
        tlsLastError = kErrPathNotFound;
        return false;
    }
    return true;
}

bool FakeFileSystem::Move(const std::wstring& from, const std::wstring& to) {
    std::string a = HostPath(from), b = HostPath(to);
    std::error_code ec;
    if (!fs::exists(a, ec)) {
        tlsLastError = kErrFileNotFound;
        return false;
    }
    if (fs::exists(b, ec)) {
        tlsLastError = kErrAlreadyExists;
        return false;
    }
    fs::rename(a, b, ec);
    if (ec) tlsLastError = kErrPathNotFound;
    return !ec;
}

bool FakeFileSystem::ListDirectory(const std::wstring& folder, std::vector<DirEntry>& entries) {
    entries.clear();
    std::string h = HostPath(folder);
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    std::error_code ec;
    if (!fs::is_directory(h, ec)) {
        tlsLastError = fs::exists(h, ec) ? kErrAccessDenied : kErrPathNotFound;
        return false;
    }
    fs::directory_iterator it(h, ec), end;
    if (ec) {
        tlsLastError = kErrAccessDenied;
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        DirEntry e;
        e.name = Utf8ToWide(it->path().filename().string());
        e.reparsePoint = it->is_symlink(ec);
        e.directory = it->is_directory(ec);
        e.size = !e.directory && !e.reparsePoint ? it->file_size(ec) : 0;
        entries.push_back(std::move(e));
    }
    if (ec) {
        tlsLastError = kErrAccessDenied;
        return false;
    }
    return true;
}

uint32_t FakeFileSystem::LastError() { return tlsLastError; }

TempFileSystem::TempFileSystem()
    : FakeFileSystem([] {
          std::string tmpl = (fs::temp_directory_path() / "tidefs-XXXXXX").string();
          if (!mkdtemp(&tmpl[0])) std::abort();
          return tmpl;
      }()) {}

TempFileSystem::~TempFileSystem() {
    std::error_code ec;
    fs::remove_all(Root(), ec);
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
FileSystem& Port<FileSystem>::Default() {
    static fake::TempFileSystem instance;
    return instance;
}
}  // namespace tide::platform
