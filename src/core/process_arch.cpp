#include "core/process_arch.h"

#include "base/error.h"
#include "platform/wow64.h"

namespace tide {

bool IsWow64() {
#if defined(_WIN64)
    // The x86_64 build runs on 64-bit Windows by construction, where the
    // 32-bit program would run under WOW64: it takes that program's road
    // (64-bit view, 64-bit runtime and Tomcat) rather than the road of
    // 32-bit Windows.
    return true;
#else
    using W = platform::Wow64Probes::Wow64;
    switch (platform::Probes().IsWow64Process()) {
        case W::NoFunction: return false;
        case W::CallFailed: throw Error(L"IsWow64: bad process handle");
        case W::No: return false;
        case W::Yes: return true;
    }
    return false;
#endif
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
