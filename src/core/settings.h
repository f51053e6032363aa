// The settings store: named string values under
// HKEY_LOCAL_MACHINE\Software\Quorvan Labs\Tidewell in the machine's native
// registry view, and the probes of the process architecture.
#pragma once

#include <cstdint>
#include <string>

namespace tide {

// Key of the settings store below HKEY_LOCAL_MACHINE.
extern const wchar_t* const kSettingsKey;      // "\Software\Quorvan Labs\Tidewell"
extern const wchar_t* const kSettingsVendorKey;  // "\Software\Quorvan Labs"

// The value name of the settings store; empty text when the key or the
// value is missing. Each call opens and closes the key (nothing cached).
std::wstring ReadSetting(const std::wstring& name);
// Stores value under name, creating the key when needed; silently does
// nothing when the key cannot be opened or created.
void WriteSetting(const std::wstring& name, const std::wstring& value);

// ReadSetting("AppPath"): the install directory, ending in "\".
std::wstring InstallDirectory();
// Stores path with a trailing "\" as "AppPath"; returns true.
bool SaveInstallDirectory(const std::wstring& path);
std::wstring AddTrailingBackslash(const std::wstring& text);

// True when this 32-bit process runs on 64-bit Windows. Throws tide::Error
// "IsWow64: bad process handle" when the probe itself fails.
bool IsWow64();
// PROCESSOR_ARCHITECTURE code of the machine (6 IA-64, 9 AMD64).
int NativeProcessorArchitecture();
// "x86", "x64", "ia64", or empty text for another processor.
std::wstring NativeArchString();
// ReadSetting("ServiceInstalled") is exactly "Y".
bool IsServiceInstalled();

}  // namespace tide
