// Native stand-ins for message boxes, the process environment and version
// resources. Each records what the logic asked of it so tests can look.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/version_info.h"

namespace tide::platform::fake {

using platform::RecordingMessageBoxes;
using platform::ShownBox;

class FakeEnvironment : public Environment {
public:
    std::wstring CommandLine() override;
    std::wstring Variable(const std::wstring& name) override;
    void PutVariable(const std::wstring& name, const std::wstring& value) override { SetVariable(name, value); }
    void RemoveVariable(const std::wstring& name) override;
    std::wstring ExecutablePath() override;
    void SetApplicationTitle(const std::wstring& title) override;
    std::wstring ApplicationTitle() override;
    void RequestQuit() override;
    bool QuitRequested() override;
    void ProcessMessages() override;
    // Lets the time pass on the clock port, recording that it was spent
    // handling messages.
    void ProcessMessagesFor(uint32_t ms) override;
    // Waits until a quit is requested (from any thread).
    void RunMessageLoop() override;
    void PassToMessageLoop(std::exception_ptr error) override;

    void SetCommandLine(const std::wstring& line);
    // A command line of these arguments, each quoted when empty or holding a
    // blank (none may hold a double quote).
    void SetArguments(const std::vector<std::wstring>& args);
    void SetVariable(const std::wstring& name, const std::wstring& value);
    void SetExecutablePath(const std::wstring& path);
    int ProcessMessagesCalls();
    // What ProcessMessagesFor was asked for, added up.
    uint64_t MessageWaitMs();

private:
    std::mutex mu_;
    std::condition_variable quitChanged_;
    std::wstring commandLine_ = L"C:\\Downloads\\Tidestart.exe";
    std::map<std::wstring, std::wstring> vars_;
    std::wstring exe_ = L"C:\\Downloads\\Tidestart.exe";
    std::wstring title_;
    bool quit_ = false;
    std::exception_ptr loopError_;
    int pumps_ = 0;
    uint64_t messageWaitMs_ = 0;
};

class FakeVersionInfo : public VersionInfo {
public:
    bool ReadFixedFileVersion(const std::wstring& path, FixedFileVersion& out) override;
    void Set(const std::wstring& path, FixedFileVersion v);

private:
    std::mutex mu_;
    std::map<std::wstring, FixedFileVersion> files_;
};

}  // namespace tide::platform::fake
