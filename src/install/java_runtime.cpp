#include "install/java_runtime.h"

#include "base/error.h"
#include "base/text.h"
#include "core/ArchAwareRegistry.h"
#include "core/InstallInfo.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "platform/message_box.h"
#include "platform/shell_execute.h"

namespace tide {
namespace {

const wchar_t kJavaSoftKey[] = L"\\Software\\JavaSoft\\Java Runtime Environment";
const wchar_t kIbmKey[] = L"\\Software\\IBM\\Java2 Runtime Environment";

// A string value of the open key; empty when it is missing. A value of
// another type is an error, as the registry classes report it.
std::wstring ReadStringValue(TRegistry& reg, const std::wstring& name) {
    uint32_t type = REG_NONE;
    if (platform::Reg().QueryValue(reg.CurrentKey(), name, &type, nullptr) != platform::kRegOk) return L"";
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw Error(L"Invalid data type for '" + name + L"' in HKEY_LOCAL_MACHINE\\" + reg.CurrentPath());
    return reg.ReadString(name);
}

bool Suitable(const std::wstring& version) {
    return !version.empty() && JreVersionAtLeast(version, ManifestValue(L"GENERAL", L"MIN_JRE_VERSION"));
}

int Check(const wchar_t* key, uint32_t view, int found) {
    TRegistry reg(KEY_READ | view);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(key, false)) return kJreNotFound;
    return Suitable(ReadStringValue(reg, L"CurrentVersion")) ? found : kJreNotFound;
}

std::wstring HomeUnder(const std::wstring& key, uint32_t view) {
    TRegistry reg(KEY_READ | view);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(key, false)) return L"";
    std::wstring version = ReadStringValue(reg, L"CurrentVersion");
    if (!Suitable(version)) return L"";
    reg.CloseKey();
    if (!reg.OpenKey(key + L"\\" + version, false)) return L"";
    return ReadStringValue(reg, L"JavaHome");
}

}  // namespace

// On Windows wchar_t is the UTF-16 code unit, so this is the unit-by-unit
// ordinal order.
bool JreVersionAtLeast(const std::wstring& current, const std::wstring& minimum) {
    return !current.empty() && current.compare(minimum) >= 0;
}

int JavaSoftJreCheck(bool use64BitView) {
    return Check(kJavaSoftKey, use64BitView ? KEY_WOW64_64KEY : 0, kJreJavaSoft);
}

int IbmJreCheck() { return Check(kIbmKey, 0, kJreIbm); }

int JreCheck(bool use64BitView) {
    int result = JavaSoftJreCheck(use64BitView);
    return (result & 2) != 0 ? IbmJreCheck() : result;
}

std::wstring FindJavaHome(bool use64BitView) {
    std::wstring home = HomeUnder(kJavaSoftKey, use64BitView ? KEY_WOW64_64KEY : 0);
    if (home.empty()) home = HomeUnder(kIbmKey, 0);
    return home;
}

// The home must come from the view the check looked at: a 64-bit
// destination passes JreCheck on a 64-bit runtime, and Tomcat given the
// 32-bit view's empty answer could never start.
std::wstring FindJavaHome() { return FindJavaHome(GetInstallInfo().DestinationArchitechture() == x64); }

bool InstallJre(TStatusBar* sb, const std::wstring& component) {
    std::wstring args = ManifestValue(component, L"INSTALL_ARGS");
    std::wstring installer = ComponentFilePath(component);
    if (sb) sb->SetText(L"Installing Java ...");
    const intptr_t started = platform::Shell().Execute(L"open", installer, args, std::nullopt, platform::kSwShowNormal);
    if (started > 32) return true;
    platform::ShowMessage(L"The Java runtime installer " + installer + L" could not be started (error " +
                              IntToStr(static_cast<int>(started)) +
                              L").\n\nTidewell will not start until a Java runtime is installed. "
                              L"The installation goes on with the other components.",
                          L"Notice", platform::MbIcon::Error);
    return false;
}

}  // namespace tide
