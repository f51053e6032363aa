// Which function runs each mode. Each mode's unit adds itself here when it
// lands.
#include "app/program.h"

#include <exception>

#include "app/logging_ports.h"
#include "app/unattended.h"
#include "base/encoding.h"
#include "base/error.h"
#include "base/text.h"
#include "core/run_log.h"
#include "core/run_options.h"
#include "core/settings.h"
#include "download/manifest_download.h"
#include "download/release_key.h"
#include "download/verification.h"
#include "install/install_steps.h"
#include "install/self_update.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "ui/frmNewMain.h"
#include "uninstall/Uninstall.h"

namespace tide {

ModeHandlers DefaultModeHandlers() {
    ModeHandlers h;
    h.testIni = VerifyManifestFiles;
    h.uninstall = [] { RunUninstall(nullptr); };
    h.doUninstall = FinishUninstall;
    h.installer = [] {
        SetUninstallRunner(RunUninstall);
        TfrmNewMainForm form;
        form.Show();
        platform::Env().RunMessageLoop();
    };
    return h;
}

int RunModes(const ModeHandlers& handlers) {
    std::wstring message;
    try {
        return RunTidestart(handlers);
    } catch (const Error& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = Utf8ToWide(e.what());
    } catch (...) {
        message = L"An unexpected error ended the program.";
    }
    platform::ShowMessage(message, L"Notice", platform::MbIcon::Error);
    return 1;
}

namespace {

const wchar_t* ModeName(Mode mode) {
    switch (mode) {
        case Mode::Installer: return L"install";
        case Mode::Uninstall: return L"uninstall";
        case Mode::DoUninstall: return L"uninstall (second stage)";
        case Mode::TestIni: return L"testini";
    }
    return L"";
}

// Where the log goes when the command line names no file.
void SetDefaultLogPath(Mode mode) {
    switch (mode) {
        case Mode::Uninstall:
        case Mode::DoUninstall:
            TheRunLog().SetPath(TempDirectory() + kUninstallLogName);
            return;
        case Mode::TestIni:
            if (!InstallDirectory().empty()) TheRunLog().SetPath(InstallDirectory() + kRunLogFileName);
            return;
        case Mode::Installer:
            return;  // beside the manifest copy, once the directory is chosen
    }
}

}  // namespace

int RunProgram() {
    SetManifestFetcher(&ManifestDownload());

    auto& env = platform::Env();
    const std::vector<std::wstring> args = env.Arguments();
    const RunOptions options = ParseRunOptions(args);
    const Mode mode = SelectMode(args.size() > 1 ? args[1] : std::wstring());
    TheRunLog().Enable();
    if (options.log) TheRunLog().SetPath(*options.log);
    SetDefaultLogPath(mode);
    TheRunLog().Header(ExeVersionString(env.ExecutablePath()), ModeName(mode) + std::wstring(options.silent ? L", unattended" : L""),
                       MaskedCommandLine(env.CommandLine()));
    if (ReleaseKeyIsTestKey())
        TheRunLog().Write(L"run", L"test build: it trusts the public test release key, whose secret key anyone can "
                                  L"read; not for release");

    // Everything the run does to the machine goes through these.
    LoggingMessageBoxes shownBoxes(platform::Port<platform::MessageBoxes>::Get());
    UnattendedMessageBoxes answeredBoxes;
    platform::ScopedPort<platform::MessageBoxes> boxes(options.silent ? static_cast<platform::MessageBoxes&>(answeredBoxes)
                                                                      : shownBoxes);
    LoggingRegistry registry(platform::Reg());
    platform::ScopedPort<platform::Registry> registryPort(registry);
    LoggingProcesses processes(platform::Procs());
    platform::ScopedPort<platform::Processes> processPort(processes);
    LoggingShell shell(platform::Shell());
    platform::ScopedPort<platform::ShellExecutor> shellPort(shell);
    LoggingHttp http(platform::Internet());
    platform::ScopedPort<platform::Http> httpPort(http);
    const TInstallSteps steps = LoggingInstallSteps(ProgramInstallSteps());
    ScopedInstallSteps stepsScope(steps);

    Outcome outcome = Outcome::Done;
    const int rc = RunModes(options.silent ? UnattendedModeHandlers(options, outcome) : DefaultModeHandlers());
    // Interactive runs: 0, or 1 for an error that escaped the mode. An
    // unattended run reports its outcome, also when an error ended it after
    // the outcome was known (a refused manifest); 1 for any other error.
    const int code = !options.silent ? rc : outcome != Outcome::Done || rc == 0 ? ExitCodeOf(outcome) : rc;
    LogEntry(L"run", L"exit code " + IntToStr(code));
    return code;
}

}  // namespace tide
