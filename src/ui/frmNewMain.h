// The installer's main window: the install path with a folder browser, the
// licence agreement, the link to the hosted service, Install, Uninstall
// and Cancel; once an installation runs, five stage labels, a progress bar
// and a status line.
//
// The layout is a table of positions at 96 dots per inch, scaled for the
// DPI of the monitor the window is on (and again when it moves to another
// one). Everything the window does goes through platform::WindowSystem.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "install/install_window.h"
#include "platform/progress.h"
#include "platform/window.h"

namespace tide {

// Control identifiers. cbCancel is 2, the control that Escape presses.
enum TMainControl : int {
    idImage1 = 100,
    idLabel7,
    idLabel1,
    idLabel2,
    idLabel3,
    idLabel6,
    idEdtInstallPath,
    idCmdGetDir,
    idRbAgree,
    idCbViewLicense,
    idRbDisagree,
    idLbStat1,
    idLbStat2,
    idLbStat3,
    idLbStat4,
    idLbStat5,
    idPb,
    idSbStatusBar,
    idGroupBox1,
    idCbInstall,
    idCbUninstall,
    idCbCancel = 2,
};
enum TMainTimer : int { idDlTimer = 1, idTmrStartTomcat = 2 };

// One row of the window's layout, at 96 DPI. Width and height 0: the
// control takes the size of its text (labels). Children of GroupBox1 are
// placed relative to it.
struct TControlLayout {
    int id;
    const wchar_t* name;
    platform::ControlKind kind;
    const wchar_t* text;
    int left, top, width, height;
    int fontPx;  // character height; 0 for the window's font
    bool bold;
    bool visible;
    bool enabled;
    bool inGroupBox;
};

// In the order the controls are created, which is the keyboard order of
// those reached by Tab.
const std::vector<TControlLayout>& MainWindowLayout();
// The controls reached by Tab, in order.
const std::vector<int>& MainWindowTabOrder();

constexpr int kClientWidth = 735, kClientHeight = 400;
constexpr int kDefaultFontPx = 11;
extern const wchar_t kMainFontFace[];  // "Tahoma"

// A length at 96 DPI on a monitor of dpi dots per inch, rounded to the
// nearest pixel.
int ScaleForDpi(int length96, int dpi);

// The position of a layout row on the frame (group box children made
// absolute), scaled; width and height of auto-sized labels are left 0.
platform::PixelRect FramePosition(const TControlLayout& row, int dpi);

// What the path field shows when no installation is recorded: the native
// Program Files folder + "Quorvan Labs\Tidewell\" (frame: the window
// asking; 0 for none).
std::wstring DefaultInstallPath(platform::FrameHandle frame);

// The uninstaller behind the Uninstall button (set by the program once it
// has one): given the status line, true when the uninstall ran.
using TUninstallRunner = std::function<bool(platform::StatusLine*)>;
void SetUninstallRunner(TUninstallRunner runner);

class TfrmNewMainForm : public TInstallWindow, private platform::WindowEvents {
public:
    // Creates the window hidden, with every control. Throws tide::Error
    // when the window system cannot make it.
    TfrmNewMainForm();
    ~TfrmNewMainForm() override;
    TfrmNewMainForm(const TfrmNewMainForm&) = delete;
    TfrmNewMainForm& operator=(const TfrmNewMainForm&) = delete;

    // Shows the window centred and runs FormShow.
    void Show();
    // True once the window has been closed (by the user or the program).
    bool Closed() const { return closed_; }
    platform::FrameHandle Frame() const { return frame_; }

    // Event handlers.
    void FormShow();
    void rbAgreeClick();
    void rbNoAgreeClick();
    void cmdGetDirClick();
    void cbViewLicenseClick();
    void Label3Click();
    void cbCancelClick();
    void cbUninstallClick();

    // TInstallWindow.
    std::wstring InstallPathText() override;
    void ShowInstallProgress() override;
    void SetStage(InstallStage bold) override;
    void EnableInstallButton(bool enabled) override;
    void EnableUninstallButton(bool enabled) override;
    void EnablePathControls(bool enabled) override;
    void SetDownloadTimer(bool on) override;
    void SetStartTimer(bool on) override;
    platform::StatusLine& StatusLine() override { return statusLine_; }
    platform::ProgressBar& Progress() override { return progress_; }
    void* OwnerHandle() override;
    void CloseWindow() override;

    // Applies the status and progress updates waiting for the window thread
    // (the window does this itself when woken).
    void ApplyPostedUpdates();

    // What the window last made of a control.
    struct ControlState {
        bool visible, enabled, bold, checked;
    };
    const ControlState& State(int id) const;

private:
    // Status line and progress bar for any thread: updates from another
    // thread are queued and the window woken; on the window thread they
    // are applied at once, after those still queued.
    struct Update {
        int control;
        enum { Text, Max, Position } what;
        std::wstring text;
        int value;
    };
    class PostedStatusLine : public platform::StatusLine {
    public:
        explicit PostedStatusLine(TfrmNewMainForm& f) : form_(f) {}
        void SetText(const std::wstring& text) override;

    private:
        TfrmNewMainForm& form_;
    };
    class PostedProgressBar : public platform::ProgressBar {
    public:
        explicit PostedProgressBar(TfrmNewMainForm& f) : form_(f) {}
        void SetMax(int max) override;
        void SetPosition(int position) override;

    private:
        TfrmNewMainForm& form_;
    };
    void Post(Update u);

    // WindowEvents.
    void OnClick(int controlId) override;
    bool OnAccelerator(wchar_t letter) override;
    void OnTimer(int timerId) override;
    void OnWake() override;
    void OnDpiChanged(int dpi) override;
    void OnDestroyed() override;

    void Layout();
    void LoadArtwork();
    platform::FontChoice FontOf(const TControlLayout& row, bool bold) const;
    const TControlLayout& Row(int id) const;
    void SetBold(int id, bool bold);
    void SetChecked(int id, bool checked);
    void SetVisible(int id, bool visible);
    void SetEnabled(int id, bool enabled);

    platform::WindowSystem& ws_;
    platform::FrameHandle frame_ = 0;
    int dpi_ = 96;
    bool closed_ = false;
    bool shown_ = false;
    std::thread::id windowThread_;
    bool created_ = false;
    std::map<int, ControlState> state_;
    // The artwork as decoded (scaled copies are made from it per DPI).
    platform::Bitmap artwork_;
    bool haveArtwork_ = false;
    // The timers as last set, and whether an uninstall is running (its
    // window events are dropped).
    bool dlTimerOn_ = false;
    bool startTimerOn_ = false;
    bool uninstalling_ = false;
    bool inTimer_ = false;

    PostedStatusLine statusLine_{*this};
    PostedProgressBar progress_{*this};
    std::mutex mu_;
    std::deque<Update> pending_;
};

}  // namespace tide
