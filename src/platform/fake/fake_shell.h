// Native stand-ins for the shell's shortcut objects and the program search.
// A saved shortcut becomes a small text file in the current file-system
// port (so deleting it there is seen), and its fields are kept for tests.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/program_search.h"
#include "platform/shell_links.h"

namespace tide::platform::fake {

// What one saved shortcut holds.
struct SavedShortcut {
    bool isUrl = false;
    std::wstring path, arguments, description, workingDirectory;  // shell link
    std::string url;                                              // Internet shortcut (ANSI)
    uint32_t urlFlags = 0;
    bool remembered = false;
};

class FakeShellLinks : public ShellLinks {
public:
    std::unique_ptr<ShellLink> NewShellLink(long& hr) override;
    std::unique_ptr<InternetShortcut> NewInternetShortcut(long& hr) override;

    // The next objects cannot be created (hr is the HRESULT given back);
    // 0 makes them work again.
    void SetCreateFails(long hr);
    // The shortcut last saved to path while that file still exists.
    std::optional<SavedShortcut> Saved(const std::wstring& path);
    // Paths saved, in order (a path saved twice appears twice).
    std::vector<std::wstring> SaveLog();
    int ObjectsCreated();

    void Record(const std::wstring& file, const SavedShortcut& s);

private:
    std::mutex mu_;
    long createFails_ = 0;
    int created_ = 0;
    std::map<std::wstring, SavedShortcut> saved_;
    std::vector<std::wstring> log_;
};

class FakeProgramSearch : public ProgramSearch {
public:
    std::wstring FindOnSearchPath(const std::wstring& fileName, uint32_t bufferChars) override;
    std::wstring SystemDirectory() override;

    // fileName (as asked, exact) is found at fullPath.
    void Put(const std::wstring& fileName, const std::wstring& fullPath);
    void SetSystemDirectory(const std::wstring& dir);
    std::vector<uint32_t> BufferSizes();

private:
    std::mutex mu_;
    std::map<std::wstring, std::wstring> found_;
    std::wstring system_ = L"C:\\Windows\\system32";
    std::vector<uint32_t> buffers_;
};

}  // namespace tide::platform::fake
