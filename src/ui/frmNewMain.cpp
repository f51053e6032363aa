#include "ui/frmNewMain.h"

#include <algorithm>
#include <cwctype>

#include "base/error.h"
#include "base/text.h"
#include "core/process_arch.h"
#include "core/servers.h"
#include "core/settings.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/shell_execute.h"
#include "ui/jpeg_picture.h"
#include "ui/resource_ids.h"

namespace tide {

using platform::ControlKind;

const wchar_t kMainFontFace[] = L"Tahoma";

namespace {

constexpr int32_t kLinkBlue = 0x0000FF;

TUninstallRunner& UninstallRunner() {
    static TUninstallRunner runner;
    return runner;
}

// The letter after the single "&" of a caption (0 for none; "&&" is a
// literal ampersand).
wchar_t AcceleratorOf(const std::wstring& caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != L'&') continue;
        if (caption[i + 1] == L'&') {
            ++i;
            continue;
        }
        return static_cast<wchar_t>(std::towupper(caption[i + 1]));
    }
    return 0;
}

// Controls a person can click or type into.
bool TakesInput(ControlKind kind) {
    return kind == ControlKind::Edit || kind == ControlKind::Button || kind == ControlKind::RadioButton ||
           kind == ControlKind::LinkLabel;
}

}  // namespace

const std::vector<TControlLayout>& MainWindowLayout() {
    using K = ControlKind;
    // The group box comes last: it lies beneath the buttons it frames.
    static const std::vector<TControlLayout> rows = {
        {idImage1, L"Image1", K::Picture, L"", 16, 34, 175, 262, 0, false, true, true, false},
        {idLabel7, L"Label7", K::Label, L"Set the installation path, and click on &Install to begin.", 208, 14, 0, 0, 13, false, true, true, false},
        {idLabel1, L"Label1", K::Label, L"A hosted version is available if you don't want to install Tidewell on your own", 208, 40, 0, 0, 13, false, true, true, false},
        {idLabel2, L"Label2", K::Label, L"computer.", 208, 54, 0, 0, 13, false, true, true, false},
        {idLabel3, L"Label3", K::LinkLabel, L"Tidewell - Hosted", 272, 54, 0, 0, 13, false, true, true, false},
        {idLabel6, L"Label6", K::Label, L"Installation Path", 208, 87, 0, 0, 0, false, true, true, false},
        {idEdtInstallPath, L"edtInstallPath", K::Edit, L"BADPATH", 208, 101, 473, 21, 0, false, true, true, false},
        {idCmdGetDir, L"cmdGetDir", K::Button, L"...", 687, 101, 25, 21, 0, false, true, true, false},
        {idRbAgree, L"rbAgree", K::RadioButton, L"I agree to the terms of the license.", 213, 143, 225, 17, 0, false, true, true, false},
        {idCbViewLicense, L"cbViewLicense", K::Button, L"View License Agreement", 465, 135, 166, 25, 0, false, true, true, false},
        {idRbDisagree, L"rbDisagree", K::RadioButton, L"I do not agree to the terms of the license.", 213, 166, 257, 17, 0, false, true, true, false},
        {idLbStat1, L"lbStat1", K::Label, L"Analyzing System", 362, 132, 0, 0, 16, true, false, true, false},
        {idLbStat2, L"lbStat2", K::Label, L"Downloading Files", 362, 157, 0, 0, 16, false, false, true, false},
        {idLbStat3, L"lbStat3", K::Label, L"Unpacking Files", 362, 182, 0, 0, 16, false, false, true, false},
        {idLbStat4, L"lbStat4", K::Label, L"Configuring System", 362, 207, 0, 0, 16, false, false, true, false},
        {idLbStat5, L"lbStat5", K::Label, L"Starting System", 362, 232, 0, 0, 16, false, false, true, false},
        {idPb, L"pb", K::ProgressBar, L"", 208, 262, 504, 25, 0, false, false, true, false},
        {idSbStatusBar, L"sbStatusBar", K::StatusBar, L"", 208, 294, 504, 29, 0, false, false, true, false},
        {idCbInstall, L"cbInstall", K::Button, L"&Install", 206, 18, 75, 25, 0, false, true, false, true},
        {idCbUninstall, L"cbUninstall", K::Button, L"&Uninstall", 346, 18, 75, 25, 0, false, true, false, true},
        {idCbCancel, L"cbCancel", K::Button, L"&Cancel", 486, 18, 75, 25, 0, false, true, true, true},
        {idGroupBox1, L"GroupBox1", K::GroupBox, L"", 16, 334, 696, 57, 0, false, true, true, false},
    };
    return rows;
}

