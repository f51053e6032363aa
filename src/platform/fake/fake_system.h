// Native stand-ins for process creation, the service control manager and
// the system facts. Each plays back what a test scripted and records what
// the logic asked of it. (The native network port is real: see
// net_posix.cpp.)
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os_info.h"
#include "platform/process.h"
#include "platform/services.h"

namespace tide::platform::fake {

// What one started program does.
struct FakeProgram {
    uint32_t startError = 0;           // not 0: the start fails with this code
    std::vector<std::string> output;   // chunks, each delivered by one read
    uint32_t exitCode = 0;
    int slicesBeforeExit = 0;          // Wait calls that report "still running"
    // The output shows up in the pipe only once the program has ended (as
    // when it writes its last lines just before it exits).
    bool outputAfterExit = false;
    // Something the program started keeps its copy of the pipe and, once
    // the program has ended, writes its last chunk again and again.
    bool heirKeepsWriting = false;
    // What the program does to the machine (files it writes, say), run at
    // its start; none: nothing.
    std::function<void(const ProcessStart&)> effect = nullptr;
};

class FakeProcesses : public Processes {
public:
    std::unique_ptr<Process> Start(const ProcessStart& start, uint32_t& error) override;

    // Programs for the next starts, in order; a start with none queued runs
    // a program that prints nothing and exits with 0.
    void Queue(FakeProgram program);
    std::vector<ProcessStart> Starts();
    // The wait slices (milliseconds) asked of all programs, in order.
    std::vector<uint32_t> Waits();
    // Pipe ends still open and programs not yet freed.
    int OpenPipeEnds();
    int LivePrograms();

private:
    friend class FakeProcess;
    std::mutex mu_;
    std::deque<FakeProgram> queue_;
    std::vector<ProcessStart> starts_;
    std::vector<uint32_t> waits_;
    int openPipeEnds_ = 0;
    int live_ = 0;
};

// An in-memory service control manager. Services are registered by name;
// a started service is running at once unless states are queued, and a
// stopped one is stopped at once unless states are queued.
class FakeServiceControl : public ServiceControl {
public:
    ScHandle OpenManager(const wchar_t* machine, const wchar_t* database, uint32_t access) override;
    ScHandle Open(ScHandle manager, const wchar_t* name, uint32_t access) override;
    bool Start(ScHandle service, uint32_t argc, const wchar_t** argv) override;
    bool Control(ScHandle service, uint32_t control) override;
    bool QueryState(ScHandle service, uint32_t& state) override;
    void Close(ScHandle handle) override;
    uint32_t LastError() override;

    void AddService(const std::wstring& name, uint32_t state = 1);
    uint32_t State(const std::wstring& name);
    // States the next queries of the service report, one each, before its
    // own state shows again.
    void QueueStates(const std::wstring& name, std::vector<uint32_t> states);
    // The manager cannot be opened (error 5, access denied).
    void SetDenyManager(bool deny);
    // QueryServiceStatus fails (error 6).
    void SetQueryFails(bool fails);
    // Handles closed so far, in order, and those still open.
    std::vector<ScHandle> Closed();
    int OpenHandles();
    // Controls sent, in order, and the arguments of the last start.
    std::vector<uint32_t> Controls();
    std::vector<std::wstring> LastStartArguments();
    bool IsManager(ScHandle h);

private:
    struct Service {
        uint32_t state = 1;
        std::deque<uint32_t> queued;
    };
    bool Fail(uint32_t code);
    std::mutex mu_;
    std::map<std::wstring, Service> services_;
    std::map<ScHandle, std::wstring> handles_;  // empty name: the manager
    ScHandle next_ = 0x100;
    bool denyManager_ = false;
    bool queryFails_ = false;
    uint32_t lastError_ = 0;
    std::vector<ScHandle> closed_;
    std::vector<uint32_t> controls_;
    std::vector<std::wstring> startArgs_;
};

// Windows 7, an administrator, computer "TIDEHOST", unless set otherwise.
class FakeOsInfo : public OsInfo {
public:
    bool QueryVersion(TOSVersionInfo& info) override;
    bool TokenIsAdministrator() override;
    std::wstring ComputerName(uint32_t bufferChars) override;
    std::wstring TempPath() override;
    // "Error N." unless a text was set for the code; cut to maxChars.
    std::wstring SystemMessage(uint32_t code, uint32_t maxChars) override;

    void SetVersion(uint32_t major, uint32_t minor, uint32_t platformId = 2);
    void SetVersionFails(bool fails);
    void SetAdministrator(bool admin);
    void SetComputerName(const std::wstring& name);
    void SetTempPath(const std::wstring& path);
    void SetMessage(uint32_t code, const std::wstring& text);
    // Buffer sizes passed to ComputerName, in order.
    std::vector<uint32_t> ComputerNameBuffers();

private:
    std::mutex mu_;
    TOSVersionInfo version_{276, 6, 1, 7601, 2, L"Service Pack 1"};
    bool versionFails_ = false;
    bool admin_ = true;
    std::wstring computer_ = L"TIDEHOST";
    std::wstring temp_ = L"C:\\Users\\admin\\AppData\\Local\\Temp\\";
    std::map<uint32_t, std::wstring> messages_;
    std::vector<uint32_t> nameBuffers_;
};

}  // namespace tide::platform::fake
