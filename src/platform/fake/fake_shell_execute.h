// Native stand-in for ShellExecuteW: records every call and answers with
// the result a test set (success unless told otherwise).
#pragma once

#include <mutex>
#include <vector>

#include "platform/shell_execute.h"

namespace tide::platform::fake {

struct ShellCall {
    std::wstring verb;
    std::wstring file;
    std::wstring parameters;
    std::optional<std::wstring> directory;
    int show = 0;
    void* owner = nullptr;  // the owner window given, nullptr for none
};

class RecordingShellExecutor : public ShellExecutor {
public:
    intptr_t Execute(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                     const std::optional<std::wstring>& directory, int show) override;
    intptr_t ExecuteOwned(void* owner, const std::wstring& verb, const std::wstring& file,
                          const std::wstring& parameters, const std::optional<std::wstring>& directory,
                          int show) override;

    // The value the next calls return (42: success; 2: file not found).
    void SetResult(intptr_t result);
    std::vector<ShellCall> Calls();

private:
    std::mutex mu_;
    intptr_t result_ = 42;
    std::vector<ShellCall> calls_;
};

}  // namespace tide::platform::fake
