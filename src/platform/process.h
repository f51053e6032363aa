// Starting outside programs: process creation with an optional output pipe,
// waiting in slices, the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/port.h"

namespace tide::platform {

// Creation flags as the Windows process creation takes them.
constexpr uint32_t kCreateNewConsole = 0x00000010;
constexpr uint32_t kDetachedProcess = 0x00000008;
constexpr uint32_t kCreateNoWindow = 0x08000000;
constexpr uint32_t kCreateNewProcessGroup = 0x00000200;

struct ProcessStart {
    // Program path; none: the program is the first word of commandLine.
    std::optional<std::wstring> application;
    // The whole command line the program receives, its first word taking the
    // program-name position; none: no command line.
    std::optional<std::wstring> commandLine;
    // Current directory of the program; none: the caller's own.
    std::optional<std::wstring> workDir;
    uint32_t flags = 0;
    bool inheritHandles = false;
    // Creates an anonymous pipe (buffer of pipeBuffer bytes) whose write end
    // becomes the program's standard output; read it with ReadOutput.
    bool captureOutput = false;
    uint32_t pipeBuffer = 2048;
    // Start the program's window hidden (SW_HIDE).
    bool hideWindow = false;
    // Detach the caller from its own console before the start.
    bool detachConsole = false;
};

enum class PipeRead {
    Data,     // bytes arrived
    Nothing,  // none arrived within the wait; the pipe is still open
    Closed,   // every write end is closed and the pipe is drained, or it broke
};

// A started program. Destruction closes every handle still open; it neither
// waits for nor ends the program.
class Process {
public:
    virtual ~Process() = default;
    // Waits up to ms milliseconds; true once the program has ended. On a
    // thread with windows a window message that arrives ends the wait early
    // (false), so the caller can handle it at once.
    virtual bool Wait(uint32_t ms) = 0;
    // Exit code of the ended program.
    virtual uint32_t ExitCode() = 0;
    // Reads up to max bytes of captured output, waiting at most waitMs for
    // the first byte. Never blocks longer than that, even while another
    // process holds a write end. One reader thread at a time.
    virtual PipeRead ReadOutput(char* buffer, size_t max, size_t& got, uint32_t waitMs) = 0;
    // Closes our copy of the pipe's write end (the program keeps its own).
    virtual void CloseOutputWrite() = 0;
    // Closes the read end; only when no ReadOutput can be running.
    virtual void CloseOutputRead() = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    // nullptr when the program could not be started; error then holds the
    // system error code (2 for a missing program file).
    virtual std::unique_ptr<Process> Start(const ProcessStart& start, uint32_t& error) = 0;
};

inline Processes& Procs() { return Port<Processes>::Get(); }

}  // namespace tide::platform
