#include "core/InstallInfo.h"

#include <memory>
#include <mutex>

#include "core/ArchAwareRegistry.h"
#include "core/manifest.h"
#include "core/process_arch.h"
#include "core/settings.h"
#include "base/text.h"

namespace tide {

std::wstring ArchString(TInstallArch arch) {
    switch (arch) {
        case x86: return L"x86";
        case x64: return L"x64";
        default: return L"unknown";
    }
}

TInstallInfo::TInstallInfo() {
    TArchAwareRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ);
    destVersion = ManifestValue(L"TW", L"FILE_VERSION");
    bool open = reg.OpenKeyReadOnly(kSettingsKey);
    currVersion = open ? reg.ReadString(L"Version") : std::wstring();
    if (!currVersion.empty()) {
        currPath = reg.ReadString(L"AppPath");
        std::wstring port = reg.ReadString(L"Port");
        currPort = port.empty() ? 8080 : StrToInt(port);
        std::wstring arch = reg.ReadString(L"Arch");
        // Installers before the 64-bit support wrote no Arch: they were x86.
        tiaCurrArch = (arch.empty() || arch == L"x86") ? x86 : x64;
        // An upgrade keeps the architecture of what is installed.
        tiaDestArch = tiaCurrArch;
    } else {
        currPath.clear();
        currPort = 8080;
        tiaCurrArch = none;
        // A first installation follows the operating system.
        tiaDestArch = Is64BitWindows() ? x64 : x86;
    }
    reg.CloseKey();
}

std::wstring TInstallInfo::DestinationArchString() const { return ArchString(tiaDestArch); }

namespace {
std::mutex gInfoMutex;
std::unique_ptr<TInstallInfo> gInfo;
}  // namespace

TInstallInfo& GetInstallInfo() {
    std::lock_guard<std::mutex> lock(gInfoMutex);
    if (!gInfo) gInfo = std::make_unique<TInstallInfo>();
    return *gInfo;
}

void ResetInstallInfoForTest() {
    std::lock_guard<std::mutex> lock(gInfoMutex);
    gInfo.reset();
}

}  // namespace tide
