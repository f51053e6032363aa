// Running outside programs: the unzip tool, the command interpreter with the
// server's batch scripts, the service wrapper.
//
//  - TCommandRunner starts a program without a window, captures its standard
//    output through a pipe, shows the latest complete output line in a status
//    line and waits for the program while the window stays responsive.
//  - RunAndWait starts a program in a new visible console and waits for it.
//  - UnzipArchive unpacks an archive with the install directory's UNZIP.EXE.
//
// All three succeed when the program ends with exit code 0. A program that
// cannot be started is reported in a "Notice" box with the system's text for
// the error; a non-zero exit code is the caller's to report.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/progress.h"

namespace tide {

using TStatusBar = platform::StatusLine;
using TStringList = std::vector<std::wstring>;

// Splits program output into lines. Bytes 13 and 10 end a line, empty lines
// are dropped (so CR LF gives one line), and every other byte becomes the
// character with the same code (byte 233 is U+00E9): output is taken as
// ISO 8859-1, whatever the system's code page.
class TOutputLines {
public:
    // Takes one chunk; completed lines are appended to collected when given.
    void Feed(const char* bytes, size_t count, TStringList* collected);
    // The latest complete line (empty until one completes).
    const std::wstring& LastLine() const { return last_; }
    // The unfinished line so far.
    const std::wstring& CurrentLine() const { return current_; }

private:
    std::wstring current_;
    std::wstring last_;
};

class TCommandRunner {
public:
    static constexpr uint32_t kDefaultFlags = platform::kCreateNoWindow | platform::kDetachedProcess;
    static constexpr size_t kReadChunk = 2049;
    static constexpr uint32_t kWaitSliceMs = 100;

    // The output reader never runs before RunCommand has created the program
    // and its pipe, whatever CreateSuspended says: a reader started earlier
    // would find no pipe, end, and leave a talkative program blocked on a
    // full pipe for ever. Every caller passes true.
    explicit TCommandRunner(bool CreateSuspended = true);
    // Ends the reader and waits for it; closes whatever is still open.
    virtual ~TCommandRunner();
    TCommandRunner(const TCommandRunner&) = delete;
    TCommandRunner& operator=(const TCommandRunner&) = delete;

    // Not owned. sb may be called from the reader thread (StatusLine is
    // thread-safe by contract); sl is filled by the reader and complete once
    // RunCommand has returned.
    TStatusBar* sb = nullptr;
    TStringList* sl = nullptr;
    bool WaitForTermination = true;
    uint32_t dwFlags = kDefaultFlags;

    // Starts sCommand (the program path; empty: the first word of sFlags)
    // with the command line sFlags in sWorkDir (empty: our own current
    // directory). Waits in 100 ms slices, handling window messages between
    // them. True when the program started and ended with exit code 0. One
    // command per runner: a second call returns false.
    bool RunCommand(const std::wstring& sCommand, const std::wstring& sFlags, const std::wstring& sWorkDir);

    bool Terminated() const { return terminated_.load(); }
    void Terminate() { terminated_ = true; }

protected:
    // The pipe reader (runs on the runner's own thread).
    virtual void Execute();

private:
    void StartReader();
    void FinishReader();

    std::unique_ptr<platform::Process> process_;
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    bool used_ = false;
};

// Starts a program in a new, visible console window and waits for it in
// 100 ms slices, handling window messages between them. Empty application
// or command line are passed as none; the working directory is always
// passed, even empty. True when the program started and ended with exit
// code 0.
bool RunAndWait(const std::wstring& application, const std::wstring& commandLine, const std::wstring& workDir);
// RunAndWait for callers that report the outcome themselves: the program's
// exit code, or none when it could not be started (the "Notice" box has
// then been shown). A working directory of none starts the program in this
// process's current directory (an empty one cannot be created: error 267).
std::optional<uint32_t> RunAndWaitForExit(const std::wstring& application, const std::wstring& commandLine,
                                          const std::optional<std::wstring>& workDir);
// The same for callers that also say themselves why the program could not
// be started: no box is shown then, and startError gets the system's code.
std::optional<uint32_t> RunAndWaitForExit(const std::wstring& application, const std::wstring& commandLine,
                                          const std::optional<std::wstring>& workDir, uint32_t& startError);
// The system's text for an error code, as the "Notice" boxes show it.
std::wstring SystemErrorText(uint32_t error);

// Unpacks archive (full path) with InstallDirectory() + "UNZIP.EXE" and the
// command line -o -o "archive", in destination as working directory, so the
// members land in destination, replacing files already there. The tool's
// output goes to sb. True when the tool ended with exit code 0; shows
// nothing of its own on failure.
bool UnzipArchive(const std::wstring& archive, const std::wstring& destination, TStatusBar* sb);

}  // namespace tide
