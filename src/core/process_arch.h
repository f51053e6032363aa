// The probes of the process and machine architecture: whether this 32-bit
// process runs under WOW64 and what the machine's own processor is.
#pragma once

#include <string>

namespace tide {

// True when this 32-bit process runs on 64-bit Windows. Throws tide::Error
// "IsWow64: bad process handle" when the probe itself fails.
bool IsWow64();
// True on 64-bit Windows: IsWow64() for the 32-bit program, always for the
// x86_64 build, which then takes the same road (64-bit runtime and Tomcat,
// the x64 redirector).
bool Is64BitWindows();
// PROCESSOR_ARCHITECTURE code of the machine (6 IA-64, 9 AMD64).
int NativeProcessorArchitecture();
// "x86", "x64", "ia64", or empty text for another processor.
std::wstring NativeArchString();

}  // namespace tide
