#include "platform/fake/fake_system.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tide::platform {

namespace fake {

class FakeProcess : public Process {
public:
    FakeProcess(FakeProcesses& owner, FakeProgram program, bool pipe)
        : owner_(owner), program_(std::move(program)), readOpen_(pipe), writeOpen_(pipe) {
        std::lock_guard<std::mutex> lock(owner_.mu_);
        ++owner_.live_;
        if (pipe) owner_.openPipeEnds_ += 2;
    }
    ~FakeProcess() override {
        CloseOutputWrite();
        CloseOutputRead();
        std::lock_guard<std::mutex> lock(owner_.mu_);
        --owner_.live_;
    }
    bool Wait(uint32_t ms) override {
        {
            std::lock_guard<std::mutex> lock(owner_.mu_);
            owner_.waits_.push_back(ms);
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (waited_ >= program_.slicesBeforeExit) {
                ended_ = true;
                return true;
            }
            ++waited_;
        }
        // Some time passes in a slice (a little, to keep tests quick), so the
        // reader thread really runs alongside the waits.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(ms, 3)));
        return false;
    }
    uint32_t ExitCode() override { return program_.exitCode; }
    PipeRead ReadOutput(char* buffer, size_t max, size_t& got, uint32_t waitMs) override {
        got = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (!readOpen_) return PipeRead::Closed;
            bool visible = ended_ || !program_.outputAfterExit;
            if (visible && next_ < program_.output.size()) {
                const std::string& chunk = program_.output[next_];
                got = std::min(max, chunk.size() - offset_);
                chunk.copy(buffer, got, offset_);
                offset_ += got;
                if (offset_ == chunk.size()) {
                    ++next_;
                    offset_ = 0;
                }
                return PipeRead::Data;
            }
            if (ended_ && program_.heirKeepsWriting && !program_.output.empty()) {
                const std::string& chunk = program_.output.back();
                got = std::min(max, chunk.size());
                chunk.copy(buffer, got);
                return PipeRead::Data;
            }
            // The program's copy of the write end goes with the program.
            if (ended_ && !writeOpen_) return PipeRead::Closed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(waitMs, 2)));
        return PipeRead::Nothing;
    }
    void CloseOutputWrite() override { CloseEnd(writeOpen_); }
    void CloseOutputRead() override { CloseEnd(readOpen_); }

private:
    void CloseEnd(bool& open) {
        std::lock_guard<std::mutex> lock(mu_);
        if (!open) return;
        open = false;
        std::lock_guard<std::mutex> ownerLock(owner_.mu_);
        --owner_.openPipeEnds_;
    }
    FakeProcesses& owner_;
    FakeProgram program_;
    std::mutex mu_;
    int waited_ = 0;
    bool ended_ = false;
    size_t next_ = 0;
    size_t offset_ = 0;
    bool readOpen_;
    bool writeOpen_;
};

std::unique_ptr<Process> FakeProcesses::Start(const ProcessStart& start, uint32_t& error) {
    FakeProgram program;
    {
        std::lock_guard<std::mutex> lock(mu_);
        starts_.push_back(start);
        if (!queue_.empty()) {
            program = queue_.front();
            queue_.pop_front();
        }
    }
    if (program.startError != 0) {
        error = program.startError;
        return nullptr;
    }
    error = 0;
    if (program.effect) program.effect(start);
    return std::make_unique<FakeProcess>(*this, std::move(program), start.captureOutput);
}

void FakeProcesses::Queue(FakeProgram program) {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(std::move(program));
}

std::vector<ProcessStart> FakeProcesses::Starts() {
    std::lock_guard<std::mutex> lock(mu_);
    return starts_;
}

std::vector<uint32_t> FakeProcesses::Waits() {
    std::lock_guard<std::mutex> lock(mu_);
    return waits_;
}

int FakeProcesses::OpenPipeEnds() {
    std::lock_guard<std::mutex> lock(mu_);
    return openPipeEnds_;
}

