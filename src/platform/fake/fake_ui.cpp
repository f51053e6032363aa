#include "platform/fake/fake_ui.h"

#include "platform/clock.h"

namespace tide::platform::fake {

std::wstring FakeEnvironment::CommandLine() {
    std::lock_guard<std::mutex> lock(mu_);
    return commandLine_;
}

std::wstring FakeEnvironment::Variable(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = vars_.find(name);
    return it == vars_.end() ? std::wstring() : it->second;
}

std::wstring FakeEnvironment::ExecutablePath() {
    std::lock_guard<std::mutex> lock(mu_);
    return exe_;
}

void FakeEnvironment::SetApplicationTitle(const std::wstring& title) {
    std::lock_guard<std::mutex> lock(mu_);
    title_ = title;
}

std::wstring FakeEnvironment::ApplicationTitle() {
    std::lock_guard<std::mutex> lock(mu_);
    return title_;
}

void FakeEnvironment::RequestQuit() {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
    quitChanged_.notify_all();
}

bool FakeEnvironment::QuitRequested() {
    std::lock_guard<std::mutex> lock(mu_);
    return quit_;
}

void FakeEnvironment::ProcessMessages() {
    std::lock_guard<std::mutex> lock(mu_);
    ++pumps_;
}

void FakeEnvironment::ProcessMessagesFor(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        messageWaitMs_ += ms;
    }
    SystemClock().SleepMs(ms);
}

void FakeEnvironment::RunMessageLoop() {
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(mu_);
        quitChanged_.wait(lock, [this] { return quit_; });
        error.swap(loopError_);
    }
    if (error) std::rethrow_exception(error);
}

void FakeEnvironment::PassToMessageLoop(std::exception_ptr error) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!loopError_) loopError_ = error;
    }
    RequestQuit();
}

void FakeEnvironment::SetCommandLine(const std::wstring& line) {
    std::lock_guard<std::mutex> lock(mu_);
    commandLine_ = line;
}

void FakeEnvironment::SetArguments(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const std::wstring& a : args) {
        if (!line.empty()) line += L' ';
        line += a.empty() || a.find_first_of(L" \t") != std::wstring::npos ? L'"' + a + L'"' : a;
    }
    SetCommandLine(line);
}

void FakeEnvironment::SetVariable(const std::wstring& name, const std::wstring& value) {
    std::lock_guard<std::mutex> lock(mu_);
    vars_[name] = value;
}

void FakeEnvironment::RemoveVariable(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    vars_.erase(name);
}

void FakeEnvironment::SetExecutablePath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    exe_ = path;
}

int FakeEnvironment::ProcessMessagesCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    return pumps_;
}

uint64_t FakeEnvironment::MessageWaitMs() {
    std::lock_guard<std::mutex> lock(mu_);
    return messageWaitMs_;
}

bool FakeVersionInfo::ReadFixedFileVersion(const std::wstring& path, FixedFileVersion& out) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = files_.find(path);
    if (it == files_.end()) return false;
    out = it->second;
    return true;
}

void FakeVersionInfo::Set(const std::wstring& path, FixedFileVersion v) {
    std::lock_guard<std::mutex> lock(mu_);
    files_[path] = v;
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
MessageBoxes& Port<MessageBoxes>::Default() {
    static fake::RecordingMessageBoxes instance;
    return instance;
}
template <>
Environment& Port<Environment>::Default() {
    static fake::FakeEnvironment instance;
    return instance;
}
template <>
VersionInfo& Port<VersionInfo>::Default() {
    static fake::FakeVersionInfo instance;
    return instance;
}
}  // namespace tide::platform
