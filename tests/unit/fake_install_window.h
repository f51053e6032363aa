// A main window for the installation without any window: it records, in
// order, what the installation did to it (and whatever a test adds to the
// same journal), keeps the state of its two timers for the test to drive,
// and stands in its status line and progress bar with recorders. Plain C++,
// so the Windows test programs use it as well.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "install/install_window.h"
#include "platform/progress.h"

namespace tide::testing {

class Journal {
public:
    void Add(const std::wstring& entry) {
        std::lock_guard<std::mutex> lock(mu_);
        entries_.push_back(entry);
    }
    std::vector<std::wstring> Entries() {
        std::lock_guard<std::mutex> lock(mu_);
        return entries_;
    }
    bool Has(const std::wstring& entry) {
        for (const auto& e : Entries())
            if (e == entry) return true;
        return false;
    }

private:
    std::mutex mu_;
    std::vector<std::wstring> entries_;
};

class FakeInstallWindow : public TInstallWindow {
public:
    explicit FakeInstallWindow(Journal& journal, std::wstring path = L"") : journal_(journal), path_(std::move(path)) {}

    std::wstring InstallPathText() override { return path_; }
    void ShowInstallProgress() override { journal_.Add(L"progress"); }
    void SetStage(InstallStage bold) override {
        stage = bold;
        journal_.Add(L"stage " + std::to_wstring(static_cast<int>(bold)));
    }
    void EnableInstallButton(bool on) override { Switch(installEnabled, L"install", on); }
    void EnableUninstallButton(bool on) override { Switch(uninstallEnabled, L"uninstall", on); }
    void EnablePathControls(bool on) override { Switch(pathEnabled, L"path", on); }
    void SetDownloadTimer(bool on) override { Switch(dlTimer, L"dlTimer", on); }
    void SetStartTimer(bool on) override { Switch(startTimer, L"startTimer", on); }
    platform::StatusLine& StatusLine() override { return sb; }
    platform::ProgressBar& Progress() override { return pb; }
    void* OwnerHandle() override { return this; }
    void CloseWindow() override {
        closed = true;
        journal_.Add(L"close");
    }

    void SetPath(const std::wstring& path) { path_ = path; }

    platform::RecordingStatusLine sb;
    platform::RecordingProgressBar pb;
    InstallStage stage = InstallStage::Analyzing;
    bool installEnabled = true, uninstallEnabled = false, pathEnabled = true;
    bool dlTimer = false, startTimer = false, closed = false;

private:
    // A switch of the window: its state, and a journal line "NAME 1|0".
    void Switch(bool& state, const wchar_t* name, bool on) {
        state = on;
        journal_.Add(std::wstring(name) + (on ? L" 1" : L" 0"));
    }

    Journal& journal_;
    std::wstring path_;
};

}  // namespace tide::testing
