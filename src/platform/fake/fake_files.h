// Native stand-in for the Windows file system: Windows paths are mapped onto
// a folder of the host ("C:\a\b" -> ROOT/C/a/b), and the sharing rules of
// Windows opens are enforced between opens made through this object.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/files.h"

namespace tide::platform::fake {

class FakeFileSystem : public FileSystem {
public:
    // root: host folder that stands for "the machine"; created when missing.
    explicit FakeFileSystem(std::string root);
    ~FakeFileSystem() override;

    std::unique_ptr<File> Open(const std::wstring& path, OpenMode mode, Share share) override;
    bool FileExists(const std::wstring& path) override;
    bool DirectoryExists(const std::wstring& path) override;
    bool MakeDirectory(const std::wstring& path) override;
    bool RemoveFile(const std::wstring& path) override;
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override;
    bool Move(const std::wstring& from, const std::wstring& to) override;
    // Symbolic links on the host stand for reparse points.
    bool ListDirectory(const std::wstring& folder, std::vector<DirEntry>& entries) override;
    uint32_t LastError() override;

    // Host path of a Windows path.
    std::string HostPath(const std::wstring& winPath) const;
    const std::string& Root() const { return root_; }

    // Sharing bookkeeping used by the open files.
    void Release(const std::string& host, bool write, Share share);

private:
    bool Admit(const std::string& host, bool write, Share share);
    std::string root_;
    std::mutex mu_;
    struct Opener { bool write; Share share; };
    std::multimap<std::string, Opener> open_;
};

// A fresh temporary root for one test; removed with the object.
class TempFileSystem : public FakeFileSystem {
public:
    TempFileSystem();
    ~TempFileSystem() override;
};

}  // namespace tide::platform::fake
