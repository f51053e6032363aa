#include "system/CommandRunner.h"

#include <optional>

#include "core/settings.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/os_info.h"

namespace tide {

namespace {

constexpr uint32_t kNoticeTextChars = 512;
// The window handles its messages between the slices: longer ones would
// leave it unanswering (a migration script or a handed-over installer runs
// for minutes), so the slice is the command runner's.
constexpr uint32_t kRunAndWaitSliceMs = 100;
// How long one read waits for output before the reader looks at its
// terminate mark again.
constexpr uint32_t kReadPollMs = 50;
// After the program has ended, the reader still takes what is in the pipe;
// a grandchild that inherited the pipe and keeps writing is cut off after
// this long so the caller is never held up by it.
constexpr uint64_t kDrainLimitMs = 1000;

std::optional<std::wstring> NoneWhenEmpty(const std::wstring& s) {
    if (s.empty()) return std::nullopt;
    return s;
}

void ShowStartFailure(uint32_t error) {
    platform::ShowMessage(SystemErrorText(error), L"Notice", platform::MbIcon::Warning);
}

}  // namespace

void TOutputLines::Feed(const char* bytes, size_t count, TStringList* collected) {
    for (size_t i = 0; i < count; ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == 13 || b == 10) {
            if (!current_.empty()) {
                last_ = current_;
                if (collected) collected->push_back(current_);
                current_.clear();
            }
        } else {
            current_.push_back(static_cast<wchar_t>(b));
        }
    }
}

TCommandRunner::TCommandRunner(bool CreateSuspended) { (void)CreateSuspended; }

TCommandRunner::~TCommandRunner() {
    // A runner whose program never started has no reader: nothing to join.
    // One that did not wait (WaitForTermination false) still has its reader
    // and pipe: stop and release them here.
    FinishReader();
}

bool TCommandRunner::RunCommand(const std::wstring& sCommand, const std::wstring& sFlags,
                                const std::wstring& sWorkDir) {
    if (used_) return false;
    used_ = true;

    platform::ProcessStart start;
    start.application = NoneWhenEmpty(sCommand);
    start.commandLine = NoneWhenEmpty(sFlags);
    start.workDir = NoneWhenEmpty(sWorkDir);
    start.flags = dwFlags;
    start.inheritHandles = true;
    start.captureOutput = true;
    start.pipeBuffer = 2048;
    if (dwFlags != platform::kCreateNewConsole) {
        start.hideWindow = true;
        start.detachConsole = true;
    }

    uint32_t error = 0;
    process_ = platform::Procs().Start(start, error);
    if (!process_) {
        ShowStartFailure(error);
        return false;
    }
    StartReader();
    if (!WaitForTermination) return true;

    while (!process_->Wait(kWaitSliceMs)) platform::Env().ProcessMessages();
    Terminate();
    uint32_t exitCode = process_->ExitCode();
    FinishReader();
    return exitCode == 0;
}

void TCommandRunner::StartReader() { thread_ = std::thread([this] { Execute(); }); }

void TCommandRunner::FinishReader() {
    Terminate();
    if (!process_) return;
    // Closing our write end lets the pipe report its end once the program
    // (and anything it started) has let go of its copy. The read end is
    // closed only after the reader has returned, so no read can be running.
    process_->CloseOutputWrite();
    if (thread_.joinable()) thread_.join();
    process_->CloseOutputRead();
}

void TCommandRunner::Execute() {
    TOutputLines lines;
    char buffer[kReadChunk];
    platform::Clock& clock = platform::SystemClock();
    std::optional<uint64_t> drainSince;
    for (;;) {
        // Looked at before the read: once the mark is set the program has
        // ended, so everything it wrote is already in the pipe and a read that
        // finds nothing means the output is complete. (Looking after the read
        // would drop output that arrived while the read was waiting.)
        bool finishing = Terminated();
        if (finishing) {
            uint64_t now = clock.TickMs();
            if (!drainSince) drainSince = now;
            else if (now - *drainSince > kDrainLimitMs) break;
        }
        size_t got = 0;
        platform::PipeRead r = process_->ReadOutput(buffer, sizeof buffer, got, kReadPollMs);
        if (r == platform::PipeRead::Closed) break;
        if (r == platform::PipeRead::Nothing) {
            if (finishing) break;
            continue;
        }
        lines.Feed(buffer, got, sl);
        if (sb) sb->SetText(lines.LastLine());
    }
}

std::wstring SystemErrorText(uint32_t error) { return platform::Os().SystemMessage(error, kNoticeTextChars); }

std::optional<uint32_t> RunAndWaitForExit(const std::wstring& application, const std::wstring& commandLine,
                                          const std::optional<std::wstring>& workDir) {
    uint32_t error = 0;
    std::optional<uint32_t> exitCode = RunAndWaitForExit(application, commandLine, workDir, error);
    if (!exitCode) ShowStartFailure(error);
    return exitCode;
}

std::optional<uint32_t> RunAndWaitForExit(const std::wstring& application, const std::wstring& commandLine,
                                          const std::optional<std::wstring>& workDir, uint32_t& startError) {
    platform::ProcessStart start;
    start.application = NoneWhenEmpty(application);
    start.commandLine = NoneWhenEmpty(commandLine);
    start.workDir = workDir;
    start.flags = platform::kCreateNewConsole;
    start.inheritHandles = false;

    startError = 0;
    std::unique_ptr<platform::Process> process = platform::Procs().Start(start, startError);
    if (!process) return std::nullopt;
    while (!process->Wait(kRunAndWaitSliceMs)) platform::Env().ProcessMessages();
    return process->ExitCode();
}

bool RunAndWait(const std::wstring& application, const std::wstring& commandLine, const std::wstring& workDir) {
    std::optional<uint32_t> exitCode = RunAndWaitForExit(application, commandLine, workDir);
    return exitCode && *exitCode == 0;
}

bool UnzipArchive(const std::wstring& archive, const std::wstring& destination, TStatusBar* sb) {
    TCommandRunner runner(true);
    runner.sb = sb;
    // The program path is passed separately, so the first word of the command
    // line stands in the program-name position: the tool sees one "-o".
    std::wstring commandLine = L"-o -o \"" + archive + L"\"";
    return runner.RunCommand(InstallDirectory() + L"UNZIP.EXE", commandLine, destination);
}

}  // namespace tide
