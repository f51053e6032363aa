#include "platform/fake/fake_shell_execute.h"

namespace tide::platform::fake {

intptr_t RecordingShellExecutor::Execute(const std::wstring& verb, const std::wstring& file,
                                         const std::wstring& parameters,
                                         const std::optional<std::wstring>& directory, int show) {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({verb, file, parameters, directory, show});
    return result_;
}

intptr_t RecordingShellExecutor::ExecuteOwned(void* owner, const std::wstring& verb, const std::wstring& file,
                                              const std::wstring& parameters,
                                              const std::optional<std::wstring>& directory, int show) {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({verb, file, parameters, directory, show, owner});
    return result_;
}

void RecordingShellExecutor::SetResult(intptr_t result) {
    std::lock_guard<std::mutex> lock(mu_);
    result_ = result;
}

std::vector<ShellCall> RecordingShellExecutor::Calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
}

}  // namespace tide::platform::fake

namespace tide::platform {
template <>
ShellExecutor& Port<ShellExecutor>::Default() {
    static fake::RecordingShellExecutor instance;
    return instance;
}
}  // namespace tide::platform
