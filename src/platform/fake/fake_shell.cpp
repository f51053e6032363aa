#include "platform/fake/fake_shell.h"

#include "base/encoding.h"
#include "platform/files.h"

namespace tide::platform::fake {
namespace {

void WriteMarker(const std::wstring& file, const SavedShortcut& s) {
    auto f = Files().Open(file, OpenMode::CreateAlways, Share::None);
    if (!f) return;
    std::string text = s.isUrl ? "[InternetShortcut]\r\nURL=" + s.url + "\r\n" : "shell link " + WideToUtf8(s.path) + "\r\n";
    f->Write(text.data(), text.size());
}

// What both shortcut objects do on Save: record the fields set so far.
long SaveTo(FakeShellLinks& owner, const std::wstring& path, bool remember, SavedShortcut& s) {
    s.remembered = remember;
    owner.Record(path, s);
    return 0;
}

class FakeShellLink : public ShellLink {
public:
    explicit FakeShellLink(FakeShellLinks& owner) : owner_(owner) {}
    long SetPath(const std::wstring& path) override {
        s_.path = path;
        return 0;
    }
    long SetArguments(const std::wstring& arguments) override {
        s_.arguments = arguments;
        return 0;
    }
    long SetDescription(const std::wstring& d) override {
        s_.description = d;
        return 0;
    }
    long SetWorkingDirectory(const std::wstring& dir) override {
        s_.workingDirectory = dir;
        return 0;
    }
    long Save(const std::wstring& path, bool remember) override { return SaveTo(owner_, path, remember, s_); }

private:
    FakeShellLinks& owner_;
    SavedShortcut s_;
};

class FakeInternetShortcut : public InternetShortcut {
public:
    explicit FakeInternetShortcut(FakeShellLinks& owner) : owner_(owner) { s_.isUrl = true; }
    long SetURL(const std::string& url, uint32_t flags) override {
        s_.url = url;
        s_.urlFlags = flags;
        return 0;
    }
    long Save(const std::wstring& path, bool remember) override { return SaveTo(owner_, path, remember, s_); }

private:
    FakeShellLinks& owner_;
    SavedShortcut s_;
};

}  // namespace

std::unique_ptr<ShellLink> FakeShellLinks::NewShellLink(long& hr) {
    std::lock_guard<std::mutex> lock(mu_);
    hr = createFails_;
    if (hr != 0) return nullptr;
    ++created_;
    return std::make_unique<FakeShellLink>(*this);
}

std::unique_ptr<InternetShortcut> FakeShellLinks::NewInternetShortcut(long& hr) {
    std::lock_guard<std::mutex> lock(mu_);
    hr = createFails_;
    if (hr != 0) return nullptr;
    ++created_;
    return std::make_unique<FakeInternetShortcut>(*this);
}

void FakeShellLinks::Record(const std::wstring& file, const SavedShortcut& s) {
    WriteMarker(file, s);
    std::lock_guard<std::mutex> lock(mu_);
    saved_[file] = s;
    log_.push_back(file);
}

void FakeShellLinks::SetCreateFails(long hr) {
    std::lock_guard<std::mutex> lock(mu_);
    createFails_ = hr;
}

std::optional<SavedShortcut> FakeShellLinks::Saved(const std::wstring& path) {
    if (!Files().FileExists(path)) return std::nullopt;
    std::lock_guard<std::mutex> lock(mu_);
    auto it = saved_.find(path);
    if (it == saved_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::wstring> FakeShellLinks::SaveLog() {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
}

int FakeShellLinks::ObjectsCreated() {
    std::lock_guard<std::mutex> lock(mu_);
    return created_;
}

std::wstring FakeProgramSearch::FindOnSearchPath(const std::wstring& fileName, uint32_t bufferChars) {
    std::lock_guard<std::mutex> lock(mu_);
    buffers_.push_back(bufferChars);
    auto it = found_.find(fileName);
    if (it == found_.end() || it->second.size() >= bufferChars) return std::wstring();
    return it->second;
}

std::wstring FakeProgramSearch::SystemDirectory() {
    std::lock_guard<std::mutex> lock(mu_);
    return system_;
}

void FakeProgramSearch::Put(const std::wstring& fileName, const std::wstring& fullPath) {
    std::lock_guard<std::mutex> lock(mu_);
    found_[fileName] = fullPath;
}

void FakeProgramSearch::SetSystemDirectory(const std::wstring& dir) {
    std::lock_guard<std::mutex> lock(mu_);
    system_ = dir;
}

std::vector<uint32_t> FakeProgramSearch::BufferSizes() {
    std::lock_guard<std::mutex> lock(mu_);
    return buffers_;
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
ShellLinks& Port<ShellLinks>::Default() {
    static fake::FakeShellLinks instance;
    return instance;
}
template <>
ProgramSearch& Port<ProgramSearch>::Default() {
    static fake::FakeProgramSearch instance;
    return instance;
}
}  // namespace tide::platform
