// Probes of the process and the machine: whether this process runs under
// WOW64 (a 32-bit program on 64-bit Windows) and what the native processor
// is. Both functions are looked up in kernel32 at run time, because old
// Windows versions do not export them.
#pragma once

#include <cstdint>

#include "platform/port.h"

namespace tide::platform {

// Windows PROCESSOR_ARCHITECTURE_* codes.
enum : uint16_t {
    kProcessorX86 = 0,
    kProcessorIa64 = 6,
    kProcessorAmd64 = 9,
    kProcessorArm64 = 12,
    kProcessorUnknown = 0xFFFF,
};

class Wow64Probes {
public:
    enum class Wow64 {
        NoFunction,  // kernel32 does not export IsWow64Process
        CallFailed,  // IsWow64Process returned FALSE
        No,
        Yes,
    };
    virtual ~Wow64Probes() = default;
    // IsWow64Process for the current process.
    virtual Wow64 IsWow64Process() = 0;
    // wProcessorArchitecture from GetNativeSystemInfo when kernel32 exports
    // it, else from GetSystemInfo.
    virtual uint16_t NativeProcessorArchitecture() = 0;
};

inline Wow64Probes& Probes() { return Port<Wow64Probes>::Get(); }

}  // namespace tide::platform
