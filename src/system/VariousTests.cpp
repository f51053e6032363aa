#include "system/VariousTests.h"

#include <atomic>
#include <exception>
#include <thread>

#include "core/InstallInfo.h"
#include "core/process_arch.h"
#include "core/settings.h"
#include "base/text.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/net.h"

namespace tide {

namespace {
constexpr uint32_t kVersionRecordSize = 276;
constexpr uint32_t kNetBiosNameBuffer = 16;
constexpr int kDefaultServerPort = 8080;
// The open fails this way only while someone else holds the file.
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
// How often RunHandlingMessages looks whether the work has ended.
constexpr uint32_t kHandOverSliceMs = 20;
}  // namespace

TOSVersionInfo& GetOSVersion(TOSVersionInfo& info) {
    info = TOSVersionInfo();
    info.dwOSVersionInfoSize = kVersionRecordSize;
    TOSVersionInfo filled = info;
    if (platform::Os().QueryVersion(filled)) info = filled;
    return info;
}

bool IsWindowsNT() {
    TOSVersionInfo info;
    return GetOSVersion(info).dwPlatformId == platform::kVerPlatformWin32NT;
}

bool IsAdministrator() {
    if (!IsWindowsNT()) return true;
    return platform::Os().TokenIsAdministrator();
}

std::wstring CommandInterpreterPath() {
    // IsWow64 first: on a 64-bit process or 32-bit Windows the installation
    // record is not needed at all.
    if (IsWow64() && GetInstallInfo().DestinationArchitechture() == x86)
        return platform::Env().Variable(L"SystemRoot") + L"\\SysWOW64\\cmd.exe";
    return platform::Env().Variable(L"ComSpec");
}

bool PortAnswering(int port, uint32_t timeoutMs) {
    if (port <= 0 || port > 65535) return false;
    return platform::Net().ConnectLocal(port, timeoutMs);
}

int ServerPort() {
    std::wstring port = ReadSetting(L"Port");
    if (port.empty()) return kDefaultServerPort;
    return StrToInt(port);
}

std::wstring ServerURL() {
    TOSVersionInfo info;
    GetOSVersion(info);
    int port = ServerPort();
    std::wstring url = L"http://";
    if (info.dwMajorVersion < 6)
        url += platform::Os().ComputerName(kNetBiosNameBuffer);
    else
        url += L"localhost";
    if (port != 80) url += L":" + IntToStr(port);
    url += L"/calendar/";
    return url;
}

bool ServerRunning() { return PortAnswering(ServerPort()); }

bool WaitForFileRelease(const std::wstring& path, uint32_t timeoutMs) {
    platform::FileSystem& fs = platform::Files();
    platform::Clock& clock = platform::SystemClock();
    if (!fs.FileExists(path)) return false;
    uint64_t start = clock.TickMs();
    for (;;) {
        platform::Env().ProcessMessagesFor(kFileReleasePollMs);
        if (fs.Open(path, platform::OpenMode::ReadWriteExisting, platform::Share::None)) return true;
        // Any other failure (a read-only file, no rights, the file deleted
        // meanwhile) does not go away by waiting.
        uint32_t error = fs.LastError();
        if (error != kErrorSharingViolation && error != kErrorLockViolation) return false;
        if (timeoutMs != kWaitForever && clock.TickMs() - start >= timeoutMs) return false;
    }
}

void RunHandlingMessages(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    });
    while (!done) platform::Env().ProcessMessagesFor(kHandOverSliceMs);
    worker.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace tide
