// The steps of other units that an installation calls, gathered in one
// table so that the orchestration's own decisions (order, conditions,
// messages) can be tested with recording stand-ins. The program runs the
// real steps; a test swaps the table for one scope with ScopedInstallSteps.
#pragma once

#include <functional>
#include <string>

#include "platform/progress.h"

namespace tide {

struct TInstallSteps {
    std::function<bool()> SelfUpdateAndRegister;
    std::function<bool(platform::StatusLine*, const std::wstring&)> InstallJre;
    std::function<void(bool quiet)> RemoveServerService;
    std::function<bool(platform::StatusLine*, const std::wstring&)> InstallTomcat;
    std::function<bool(platform::StatusLine*)> ConfigureServerBase;
    std::function<bool(platform::StatusLine*)> InstallApplication;
    std::function<bool()> InstallServerService;
    std::function<bool(bool start)> SetServerRunning;
    std::function<void(const std::wstring& installer, const std::wstring& dir)> CreateProgramShortcuts;
    std::function<void(const std::wstring& dir)> CreateServiceShortcuts;
};

// The real steps.
TInstallSteps ProgramInstallSteps();
// The table in force.
const TInstallSteps& InstallSteps();

class ScopedInstallSteps {
public:
    explicit ScopedInstallSteps(const TInstallSteps& steps);
    ~ScopedInstallSteps();
    ScopedInstallSteps(const ScopedInstallSteps&) = delete;
    ScopedInstallSteps& operator=(const ScopedInstallSteps&) = delete;

private:
    const TInstallSteps* prev_;
};

}  // namespace tide
