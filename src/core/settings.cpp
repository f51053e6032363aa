#include "core/settings.h"

#include "core/ArchAwareRegistry.h"

namespace tide {

const wchar_t* const kSettingsKey = L"\\Software\\Quorvan Labs\\Tidewell";
const wchar_t* const kSettingsVendorKey = L"\\Software\\Quorvan Labs";

std::wstring ReadSetting(const std::wstring& name) {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ);
    std::wstring value;
    if (reg.OpenKey(kSettingsKey, false)) {
        value = reg.ReadString(name);
        reg.CloseKey();
    }
    return value;
}

void WriteSetting(const std::wstring& name, const std::wstring& value) {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_WRITE);
    if (reg.OpenKey(kSettingsKey, true)) reg.WriteString(name, value);
    reg.CloseKey();
}

std::wstring InstallDirectory() { return ReadSetting(L"AppPath"); }

bool SaveInstallDirectory(const std::wstring& path) {
    WriteSetting(L"AppPath", AddTrailingBackslash(path));
    return true;
}

// An empty text gets a lone "\": callers join names onto the result, and a
// directory text always ends in a backslash.
std::wstring AddTrailingBackslash(const std::wstring& text) {
    if (!text.empty() && text.back() == L'\\') return text;
    return text + L"\\";
}

bool IsServiceInstalled() { return ReadSetting(L"ServiceInstalled") == L"Y"; }

}  // namespace tide
