// The settings store: named string values under
// HKEY_LOCAL_MACHINE\Software\Quorvan Labs\Tidewell in the machine's native
// registry view.
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

// ReadSetting("ServiceInstalled") is exactly "Y".
bool IsServiceInstalled();

}  // namespace tide