int FakeProcesses::LivePrograms() {
    std::lock_guard<std::mutex> lock(mu_);
    return live_;
}

// ---- service control manager ----

namespace {
constexpr uint32_t kErrAccessDenied = 5;
constexpr uint32_t kErrInvalidHandle = 6;
constexpr uint32_t kErrServiceAlreadyRunning = 1056;
constexpr uint32_t kErrServiceDoesNotExist = 1060;
constexpr uint32_t kErrServiceNotActive = 1062;
constexpr uint32_t kErrInvalidServiceControl = 1052;
}  // namespace

bool FakeServiceControl::Fail(uint32_t code) {
    lastError_ = code;
    return false;
}

ScHandle FakeServiceControl::OpenManager(const wchar_t*, const wchar_t*, uint32_t) {
    std::lock_guard<std::mutex> lock(mu_);
    if (denyManager_) {
        Fail(kErrAccessDenied);
        return 0;
    }
    ScHandle h = next_++;
    handles_[h] = std::wstring();
    return h;
}

ScHandle FakeServiceControl::Open(ScHandle manager, const wchar_t* name, uint32_t) {
    std::lock_guard<std::mutex> lock(mu_);
    auto m = handles_.find(manager);
    if (manager == 0 || m == handles_.end() || !m->second.empty()) {
        Fail(kErrInvalidHandle);
        return 0;
    }
    if (!name || services_.find(name) == services_.end()) {
        Fail(kErrServiceDoesNotExist);
        return 0;
    }
    ScHandle h = next_++;
    handles_[h] = name;
    return h;
}

bool FakeServiceControl::Start(ScHandle service, uint32_t argc, const wchar_t** argv) {
    std::lock_guard<std::mutex> lock(mu_);
    auto h = handles_.find(service);
    if (service == 0 || h == handles_.end() || h->second.empty()) return Fail(kErrInvalidHandle);
    Service& s = services_[h->second];
    if (s.state != 1) return Fail(kErrServiceAlreadyRunning);
    startArgs_.clear();
    for (uint32_t i = 0; i < argc; ++i) startArgs_.emplace_back(argv[i]);
    s.state = 4;
    return true;
}

bool FakeServiceControl::Control(ScHandle service, uint32_t control) {
    std::lock_guard<std::mutex> lock(mu_);
    auto h = handles_.find(service);
    if (service == 0 || h == handles_.end() || h->second.empty()) return Fail(kErrInvalidHandle);
    controls_.push_back(control);
    Service& s = services_[h->second];
    switch (control) {
        case 1:  // stop
        case 5:  // shutdown
            if (s.state == 1) return Fail(kErrServiceNotActive);
            s.state = 1;
            return true;
        case 2:  // pause
            if (s.state != 4) return Fail(kErrServiceNotActive);
            s.state = 7;
            return true;
        case 3:  // continue
            if (s.state != 7) return Fail(kErrServiceNotActive);
            s.state = 4;
            return true;
        default: return Fail(kErrInvalidServiceControl);
    }
}

bool FakeServiceControl::QueryState(ScHandle service, uint32_t& state) {
    std::lock_guard<std::mutex> lock(mu_);
    auto h = handles_.find(service);
    if (service == 0 || h == handles_.end() || h->second.empty()) return Fail(kErrInvalidHandle);
    if (queryFails_) return Fail(kErrInvalidHandle);
    Service& s = services_[h->second];
    if (!s.queued.empty()) {
        state = s.queued.front();
        s.queued.pop_front();
    } else {
        state = s.state;
    }
    return true;
}

void FakeServiceControl::Close(ScHandle handle) {
    std::lock_guard<std::mutex> lock(mu_);
    closed_.push_back(handle);
    handles_.erase(handle);
}

uint32_t FakeServiceControl::LastError() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastError_;
}

void FakeServiceControl::AddService(const std::wstring& name, uint32_t state) {
    std::lock_guard<std::mutex> lock(mu_);
    services_[name].state = state;
}

