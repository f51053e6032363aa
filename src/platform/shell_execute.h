// Handing a file to the shell: ShellExecuteW, which starts a program (or
// opens a document with its registered program) and returns at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/port.h"

namespace tide::platform {

// Show commands as ShellExecuteW takes them.
constexpr int kSwShowNormal = 1;

class ShellExecutor {
public:
    virtual ~ShellExecutor() = default;
    // ShellExecuteW with no owner window: verb, file, the parameter text
    // (passed even when empty), the working directory (none: none passed)
    // and the show command. Returns what ShellExecuteW returns: a value
    // above 32 on success, an error code otherwise. Never waits for the
    // started program.
    virtual intptr_t Execute(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                             const std::optional<std::wstring>& directory, int show) = 0;
    // The same with an owner window (an HWND; nullptr: none) for whatever
    // the shell shows about the start.
    virtual intptr_t ExecuteOwned(void* owner, const std::wstring& verb, const std::wstring& file,
                                  const std::wstring& parameters, const std::optional<std::wstring>& directory,
                                  int show) {
        return Execute(verb, file, parameters, directory, show);
    }
};

inline ShellExecutor& Shell() { return Port<ShellExecutor>::Get(); }

}  // namespace tide::platform
