// Process environment: command line, environment variables, application-wide
// settings made at start-up, the request to quit and the message loop.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "platform/port.h"

namespace tide::platform {

class Environment {
public:
    virtual ~Environment() = default;
    // The command line exactly as the process was started with it.
    virtual std::wstring CommandLine() = 0;
    // Its arguments, index 0 being the program path.
    std::vector<std::wstring> Arguments() { return SplitCommandLine(CommandLine()); }
    // Empty text for a missing variable.
    virtual std::wstring Variable(const std::wstring& name) = 0;
    // Sets a variable of this process (programs started afterwards inherit
    // it), or removes it.
    virtual void PutVariable(const std::wstring& name, const std::wstring& value) = 0;
    virtual void RemoveVariable(const std::wstring& name) = 0;
    // Full path of the running executable.
    virtual std::wstring ExecutablePath() = 0;
    virtual void SetApplicationTitle(const std::wstring& title) = 0;
    virtual std::wstring ApplicationTitle() = 0;
    // Asks the message loop of the window thread (the thread that started
    // the program) to end; takes effect when control returns to it. Any
    // thread may ask. While a message box of the window thread is up, the
    // request waits until the box has closed.
    virtual void RequestQuit() = 0;
    virtual bool QuitRequested() = 0;
    // Handles the window messages that are waiting (keeps windows alive
    // during long waits on the main thread).
    virtual void ProcessMessages() = 0;
    // Waits ms milliseconds while handling the window messages as they come
    // (instead of sleeping): every wait on the window thread waits this way,
    // so the window goes on answering.
    virtual void ProcessMessagesFor(uint32_t ms) = 0;
    // Runs the message loop of the window thread until a quit request
    // reaches it. An error that a window procedure or timer handler passed
    // on (RunHandler) is raised again once the loop has ended.
    virtual void RunMessageLoop() = 0;
    // Keeps the error for RunMessageLoop to raise (the first one wins) and
    // requests the quit.
    virtual void PassToMessageLoop(std::exception_ptr error) = 0;
};

inline Environment& Env() { return Port<Environment>::Get(); }

// Runs the work of a window procedure or timer handler. An error must not
// try to unwind through the window system's frames, which would end the
// process or swallow it: it goes to the message loop instead, which ends
// and raises it again for the handler at the top of the program. Returns
// false when the work failed.
template <class Work>
bool RunHandler(Work&& work) noexcept {
    try {
        work();
        return true;
    } catch (...) {
        Env().PassToMessageLoop(std::current_exception());
        return false;
    }
}

}  // namespace tide::platform
