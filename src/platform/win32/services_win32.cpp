// The service control manager through advapi32.
#include <windows.h>

#include "platform/services.h"

namespace tide::platform::win32 {
namespace {

SC_HANDLE H(ScHandle h) { return reinterpret_cast<SC_HANDLE>(h); }
ScHandle S(SC_HANDLE h) { return reinterpret_cast<ScHandle>(h); }

class Win32ServiceControl : public ServiceControl {
public:
    ScHandle OpenManager(const wchar_t* machine, const wchar_t* database, uint32_t access) override {
        return Keep(S(OpenSCManagerW(machine, database, access)));
    }
    ScHandle Open(ScHandle manager, const wchar_t* name, uint32_t access) override {
        return Keep(S(OpenServiceW(H(manager), name, access)));
    }
    bool Start(ScHandle service, uint32_t argc, const wchar_t** argv) override {
        return Keep(StartServiceW(H(service), argc, const_cast<LPCWSTR*>(argv)) != FALSE);
    }
    bool Control(ScHandle service, uint32_t control) override {
        SERVICE_STATUS status;
        ZeroMemory(&status, sizeof status);
        return Keep(ControlService(H(service), control, &status) != FALSE);
    }
    bool QueryState(ScHandle service, uint32_t& state) override {
        SERVICE_STATUS status;
        ZeroMemory(&status, sizeof status);
        if (!QueryServiceStatus(H(service), &status)) return Keep(false);
        state = status.dwCurrentState;
        return true;
    }
    void Close(ScHandle handle) override { CloseServiceHandle(H(handle)); }
    uint32_t LastError() override { return lastError_; }

private:
    // Remembers the error of a failed call (per thread, like GetLastError)
    // before a later system call can overwrite it.
    template <class T>
    T Keep(T result) {
        if (!result) lastError_ = GetLastError();
        return result;
    }
    static thread_local uint32_t lastError_;
};

thread_local uint32_t Win32ServiceControl::lastError_ = 0;

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
ServiceControl& Port<ServiceControl>::Default() {
    static win32::Win32ServiceControl instance;
    return instance;
}
}  // namespace tide::platform