const std::vector<int>& MainWindowTabOrder() {
    static const std::vector<int> order = {idEdtInstallPath, idCmdGetDir, idRbAgree,   idCbViewLicense,
                                           idRbDisagree,     idCbInstall, idCbUninstall, idCbCancel};
    return order;
}

int ScaleForDpi(int length96, int dpi) {
    const int64_t v = static_cast<int64_t>(length96) * dpi;
    return static_cast<int>(v >= 0 ? (v + 48) / 96 : -((-v + 48) / 96));
}

platform::PixelRect FramePosition(const TControlLayout& row, int dpi) {
    int left = row.left, top = row.top;
    if (row.inGroupBox) {
        for (const auto& g : MainWindowLayout()) {
            if (g.id != idGroupBox1) continue;
            left += g.left;
            top += g.top;
        }
    }
    return {ScaleForDpi(left, dpi), ScaleForDpi(top, dpi), ScaleForDpi(row.width, dpi), ScaleForDpi(row.height, dpi)};
}

void SetUninstallRunner(TUninstallRunner runner) { UninstallRunner() = std::move(runner); }

TfrmNewMainForm::TfrmNewMainForm() : ws_(platform::Windows()), windowThread_(std::this_thread::get_id()) {
    for (const auto& row : MainWindowLayout()) state_[row.id] = {row.visible, row.enabled, row.bold, false};
    state_[idRbDisagree].checked = true;

    platform::FrameLayout layout;
    layout.caption = L"Tidewell Downloader";
    layout.clientWidth = kClientWidth;
    layout.clientHeight = kClientHeight;
    layout.iconResource = kProductIconResource;
    frame_ = ws_.CreateFrame(layout, static_cast<platform::WindowEvents*>(this));
    if (!frame_) throw Error(L"The installer's window cannot be created.");
    dpi_ = ws_.Dpi(frame_);
    if (dpi_ != 96) ws_.SetClientSize(frame_, ScaleForDpi(kClientWidth, dpi_), ScaleForDpi(kClientHeight, dpi_));
    LoadArtwork();
    Layout();
}

TfrmNewMainForm::~TfrmNewMainForm() {
    // The download thread reports through this window: end it first.
    oComponentDL.reset();
    if (frame_ && !closed_) ws_.Destroy(frame_);
}

void TfrmNewMainForm::Show() {
    ws_.Show(frame_);
    if (!shown_) {
        shown_ = true;
        // The keyboard starts at the first control of the keyboard order.
        ws_.SetFocus(frame_, MainWindowTabOrder().front());
        FormShow();
    }
}

const TControlLayout& TfrmNewMainForm::Row(int id) const {
    for (const auto& row : MainWindowLayout())
        if (row.id == id) return row;
    throw Error(L"no control " + IntToStr(id));
}

platform::FontChoice TfrmNewMainForm::FontOf(const TControlLayout& row, bool bold) const {
    platform::FontChoice f;
    f.face = kMainFontFace;
    f.pixelHeight = ScaleForDpi(row.fontPx ? row.fontPx : kDefaultFontPx, dpi_);
    f.bold = bold;
    f.underline = row.kind == ControlKind::LinkLabel;
    return f;
}

void TfrmNewMainForm::Layout() {
    int label2Right = 0;
    for (const auto& row : MainWindowLayout()) {
        const ControlState& st = state_[row.id];
        platform::FontChoice font = FontOf(row, st.bold);
        platform::PixelRect rect = FramePosition(row, dpi_);
        if (row.width == 0) ws_.MeasureText(frame_, row.text, font, rect.width, rect.height);
        if (row.id == idLabel2) label2Right = rect.left + rect.width;
        // The link continues the sentence of Label1 and Label2: where the
        // font runs wider than Tahoma (a substitute font), it moves right
        // so that a blank still separates it from "computer.".
        if (row.id == idLabel3) {
            int space = 0, h = 0;
            ws_.MeasureText(frame_, L" ", font, space, h);
            rect.left = std::max(rect.left, label2Right + space);
        }
        if (!created_) {
            platform::ControlLayout c;
            c.id = row.id;
            c.kind = row.kind;
            c.text = row.text;
            c.rect = rect;
            c.font = font;
            c.textRgb = row.kind == ControlKind::LinkLabel ? kLinkBlue : -1;
            c.visible = st.visible;
            c.enabled = st.enabled;
            c.tabStop = std::find(MainWindowTabOrder().begin(), MainWindowTabOrder().end(), row.id) !=
                        MainWindowTabOrder().end();
            ws_.AddControl(frame_, c);
        } else {
            ws_.SetFont(frame_, row.id, font);
            ws_.SetRect(frame_, row.id, rect);
        }
    }
    if (!created_) ws_.SetChecked(frame_, idRbDisagree, true);
    created_ = true;
    if (haveArtwork_) {
        const platform::PixelRect r = FramePosition(Row(idImage1), dpi_);
        ws_.SetPicture(frame_, idImage1, ScaleBitmap(artwork_, r.width, r.height));
    }
}

