// ShellExecuteW.
#include <windows.h>
#include <shellapi.h>

#include "platform/shell_execute.h"

namespace tide::platform::win32 {
namespace {

class Win32ShellExecutor : public ShellExecutor {
public:
    intptr_t Execute(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                     const std::optional<std::wstring>& directory, int show) override {
        HINSTANCE h = ShellExecuteW(nullptr, verb.c_str(), file.c_str(), parameters.c_str(),
                                    directory ? directory->c_str() : nullptr, show);
        return reinterpret_cast<intptr_t>(h);
    }
    intptr_t ExecuteOwned(void* owner, const std::wstring& verb, const std::wstring& file,
                          const std::wstring& parameters, const std::optional<std::wstring>& directory,
                          int show) override {
        HINSTANCE h = ShellExecuteW(static_cast<HWND>(owner), verb.c_str(), file.c_str(), parameters.c_str(),
                                    directory ? directory->c_str() : nullptr, show);
        return reinterpret_cast<intptr_t>(h);
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
ShellExecutor& Port<ShellExecutor>::Default() {
    static win32::Win32ShellExecutor instance;
    return instance;
}
}  // namespace tide::platform
