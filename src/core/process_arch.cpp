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

int NativeProcessorArchitecture() { return platform::Probes().NativeProcessorArchitecture(); }

std::wstring NativeArchString() {
    if (!IsWow64()) return L"x86";
    switch (NativeProcessorArchitecture()) {
        case platform::kProcessorIa64: return L"ia64";
        case platform::kProcessorAmd64: return L"x64";
        default: return std::wstring();
    }
}

}  // namespace tide
