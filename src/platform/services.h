// The Windows service control manager: connection, one service, requests,
// state.
#pragma once

#include <cstdint>

#include "platform/port.h"

namespace tide::platform {

// Opaque handle of the service control manager or of a service; 0 = none.
using ScHandle = uintptr_t;

class ServiceControl {
public:
    virtual ~ServiceControl() = default;
    // OpenSCManagerW; 0 on failure. Null names: local machine, active database.
    virtual ScHandle OpenManager(const wchar_t* machine, const wchar_t* database, uint32_t access) = 0;
    // OpenServiceW; 0 on failure. (Not named OpenService: <windows.h> makes that a macro.)
    virtual ScHandle Open(ScHandle manager, const wchar_t* name, uint32_t access) = 0;
    // StartServiceW with argc arguments.
    virtual bool Start(ScHandle service, uint32_t argc, const wchar_t** argv) = 0;
    // ControlService with the control code; the reported status is dropped.
    virtual bool Control(ScHandle service, uint32_t control) = 0;
    // QueryServiceStatus: the current-state field.
    virtual bool QueryState(ScHandle service, uint32_t& state) = 0;
    virtual void Close(ScHandle handle) = 0;
    // Error code of the last failed call on this thread (Windows codes).
    virtual uint32_t LastError() = 0;
};

inline ServiceControl& Services() { return Port<ServiceControl>::Get(); }

}  // namespace tide::platform
