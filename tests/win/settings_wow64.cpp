// The settings store from the 32-bit build under WOW64 (run by
// tests/wine/settings_wow64.sh, which checks both registry views from
// outside with reg.exe afterwards). All cases run in one process because a
// 32-bit program takes long to start here.
//
// Prints "ok: CASE" or "FAIL: CASE: why"; the exit code is the number of
// failed cases. Leaves behind, for the script to check:
//   HKLM\Software\Quorvan Labs\Tidewell  AppPath, Version (64-bit view only)
//   ...\Tidewell\Nest                    deleted in the 64-bit view,
//                                        deleted by TRegistry in the 32-bit view
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/ArchAwareRegistry.h"
#include "base/error.h"
#include "core/process_arch.h"
#include "core/settings.h"
#include "report.h"

using namespace tide;

namespace {


// Whether a key exists in one view, asked with the plain API.
bool KeyIn(const wchar_t* path, REGSAM view) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

bool MakeKey(const wchar_t* path, REGSAM view) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

const wchar_t* const kKey = L"Software\\Quorvan Labs\\Tidewell";
const wchar_t* const kNest = L"Software\\Quorvan Labs\\Tidewell\\Nest";

}  // namespace

int wmain() {
    try {
        Report("is_wow64", IsWow64() && NativeProcessorArchitecture() == 9 && NativeArchString() == L"x64",
               L"IsWow64 " + std::to_wstring(IsWow64()) + L", native " +
                   std::to_wstring(NativeProcessorArchitecture()) + L", " + NativeArchString());

        TArchAwareRegistry acc(KEY_READ);
        Report("access_gets_64bit_flag", acc.Access() == (0x20019u | 0x100u), std::to_wstring(acc.Access()));

        Report("save_install_directory", SaveInstallDirectory(L"C:\\Apps\\Tidewell") &&
                                              InstallDirectory() == L"C:\\Apps\\Tidewell\\",
               InstallDirectory());
        WriteSetting(L"Version", L"7.1.0");
        WriteSetting(L"ServiceInstalled", L"Y");
        Report("read_back", ReadSetting(L"Version") == L"7.1.0" && IsServiceInstalled() &&
                                ReadSetting(L"NeverWritten").empty(),
               ReadSetting(L"Version"));
        Report("written_in_64bit_view_only", KeyIn(kKey, KEY_WOW64_64KEY) && !KeyIn(kKey, KEY_WOW64_32KEY) &&
                                                 !KeyIn(kKey, 0));

        // A nested key in both views; the native-view deletion must take
        // the whole 64-bit tree and leave the 32-bit one alone.
        bool made = MakeKey(L"Software\\Quorvan Labs\\Tidewell\\Nest\\A\\B", KEY_WOW64_64KEY) &&
                    MakeKey(L"Software\\Quorvan Labs\\Tidewell\\Nest\\C", KEY_WOW64_64KEY) &&
                    MakeKey(L"Software\\Quorvan Labs\\Tidewell\\Nest\\D", 0);
        {
            TArchAwareRegistry reg;
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            reg.SetAccess(KEY_ALL_ACCESS);
            reg.DeleteKey(L"\\Software\\Quorvan Labs\\Tidewell\\Nest");
            Report("native_delete_key", made && reg.hDLL != nullptr && reg.RegDeleteKeyExFunc != nullptr &&
                                            !KeyIn(kNest, KEY_WOW64_64KEY) && KeyIn(kNest, KEY_WOW64_32KEY) &&
                                            KeyIn(kKey, KEY_WOW64_64KEY),
                   L"made " + std::to_wstring(made));
        }
        {
            // The plain accessor of this 32-bit process works in the
            // redirected view.
            TRegistry reg(KEY_ALL_ACCESS);
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            bool ok = reg.DeleteKey(L"\\Software\\Quorvan Labs\\Tidewell\\Nest");
            Report("base_delete_key_32bit_view", ok && !KeyIn(kNest, KEY_WOW64_32KEY) && KeyIn(kKey, KEY_WOW64_64KEY));
        }
    } catch (const Error& e) {
        std::printf("FAIL: exception: %ls\n", e.Message().c_str());
        return 100;
    }
    return gFailures;
}