uint32_t FakeServiceControl::State(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    return services_[name].state;
}

void FakeServiceControl::QueueStates(const std::wstring& name, std::vector<uint32_t> states) {
    std::lock_guard<std::mutex> lock(mu_);
    for (uint32_t s : states) services_[name].queued.push_back(s);
}

void FakeServiceControl::SetDenyManager(bool deny) {
    std::lock_guard<std::mutex> lock(mu_);
    denyManager_ = deny;
}

void FakeServiceControl::SetQueryFails(bool fails) {
    std::lock_guard<std::mutex> lock(mu_);
    queryFails_ = fails;
}

std::vector<ScHandle> FakeServiceControl::Closed() {
    std::lock_guard<std::mutex> lock(mu_);
    return closed_;
}

int FakeServiceControl::OpenHandles() {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(handles_.size());
}

std::vector<uint32_t> FakeServiceControl::Controls() {
    std::lock_guard<std::mutex> lock(mu_);
    return controls_;
}

std::vector<std::wstring> FakeServiceControl::LastStartArguments() {
    std::lock_guard<std::mutex> lock(mu_);
    return startArgs_;
}

bool FakeServiceControl::IsManager(ScHandle h) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = handles_.find(h);
    return it != handles_.end() && it->second.empty();
}

// ---- system facts ----

bool FakeOsInfo::QueryVersion(TOSVersionInfo& info) {
    std::lock_guard<std::mutex> lock(mu_);
    if (versionFails_ || info.dwOSVersionInfoSize != 276) return false;
    info = version_;
    return true;
}

bool FakeOsInfo::TokenIsAdministrator() {
    std::lock_guard<std::mutex> lock(mu_);
    return admin_;
}

std::wstring FakeOsInfo::ComputerName(uint32_t bufferChars) {
    std::lock_guard<std::mutex> lock(mu_);
    nameBuffers_.push_back(bufferChars);
    // Like GetComputerNameW: a name that does not fit fails.
    if (computer_.size() + 1 > bufferChars) return std::wstring();
    return computer_;
}

std::wstring FakeOsInfo::TempPath() {
    std::lock_guard<std::mutex> lock(mu_);
    return temp_;
}

std::wstring FakeOsInfo::SystemMessage(uint32_t code, uint32_t maxChars) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = messages_.find(code);
    std::wstring text = it != messages_.end() ? it->second : L"Error " + std::to_wstring(code) + L".";
    return text.substr(0, maxChars);
}

void FakeOsInfo::SetVersion(uint32_t major, uint32_t minor, uint32_t platformId) {
    std::lock_guard<std::mutex> lock(mu_);
    version_.dwMajorVersion = major;
    version_.dwMinorVersion = minor;
    version_.dwPlatformId = platformId;
}

void FakeOsInfo::SetVersionFails(bool fails) {
    std::lock_guard<std::mutex> lock(mu_);
    versionFails_ = fails;
}

void FakeOsInfo::SetAdministrator(bool admin) {
    std::lock_guard<std::mutex> lock(mu_);
    admin_ = admin;
}

void FakeOsInfo::SetComputerName(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    computer_ = name;
}

void FakeOsInfo::SetTempPath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    temp_ = path;
}

void FakeOsInfo::SetMessage(uint32_t code, const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mu_);
    messages_[code] = text;
}

std::vector<uint32_t> FakeOsInfo::ComputerNameBuffers() {
    std::lock_guard<std::mutex> lock(mu_);
    return nameBuffers_;
}

}  // namespace fake

template <>
Processes& Port<Processes>::Default() {
    static fake::FakeProcesses instance;
    return instance;
}
template <>
ServiceControl& Port<ServiceControl>::Default() {
    static fake::FakeServiceControl instance;
    return instance;
}
template <>
OsInfo& Port<OsInfo>::Default() {
    static fake::FakeOsInfo instance;
    return instance;
}

}  // namespace tide::platform
