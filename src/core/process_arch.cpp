#include "core/process_arch.h"

#include "base/error.h"
#include "platform/wow64.h"

namespace tide {

bool IsWow64() {
    using W = platform::Wow64Probes::Wow64;
    switch (platform::Probes().IsWow64Process()) {
        case W::NoFunction: return false;
        case W::CallFailed: throw Error(L"IsWow64: bad process handle");
        case W::No: return false;
        case W::Yes: return true;
    }
    return false;
}

bool Is64BitWindows() {
#if defined(_WIN64)
    return true;  // the only Windows the x86_64 build runs on
#else
    return IsWow64();
#endif
}

int NativeProcessorArchitecture() { return platform::Probes().NativeProcessorArchitecture(); }

std::wstring NativeArchString() {
    if (!Is64BitWindows()) return L"x86";
    switch (NativeProcessorArchitecture()) {
        case platform::kProcessorIa64: return L"ia64";
        case platform::kProcessorAmd64: return L"x64";
        default: return std::wstring();
    }
}

}  // namespace tide