void TfrmNewMainForm::LoadArtwork() {
    std::wstring why;
    haveArtwork_ = DecodeJpeg(ws_.ResourceData(kArtworkResource), artwork_, why);
}

const TfrmNewMainForm::ControlState& TfrmNewMainForm::State(int id) const {
    auto it = state_.find(id);
    if (it == state_.end()) throw Error(L"no control " + IntToStr(id));
    return it->second;
}

void TfrmNewMainForm::SetBold(int id, bool bold) {
    ControlState& st = state_[id];
    if (st.bold == bold) return;
    st.bold = bold;
    const TControlLayout& row = Row(id);
    platform::FontChoice font = FontOf(row, bold);
    platform::PixelRect rect = FramePosition(row, dpi_);
    ws_.MeasureText(frame_, row.text, font, rect.width, rect.height);
    ws_.SetFont(frame_, id, font);
    ws_.SetRect(frame_, id, rect);
}

void TfrmNewMainForm::SetChecked(int id, bool checked) {
    state_[id].checked = checked;
    ws_.SetChecked(frame_, id, checked);
}

void TfrmNewMainForm::SetVisible(int id, bool visible) {
    state_[id].visible = visible;
    ws_.SetVisible(frame_, id, visible);
}

void TfrmNewMainForm::SetEnabled(int id, bool enabled) {
    state_[id].enabled = enabled;
    ws_.SetEnabled(frame_, id, enabled);
}

std::wstring DefaultInstallPath(platform::FrameHandle frame) {
    platform::WindowSystem& ws = platform::Windows();
    std::wstring base;
    if (IsWow64()) {
        // The native Program Files folder, read into a buffer of 260
        // characters as the shell's own paths are.
        base = LeftStr(platform::Env().Variable(L"ProgramW6432"), 259);
    } else {
        base = ws.ProgramFilesFolder(frame);
    }
    // A 64-bit Windows without ProgramW6432: the shell's folder (the 32-bit
    // one) still gives a working installation, and a user sees a path
    // rather than a bare "Quorvan Labs\Tidewell\" that Install rejects.
    if (base.empty()) base = ws.ProgramFilesFolder(frame);
    return AddTrailingBackslash(base) + L"Quorvan Labs\\Tidewell\\";
}

// --- handlers ---

void TfrmNewMainForm::FormShow() {
    const std::wstring dir = InstallDirectory();
    SetEnabled(idCbUninstall, !dir.empty());
    ws_.SetText(frame_, idEdtInstallPath, dir.empty() ? DefaultInstallPath(frame_) : dir);
}

void TfrmNewMainForm::rbAgreeClick() {
    SetEnabled(idCbInstall, true);
    ws_.SetFocus(frame_, idCbInstall);
}

void TfrmNewMainForm::rbNoAgreeClick() { SetEnabled(idCbInstall, false); }

void TfrmNewMainForm::cmdGetDirClick() {
    const std::wstring start = Trim(ws_.Text(frame_, idEdtInstallPath));
    std::optional<std::wstring> chosen = ws_.BrowseForFolder(frame_, start);
    if (chosen) ws_.SetText(frame_, idEdtInstallPath, *chosen);
}

void TfrmNewMainForm::cbViewLicenseClick() {
    platform::Shell().Execute(L"open", LicenseUrl(), L"", std::nullopt, platform::kSwShowNormal);
}

