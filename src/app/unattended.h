// Unattended runs ("/silent"): the installation without a window, the
// uninstall without questions, and the exit code that reports how each
// ended (core/run_options.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/Tidestart.h"
#include "core/run_options.h"
#include "install/install_window.h"
#include "platform/progress.h"

namespace tide {

// The main window's part in an installation, with nothing on the screen:
// the path is the one given, the timers are kept as due times for
// RunHeadlessInstall. The status line and the bar show nothing: the steps
// and their results are in the run log.
class HeadlessInstallWindow : public TInstallWindow {
public:
    explicit HeadlessInstallWindow(std::wstring path);

    std::wstring InstallPathText() override { return path_; }
    void ShowInstallProgress() override {}
    void SetStage(InstallStage bold) override;
    void EnableInstallButton(bool) override {}
    void EnableUninstallButton(bool) override {}
    void EnablePathControls(bool) override {}
    void SetDownloadTimer(bool on) override;
    void SetStartTimer(bool on) override;
    platform::StatusLine& StatusLine() override { return status_; }
    platform::ProgressBar& Progress() override { return progress_; }
    void* OwnerHandle() override { return nullptr; }
    void CloseWindow() override { closed_ = true; }

    bool Closed() const { return closed_; }
    bool DownloadTimerOn() const { return dlOn_; }
    bool StartTimerOn() const { return startOn_; }
    uint64_t DownloadTimerDue() const { return dlDue_; }
    uint64_t StartTimerDue() const { return startDue_; }
    void RearmDownloadTimer();
    void RearmStartTimer();

private:
    class NoStatusLine : public platform::StatusLine {
    public:
        void SetText(const std::wstring&) override {}
    };
    class NoProgressBar : public platform::ProgressBar {
    public:
        void SetMax(int) override {}
        void SetPosition(int) override {}
    };

    std::wstring path_;
    bool closed_ = false;
    bool dlOn_ = false, startOn_ = false;
    uint64_t dlDue_ = 0, startDue_ = 0;
    NoStatusLine status_;
    NoProgressBar progress_;
};

// What the main window does from the Install click on, without it: the
// click, dlTimerTimer every 500 ms while the download timer is on,
// tmrStartTomcatTimer every 1000 ms while the start timer is on, until the
// window is closed or nothing is left to wait for. Returns how it ended.
Outcome RunHeadlessInstall(HeadlessInstallWindow& w);

// The modes of an unattended run; each sets outcome.
ModeHandlers UnattendedModeHandlers(const RunOptions& options, Outcome& outcome);

}  // namespace tide
