#include "system/ServiceManager.h"

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/os_info.h"

namespace tide {

TServiceManager::~TServiceManager() {
    if (ServiceHandle != 0) {
        platform::Services().Close(ServiceHandle);
        ServiceHandle = 0;
    }
    if (ServiceControlManager != 0) {
        platform::Services().Close(ServiceControlManager);
        ServiceControlManager = 0;
    }
}

bool TServiceManager::Connect(const wchar_t* MachineName, const wchar_t* DatabaseName, uint32_t Access) {
    platform::ScHandle h = platform::Services().OpenManager(MachineName, DatabaseName, Access);
    // A second Connect replaces the connection; the old handle is not leaked.
    if (ServiceControlManager != 0 && h != 0) platform::Services().Close(ServiceControlManager);
    if (h != 0 || ServiceControlManager == 0) ServiceControlManager = h;
    return h != 0;
}

bool TServiceManager::OpenServiceConnection(const wchar_t* ServiceName) {
    platform::ScHandle h = platform::Services().Open(ServiceControlManager, ServiceName, kServiceAllAccess);
    if (h == 0) {
        uint32_t error = platform::Services().LastError();
        platform::ShowMessage(platform::Os().SystemMessage(error, 513), L"Notice", platform::MbIcon::Warning);
        return false;
    }
    if (ServiceHandle != 0) platform::Services().Close(ServiceHandle);
    ServiceHandle = h;
    return true;
}

bool TServiceManager::StartService() { return platform::Services().Start(ServiceHandle, 0, nullptr); }

bool TServiceManager::StartService(uint32_t NumberOfArgument, const wchar_t** ServiceArgVectors) {
    return platform::Services().Start(ServiceHandle, NumberOfArgument, ServiceArgVectors);
}

bool TServiceManager::StopService() { return platform::Services().Control(ServiceHandle, kServiceControlStop); }

void TServiceManager::PauseService() { platform::Services().Control(ServiceHandle, kServiceControlPause); }

void TServiceManager::ContinueService() { platform::Services().Control(ServiceHandle, kServiceControlContinue); }

void TServiceManager::ShutdownService() { platform::Services().Control(ServiceHandle, kServiceControlShutdown); }

void TServiceManager::DisableService() {}

uint32_t TServiceManager::GetStatus() {
    uint32_t state = kServiceStateUnknown;
    if (!platform::Services().QueryState(ServiceHandle, state)) return kServiceStateUnknown;
    return state;
}

bool TServiceManager::ServiceRunning() { return GetStatus() == kServiceRunning; }

bool TServiceManager::ServiceStopped() { return GetStatus() == kServiceStopped; }

bool TServiceManager::WaitUntilStopped(uint32_t timeoutMs, uint32_t pollMs) {
    platform::Clock& clock = platform::SystemClock();
    uint64_t start = clock.TickMs();
    for (;;) {
        if (ServiceStopped()) return true;
        if (timeoutMs != kWaitForever && clock.TickMs() - start >= timeoutMs) return false;
        // On the window thread: the window answers while the service stops.
        platform::Env().ProcessMessagesFor(pollMs);
    }
}

}  // namespace tide