void TfrmNewMainForm::Label3Click() {
    platform::Shell().ExecuteOwned(OwnerHandle(), L"open", HostedServiceUrl(), L"", std::nullopt,
                                   platform::kSwShowNormal);
}

void TfrmNewMainForm::cbCancelClick() {
    if (AbandonJavaWait(*this)) return;
    if (!oComponentDL || oComponentDL->Status() != DOWNLOAD_IN_PROGRESS) {
        CloseWindow();
        return;
    }
    oComponentDL->AbortDownload();
}

void TfrmNewMainForm::cbUninstallClick() {
    SetVisible(idSbStatusBar, true);
    const TUninstallRunner& runner = UninstallRunner();
    // The uninstaller lets window events run while it works: nothing here
    // may start meanwhile (a second uninstall, an installation that records
    // and registers the folder being removed, the countdown's browser on a
    // server being removed). Every control that takes input is disabled and
    // both timers stopped; a declined uninstall gets them back as they were.
    std::map<int, bool> enabled;
    for (const auto& row : MainWindowLayout())
        if (TakesInput(row.kind)) enabled[row.id] = State(row.id).enabled;
    const bool dlTimer = dlTimerOn_, startTimer = startTimerOn_;
    for (const auto& control : enabled) SetEnabled(control.first, false);
    SetDownloadTimer(false);
    SetStartTimer(false);
    uninstalling_ = true;
    // Without an uninstaller in this build nothing is removed, which the
    // user is told like a declined uninstall.
    bool done = false;
    try {
        done = runner ? runner(&statusLine_) : false;
    } catch (...) {
        uninstalling_ = false;
        throw;
    }
    uninstalling_ = false;
    if (done) {
        platform::Env().RequestQuit();
        CloseWindow();
        return;
    }
    for (const auto& control : enabled) SetEnabled(control.first, control.second);
    SetDownloadTimer(dlTimer);
    SetStartTimer(startTimer);
    SetVisible(idSbStatusBar, true);
    platform::ShowMessage(L"Application was not uninstalled successfully", L"Notice", platform::MbIcon::Information);
}

// --- TInstallWindow ---

std::wstring TfrmNewMainForm::InstallPathText() { return ws_.Text(frame_, idEdtInstallPath); }

void TfrmNewMainForm::ShowInstallProgress() {
    for (int id : {idRbAgree, idRbDisagree, idCbViewLicense}) SetVisible(id, false);
    for (int id : {idLbStat1, idLbStat2, idLbStat3, idLbStat4, idLbStat5, idPb, idSbStatusBar}) SetVisible(id, true);
}

void TfrmNewMainForm::SetStage(InstallStage bold) {
    const int labels[] = {idLbStat1, idLbStat2, idLbStat3, idLbStat4, idLbStat5};
    for (int i = 0; i < 5; ++i) SetBold(labels[i], i + 1 == static_cast<int>(bold));
}

void TfrmNewMainForm::EnableInstallButton(bool enabled) { SetEnabled(idCbInstall, enabled); }
void TfrmNewMainForm::EnableUninstallButton(bool enabled) { SetEnabled(idCbUninstall, enabled); }

void TfrmNewMainForm::EnablePathControls(bool enabled) {
    SetEnabled(idEdtInstallPath, enabled);
    SetEnabled(idCmdGetDir, enabled);
}

void TfrmNewMainForm::SetDownloadTimer(bool on) {
    dlTimerOn_ = on;
    if (on)
        ws_.StartTimer(frame_, idDlTimer, 500);
    else
        ws_.StopTimer(frame_, idDlTimer);
}

void TfrmNewMainForm::SetStartTimer(bool on) {
    startTimerOn_ = on;
    if (on)
        ws_.StartTimer(frame_, idTmrStartTomcat, 1000);
    else
        ws_.StopTimer(frame_, idTmrStartTomcat);
}

void* TfrmNewMainForm::OwnerHandle() { return reinterpret_cast<void*>(ws_.NativeHandle(frame_)); }

void TfrmNewMainForm::CloseWindow() {
    if (frame_ && !closed_) ws_.Close(frame_);
}

// --- status line and progress bar for any thread ---

void TfrmNewMainForm::PostedStatusLine::SetText(const std::wstring& text) {
    form_.Post({idSbStatusBar, Update::Text, text, 0});
}
void TfrmNewMainForm::PostedProgressBar::SetMax(int max) { form_.Post({idPb, Update::Max, L"", max}); }
void TfrmNewMainForm::PostedProgressBar::SetPosition(int position) {
    form_.Post({idPb, Update::Position, L"", position});
}

