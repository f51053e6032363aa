#include "install/install_steps.h"

#include "install/app_deployment.h"
#include "install/java_runtime.h"
#include "install/self_update.h"
#include "install/tomcat_setup.h"
#include "system/server_service.h"
#include "system/shortcuts.h"

namespace tide {
namespace {

const TInstallSteps* current = nullptr;

}  // namespace

TInstallSteps ProgramInstallSteps() {
    TInstallSteps s;
    s.SelfUpdateAndRegister = [] { return SelfUpdateAndRegister(); };
    s.InstallJre = [](platform::StatusLine* sb, const std::wstring& c) { return InstallJre(sb, c); };
    s.RemoveServerService = [](bool quiet) { RemoveServerService(quiet); };
    s.InstallTomcat = [](platform::StatusLine* sb, const std::wstring& c) { return InstallTomcat(sb, c); };
    s.ConfigureServerBase = [](platform::StatusLine* sb) { return ConfigureServerBase(sb); };
    s.InstallApplication = [](platform::StatusLine* sb) { return InstallApplication(sb); };
    s.InstallServerService = [] { return InstallServerService(); };
    s.SetServerRunning = [](bool start) { return SetServerRunning(start); };
    s.CreateProgramShortcuts = [](const std::wstring& i, const std::wstring& d) { CreateProgramShortcuts(i, d); };
    s.CreateServiceShortcuts = [](const std::wstring& d) { CreateServiceShortcuts(d); };
    return s;
}

const TInstallSteps& InstallSteps() {
    static const TInstallSteps program = ProgramInstallSteps();
    return current ? *current : program;
}

ScopedInstallSteps::ScopedInstallSteps(const TInstallSteps& steps) : prev_(current) { current = &steps; }
ScopedInstallSteps::~ScopedInstallSteps() { current = prev_; }

}  // namespace tide
