// What an installation needs of the main window.
//
// The installation runs in the window's handlers (the Install click and two
// timers) but lives below the user interface: it sees the window only
// through this interface, which the main window implements and tests fake.
// The state the installation keeps between those handlers lives here too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/run_options.h"
#include "download/ComponentDL.h"
#include "platform/progress.h"

namespace tide {

// The five stage labels lbStat1 .. lbStat5, in the order an installation
// passes through them.
enum class InstallStage { Analyzing = 1, Downloading, Unpacking, Configuring, Starting };

class TInstallWindow {
public:
    virtual ~TInstallWindow() = default;

    // The text of edtInstallPath as typed.
    virtual std::wstring InstallPathText() = 0;
    // Hides the licence controls (rbAgree, rbDisagree, cbViewLicense) and
    // shows the stage labels, pb and sbStatusBar.
    virtual void ShowInstallProgress() = 0;
    // Makes that stage label bold and the other four regular.
    virtual void SetStage(InstallStage bold) = 0;
    virtual void EnableInstallButton(bool enabled) = 0;    // cbInstall
    virtual void EnableUninstallButton(bool enabled) = 0;  // cbUninstall
    // edtInstallPath and cmdGetDir: the path is fixed once an installation
    // has started.
    virtual void EnablePathControls(bool enabled) = 0;
    virtual void SetDownloadTimer(bool on) = 0;  // dlTimer, every 500 ms
    virtual void SetStartTimer(bool on) = 0;     // tmrStartTomcat, every 1000 ms
    // sbStatusBar and pb; both may be given to the download thread.
    virtual platform::StatusLine& StatusLine() = 0;
    virtual platform::ProgressBar& Progress() = 0;
    // The window as owner of what the shell opens (an HWND on Windows).
    virtual void* OwnerHandle() = 0;
    // Closes the window (which ends the program once the handler returns).
    virtual void CloseWindow() = 0;

    // State the installation keeps in the window.
    // The running download; none before it starts and once its result has
    // been taken.
    std::unique_ptr<TComponentDownloader> oComponentDL;
    // The components to fetch, then the components to install.
    std::vector<std::wstring> slComponents;
    // The components still to install (the PendingComponents setting):
    // those of slComponents whose files were not complete at the click, or
    // that an earlier run left uninstalled. Each leaves when its own install
    // step succeeds.
    std::vector<std::wstring> slPending;
    // The components whose files were complete at the click and that this
    // run installs all the same: pending from an earlier run, or the Java
    // runtime (listed only while none passes the check).
    std::vector<std::wstring> slFromDisk;
    // Seconds left in the server-start countdown.
    int32_t tomcatStartDelay = 0;
    // pb as the installation last set it (its step and position are not
    // read back from the control, which the download thread also moves).
    int32_t pbMax = 100;
    int32_t pbPosition = 0;
    int32_t pbStep = 1;
    // True while WaitForJavaInstall runs; AbandonJavaWait sets
    // javaWaitAbandoned to end it.
    bool javaWaitRunning = false;
    bool javaWaitAbandoned = false;
    // The first failure the installation met (Done while there is none);
    // an unattended run reports it as its exit code.
    Outcome outcome = Outcome::Done;
    // Whether the countdown ends by opening the calendar in the browser
    // (not when nobody is at the machine to look at it).
    bool openBrowser = true;
    // Whether the server answered during the countdown.
    bool serverAnswered = false;
};

// The window's handlers that run the installation.
void cbInstallClick(TInstallWindow& w);
void dlTimerTimer(TInstallWindow& w);
void tmrStartTomcatTimer(TInstallWindow& w);

// For the Cancel handler: ends a running wait for the Java runtime
// installer (the installation then goes on without it). True when a wait
// was running; false means Cancel should do what it does otherwise.
bool AbandonJavaWait(TInstallWindow& w);

}  // namespace tide