void TfrmNewMainForm::Post(Update u) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        pending_.push_back(std::move(u));
    }
    if (std::this_thread::get_id() == windowThread_)
        ApplyPostedUpdates();
    else
        ws_.Wake(frame_);
}

void TfrmNewMainForm::ApplyPostedUpdates() {
    std::deque<Update> todo;
    {
        std::lock_guard<std::mutex> lock(mu_);
        todo.swap(pending_);
    }
    if (closed_) return;
    // A busy program (an unpacker's output) queues many updates between two
    // turns of the window thread; only the last of each kind per control
    // shows, so only that is applied (a range before its position).
    std::deque<Update> last;
    for (auto u = todo.rbegin(); u != todo.rend(); ++u) {
        bool later = false;
        for (const Update& l : last) later = later || (l.control == u->control && l.what == u->what);
        if (!later) last.push_front(*u);
    }
    std::stable_sort(last.begin(), last.end(),
                     [](const Update& a, const Update& b) { return a.what == Update::Max && b.what != Update::Max; });
    for (const Update& u : last) {
        switch (u.what) {
            case Update::Text: ws_.SetText(frame_, u.control, u.text); break;
            case Update::Max: ws_.SetProgressMax(frame_, u.control, u.value); break;
            case Update::Position: ws_.SetProgressPosition(frame_, u.control, u.value); break;
        }
    }
}

// --- window events (inside the window system's frames) ---

void TfrmNewMainForm::OnClick(int controlId) {
    // Also a click the window system delivers for a disabled control (the
    // Escape key presses Cancel).
    if (uninstalling_) return;
    platform::RunHandler([&] {
        switch (controlId) {
            case idRbAgree:
                // The radio buttons are one group: checking one unchecks the other.
                SetChecked(idRbAgree, true);
                SetChecked(idRbDisagree, false);
                rbAgreeClick();
                break;
            case idRbDisagree:
                SetChecked(idRbDisagree, true);
                SetChecked(idRbAgree, false);
                rbNoAgreeClick();
                break;
            case idCmdGetDir: cmdGetDirClick(); break;
            case idCbViewLicense: cbViewLicenseClick(); break;
            case idLabel3: Label3Click(); break;
            case idCbInstall: cbInstallClick(*this); break;
            case idCbUninstall: cbUninstallClick(); break;
            case idCbCancel: cbCancelClick(); break;
            default: break;
        }
    });
}

bool TfrmNewMainForm::OnAccelerator(wchar_t letter) {
    bool handled = false;
    platform::RunHandler([&] {
        const wchar_t want = static_cast<wchar_t>(std::towupper(letter));
        // Buttons first: the label that names Install shares its letter.
        for (const auto& row : MainWindowLayout()) {
            if (row.kind != ControlKind::Button && row.kind != ControlKind::RadioButton) continue;
            if (AcceleratorOf(row.text) != want) continue;
            handled = true;
            const ControlState& st = State(row.id);
            if (!st.visible || !st.enabled) return;
            ws_.SetFocus(frame_, row.id);
            OnClick(row.id);
            return;
        }
        // A letter that only a label shows (or none) does nothing.
        for (const auto& row : MainWindowLayout())
            if (AcceleratorOf(row.text) == want) handled = true;
    });
    return handled;
}

void TfrmNewMainForm::OnTimer(int timerId) {
    if (uninstalling_) return;  // a tick already on its way when the timer stopped
    // The installation's steps run inside a tick and let the window handle
    // its messages: a countdown tick then waits for the next one.
    if (inTimer_) return;
    inTimer_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{inTimer_};
    platform::RunHandler([&] {
        if (timerId == idDlTimer) dlTimerTimer(*this);
        if (timerId == idTmrStartTomcat) tmrStartTomcatTimer(*this);
    });
}

void TfrmNewMainForm::OnWake() {
    platform::RunHandler([&] { ApplyPostedUpdates(); });
}

void TfrmNewMainForm::OnDpiChanged(int dpi) {
    platform::RunHandler([&] {
        dpi_ = dpi;
        Layout();
    });
}

void TfrmNewMainForm::OnDestroyed() {
    platform::RunHandler([&] {
        closed_ = true;
        platform::Env().RequestQuit();
    });
}

}  // namespace tide
