#include "app/unattended.h"

#include "core/manifest.h"

#include "base/text.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "download/verification.h"
#include "install/install_orchestration.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "ui/frmNewMain.h"
#include "uninstall/Uninstall.h"

namespace tide {

namespace {

constexpr uint32_t kDownloadTimerMs = 500;
constexpr uint32_t kStartTimerMs = 1000;
// How often the loop looks at its timers.
constexpr uint32_t kTickMs = 50;

const wchar_t* const kStageNames[] = {L"Analyzing System", L"Downloading Files", L"Unpacking Files",
                                      L"Configuring System", L"Starting System"};

uint64_t Now() { return platform::SystemClock().TickMs(); }

}  // namespace

HeadlessInstallWindow::HeadlessInstallWindow(std::wstring path) : path_(std::move(path)) { openBrowser = false; }

void HeadlessInstallWindow::SetStage(InstallStage bold) {
    LogEntry(L"step", L"stage: " + std::wstring(kStageNames[static_cast<int>(bold) - 1]));
}

void HeadlessInstallWindow::SetDownloadTimer(bool on) {
    dlOn_ = on;
    if (on) RearmDownloadTimer();
}

void HeadlessInstallWindow::SetStartTimer(bool on) {
    startOn_ = on;
    if (on) RearmStartTimer();
}

void HeadlessInstallWindow::RearmDownloadTimer() { dlDue_ = Now() + kDownloadTimerMs; }
void HeadlessInstallWindow::RearmStartTimer() { startDue_ = Now() + kStartTimerMs; }

Outcome RunHeadlessInstall(HeadlessInstallWindow& w) {
    auto& env = platform::Env();
    cbInstallClick(w);
    while (!w.Closed() && !env.QuitRequested() && (w.DownloadTimerOn() || w.StartTimerOn())) {
        platform::SystemClock().SleepMs(kTickMs);
        // A handler may switch either timer; each runs only while on.
        if (w.DownloadTimerOn() && Now() >= w.DownloadTimerDue()) {
            w.RearmDownloadTimer();
            dlTimerTimer(w);
        }
        if (w.StartTimerOn() && Now() >= w.StartTimerDue()) {
            w.RearmStartTimer();
            tmrStartTomcatTimer(w);
        }
    }
    // Ended with the download still running (a request to quit): it is not
    // an installation.
    if (w.outcome == Outcome::Done && !w.Closed()) w.outcome = Outcome::StepFailed;
    return w.outcome;
}

namespace {

void Finish(Outcome& slot, Outcome outcome) {
    slot = outcome;
    LogEntry(L"run", L"result: " + OutcomeText(outcome));
}

bool Usable(const RunOptions& o, Outcome& outcome) {
    if (!o.bad) return true;
    LogEntry(L"run", L"bad arguments: " + o.badReason);
    Finish(outcome, Outcome::BadArguments);
    return false;
}

}  // namespace

ModeHandlers UnattendedModeHandlers(const RunOptions& options, Outcome& outcome) {
    ModeHandlers h;
    h.installer = [options, &outcome] {
        if (!Usable(options, outcome)) return;
        if (!options.acceptLicense) {
            LogEntry(L"run", L"the licence was not accepted (\"/acceptlicense\" is missing): nothing installed");
            Finish(outcome, Outcome::LicenseNotAccepted);
            return;
        }
        std::wstring path = options.dir.value_or(InstallDirectory());
        if (path.empty()) path = DefaultInstallPath(0);
        LogEntry(L"step", L"install into " + path);
        HeadlessInstallWindow w(path);
        try {
            Finish(outcome, RunHeadlessInstall(w));
        } catch (const ManifestError&) {
            // A manifest the program must not act on (a refused signature
            // among them) is a failed manifest; the last handler logs it.
            Finish(outcome, Outcome::DownloadFailed);
            throw;
        } catch (const ManifestRefused&) {
            Finish(outcome, Outcome::DownloadFailed);
            throw;
        }
    };
    h.uninstall = [options, &outcome] {
        if (!Usable(options, outcome)) return;
        Finish(outcome, RunUninstall(nullptr) ? Outcome::Done : Outcome::DirectoryRefused);
    };
    h.doUninstall = [options, &outcome] {
        if (!Usable(options, outcome)) return;
        FinishUninstall();
        Finish(outcome, Outcome::Done);
    };
    h.testIni = [options, &outcome] {
        if (!Usable(options, outcome)) return;
        VerifyManifestFiles();
        Finish(outcome, Outcome::Done);
    };
    return h;
}

}  // namespace tide
