// A thin class over the Windows service control manager: connect, open one
// service by name, request start, stop, pause, continue or shutdown, read
// its state. Creating and deleting services is left to the server's own
// scripts.
//
// Calling order: Connect, OpenServiceConnection, then the service
// operations. Start and stop requests return once the manager has accepted
// them; callers that need the resulting state poll ServiceRunning or
// ServiceStopped (or use WaitUntilStopped).
#pragma once

#include <cstdint>

#include "platform/os_info.h"
#include "platform/services.h"

// <windows.h> maps StartService to StartServiceW; the method below keeps its
// own name in every file that includes this header.
#ifdef StartService
#undef StartService
#endif

namespace tide {

// Service states as QueryServiceStatus reports them.
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
// What GetStatus returns when the state cannot be read (no service open,
// QueryServiceStatus failed): no state of the service manager has this
// value, so both ServiceRunning and ServiceStopped answer false.
constexpr uint32_t kServiceStateUnknown = 0;

constexpr uint32_t kScManagerAllAccess = 0xF003F;
constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kServiceControlPause = 2;
constexpr uint32_t kServiceControlContinue = 3;
constexpr uint32_t kServiceControlShutdown = 5;

using platform::kWaitForever;

class TServiceManager {
public:
    TServiceManager() = default;
    // Closes the service, then the manager connection, each only when open.
    virtual ~TServiceManager();
    TServiceManager(const TServiceManager&) = delete;
    TServiceManager& operator=(const TServiceManager&) = delete;

    // OpenSCManagerW; null names mean the local machine and the active
    // database. Fails silently.
    bool Connect(const wchar_t* MachineName, const wchar_t* DatabaseName, uint32_t Access);
    // OpenServiceW with all access. On failure shows the system's text for
    // the error (e.g. 1060 for a service that is not installed) in a
    // "Notice" box and returns false.
    bool OpenServiceConnection(const wchar_t* ServiceName);
    bool StartService();
    bool StartService(uint32_t NumberOfArgument, const wchar_t** ServiceArgVectors);
    // Requests the stop; false when the manager refuses (e.g. not running).
    bool StopService();
    void PauseService();
    void ContinueService();
    void ShutdownService();
    // Does nothing: the service's start type is left as it is.
    void DisableService();
    // The current state, or kServiceStateUnknown when it cannot be read.
    uint32_t GetStatus();
    bool ServiceRunning();
    bool ServiceStopped();
    // Polls ServiceStopped every pollMs until it is true (true) or timeoutMs
    // have passed (false), handling the window messages meanwhile.
    // kWaitForever waits without limit.
    bool WaitUntilStopped(uint32_t timeoutMs = kWaitForever, uint32_t pollMs = 300);

private:
    platform::ScHandle ServiceControlManager = 0;
    platform::ScHandle ServiceHandle = 0;
};

}  // namespace tide
