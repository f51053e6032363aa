// The main window against the fake window system: every control at its
// place for the DPI, the keyboard order, the default path, the licence
// choice, the folder browser, the pages, Cancel, Uninstall, the status line
// and progress bar fed from another thread, and the artwork.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "base/error.h"
#include "core/servers.h"
#include "platform/fake/fake_shell_execute.h"
#include "platform/fake/fake_window.h"
#include "platform/net.h"
#include "release_fixture.h"
#include "ui/frmNewMain.h"
#include "ui/jpeg_picture.h"
#include "ui/resource_ids.h"

namespace tide {
namespace {

using platform::ControlKind;
using platform::fake::FakeControl;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Artwork() { return ReadBytes(std::string(TIDE_RES_DIR) + "/artwork.jpg"); }

struct MainWindowTest : ::testing::Test {
    testing::FakeMachine m;
    platform::fake::FakeWindowSystem ws;
    platform::fake::RecordingShellExecutor shell;
    platform::ScopedPort<platform::WindowSystem> wsPort{ws};
    platform::ScopedPort<platform::ShellExecutor> shellPort{shell};

    MainWindowTest() {
        ws.SetResource(kArtworkResource, Artwork());
        m.env.SetVariable(L"ProgramW6432", L"C:\\Program Files");
    }
    ~MainWindowTest() override { SetUninstallRunner(nullptr); }

    FakeControl& C(TfrmNewMainForm& f, int id) { return ws.Control(f.Frame(), id); }
    std::wstring PathText(TfrmNewMainForm& f) { return C(f, idEdtInstallPath).layout.text; }
};

// The window as a person first sees it, at 96 DPI: (id, kind, text, left,
// top, width, height, font px, bold, visible, enabled). Labels take the
// size of their text (the fake measures half the font height a character).
TEST_F(MainWindowTest, EveryControlAtItsPlaceWithItsTextAndState) {
    TfrmNewMainForm f;
    auto& frame = ws.Frame(f.Frame());
    EXPECT_EQ(frame.layout.caption, L"Tidewell Downloader");
    EXPECT_EQ(frame.layout.clientWidth, 735);
    EXPECT_EQ(frame.layout.clientHeight, 400);
    EXPECT_EQ(frame.layout.iconResource, TIDE_IDI_PRODUCT);

    using K = ControlKind;
    constexpr int kMeasured = -1;
    struct Row {
        int id;
        K kind;
        std::wstring text;
        int l, t, w, h, px;
        bool bold, visible, enabled;
    } rows[] = {
        {idImage1, K::Picture, L"", 16, 34, 175, 262, 11, false, true, true},
        {idLabel7, K::Label, L"Set the installation path, and click on &Install to begin.", 208, 14, kMeasured, 16, 13, false, true, true},
        {idLabel1, K::Label, L"A hosted version is available if you don't want to install Tidewell on your own", 208, 40, kMeasured, 16, 13, false, true, true},
        {idLabel2, K::Label, L"computer.", 208, 54, kMeasured, 16, 13, false, true, true},
        {idLabel3, K::LinkLabel, L"Tidewell - Hosted", 272, 54, kMeasured, 16, 13, false, true, true},
        {idLabel6, K::Label, L"Installation Path", 208, 87, kMeasured, 13, 11, false, true, true},
        {idEdtInstallPath, K::Edit, L"BADPATH", 208, 101, 473, 21, 11, false, true, true},
        {idCmdGetDir, K::Button, L"...", 687, 101, 25, 21, 11, false, true, true},
        {idRbAgree, K::RadioButton, L"I agree to the terms of the license.", 213, 143, 225, 17, 11, false, true, true},
        {idCbViewLicense, K::Button, L"View License Agreement", 465, 135, 166, 25, 11, false, true, true},
        {idRbDisagree, K::RadioButton, L"I do not agree to the terms of the license.", 213, 166, 257, 17, 11, false, true, true},
        {idLbStat1, K::Label, L"Analyzing System", 362, 132, kMeasured, 20, 16, true, false, true},
        {idLbStat2, K::Label, L"Downloading Files", 362, 157, kMeasured, 20, 16, false, false, true},
        {idLbStat3, K::Label, L"Unpacking Files", 362, 182, kMeasured, 20, 16, false, false, true},
        {idLbStat4, K::Label, L"Configuring System", 362, 207, kMeasured, 20, 16, false, false, true},
        {idLbStat5, K::Label, L"Starting System", 362, 232, kMeasured, 20, 16, false, false, true},
        {idPb, K::ProgressBar, L"", 208, 262, 504, 25, 11, false, false, true},
        {idSbStatusBar, K::StatusBar, L"", 208, 294, 504, 29, 11, false, false, true},
        {idGroupBox1, K::GroupBox, L"", 16, 334, 696, 57, 11, false, true, true},
        // In GroupBox1 (206, 18 and so on inside it).
        {idCbInstall, K::Button, L"&Install", 16 + 206, 334 + 18, 75, 25, 11, false, true, false},
        {idCbUninstall, K::Button, L"&Uninstall", 16 + 346, 334 + 18, 75, 25, 11, false, true, false},
        {idCbCancel, K::Button, L"&Cancel", 16 + 486, 334 + 18, 75, 25, 11, false, true, true},
    };
    // What the fake measures for a label: half the font height a
    // character, "&" taking none.
    auto measured = [](const std::wstring& text, int px) {
        int n = 0;
        for (wchar_t ch : text) n += ch != L'&';
        return n * px / 2;
    };
    EXPECT_EQ(frame.controls.size(), std::size(rows));
    for (const Row& r : rows) {
        const auto& c = C(f, r.id).layout;
        SCOPED_TRACE(WideToUtf8(r.text) + " #" + std::to_string(r.id));
        EXPECT_EQ(c.kind, r.kind);
        EXPECT_EQ(c.text, r.text);
        EXPECT_EQ(c.rect.left, r.l);
        EXPECT_EQ(c.rect.top, r.t);
        EXPECT_EQ(c.rect.width, r.w == kMeasured ? measured(r.text, r.px) : r.w);
        EXPECT_EQ(c.rect.height, r.h);
        EXPECT_EQ(c.font.face, L"Tahoma");
        EXPECT_EQ(c.font.pixelHeight, r.px);
        EXPECT_EQ(c.font.bold, r.bold);
        EXPECT_EQ(c.font.underline, r.id == idLabel3);
        EXPECT_EQ(c.textRgb, r.id == idLabel3 ? 0x0000FF : -1);
        EXPECT_EQ(c.visible, r.visible);
        EXPECT_EQ(c.enabled, r.enabled);
    }
    EXPECT_FALSE(C(f, idRbAgree).checked);
    EXPECT_TRUE(C(f, idRbDisagree).checked);
    EXPECT_TRUE(frame.timers.empty());
    EXPECT_FALSE(frame.shown);
}

TEST_F(MainWindowTest, TabReachesTheControlsInTheirKeyboardOrder) {
    TfrmNewMainForm f;
    std::vector<int> tab;
    for (const auto& c : ws.Frame(f.Frame()).controls)
        if (c.layout.tabStop) tab.push_back(c.layout.id);
    EXPECT_EQ(tab, (std::vector<int>{idEdtInstallPath, idCmdGetDir, idRbAgree, idCbViewLicense, idRbDisagree,
                                     idCbInstall, idCbUninstall, idCbCancel}));
    // Escape presses control 2.
    EXPECT_EQ(idCbCancel, 2);
    f.Show();
    EXPECT_EQ(ws.Focused(f.Frame()), idEdtInstallPath);
}

TEST_F(MainWindowTest, ScaleForDpiRoundsToTheNearestPixel) {
    struct {
        int v, dpi, want;
    } cases[] = {{735, 96, 735}, {735, 144, 1103}, {400, 144, 600}, {11, 120, 14}, {13, 144, 20},
                 {25, 192, 50},  {17, 120, 21},   {0, 144, 0},     {206, 168, 361}};
    for (auto& c : cases) EXPECT_EQ(ScaleForDpi(c.v, c.dpi), c.want) << c.v << " at " << c.dpi;
}

TEST_F(MainWindowTest, AtAHigherDpiEverythingIsScaledAndAgainWhenTheDpiChanges) {
    ws.SetDpi(144);
    TfrmNewMainForm f;
    auto& frame = ws.Frame(f.Frame());
    EXPECT_EQ(frame.layout.clientWidth, 1103);
    EXPECT_EQ(frame.layout.clientHeight, 600);
    auto rect = [&](int id) { return C(f, id).layout.rect; };
    EXPECT_EQ(rect(idEdtInstallPath).left, 312);
    EXPECT_EQ(rect(idEdtInstallPath).top, 152);
    EXPECT_EQ(rect(idEdtInstallPath).width, 710);
    EXPECT_EQ(rect(idEdtInstallPath).height, 32);
    EXPECT_EQ(rect(idCbCancel).left, 753);  // (16 + 486) * 1.5
    EXPECT_EQ(rect(idCbCancel).top, 528);
    EXPECT_EQ(C(f, idLabel7).layout.font.pixelHeight, 20);
    EXPECT_EQ(C(f, idLbStat1).layout.font.pixelHeight, 24);
    EXPECT_EQ(C(f, idEdtInstallPath).layout.font.pixelHeight, 17);
    EXPECT_EQ(C(f, idImage1).picture.width, 263);
    EXPECT_EQ(C(f, idImage1).picture.height, 393);

    ws.ChangeDpi(f.Frame(), 192);
    EXPECT_EQ(rect(idEdtInstallPath).left, 416);
    EXPECT_EQ(rect(idEdtInstallPath).width, 946);
    EXPECT_EQ(rect(idLabel2).width, 9 * 13);  // 26 px font
    EXPECT_EQ(C(f, idCbInstall).layout.font.pixelHeight, 22);
    EXPECT_EQ(C(f, idImage1).picture.width, 350);
    EXPECT_EQ(C(f, idImage1).picture.height, 524);
}

TEST_F(MainWindowTest, InAWiderFontTheLinkStillFollowsComputerWithABlank) {
    ws.SetCharWidthEighths(6);  // 13 px font: "computer." 87 px from 208, a blank 9 px
    TfrmNewMainForm f;
    EXPECT_EQ(C(f, idLabel2).layout.rect.width, 87);
    EXPECT_EQ(C(f, idLabel3).layout.rect.left, 208 + 87 + 9);
    EXPECT_EQ(C(f, idLabel3).layout.rect.top, 54);
}

TEST_F(MainWindowTest, AnErrorInAHandlerEndsTheMessageLoopAndIsRaisedThere) {
    SaveInstallDirectory(L"C:\\Apps\\Tidewell");
    SetUninstallRunner([](platform::StatusLine*) -> bool { throw IoError(L"Cannot delete C:\\Apps\\Tidewell"); });
    TfrmNewMainForm f;
    f.Show();
    ws.Click(f.Frame(), idCbUninstall);  // inside the window system: the error must not escape
    EXPECT_TRUE(m.env.QuitRequested());
    try {
        m.env.RunMessageLoop();
        ADD_FAILURE() << "the loop did not raise the error";
    } catch (const Error& e) {
        EXPECT_EQ(e.Message(), L"Cannot delete C:\\Apps\\Tidewell");
    }
}

TEST_F(MainWindowTest, WithoutAWindowSystemTheWindowIsAnError) {
    ws.SetCreateFails(true);
    EXPECT_THROW(TfrmNewMainForm f, Error);
}

// FormShow: the path and the Uninstall button.
TEST_F(MainWindowTest, DefaultPathOn64BitWindowsIsTheNativeProgramFilesFolder) {
    TfrmNewMainForm f;
    f.Show();
    EXPECT_TRUE(ws.Frame(f.Frame()).shown);
    EXPECT_EQ(PathText(f), L"C:\\Program Files\\Quorvan Labs\\Tidewell\\");
    EXPECT_EQ(ws.ProgramFilesQueries(), 0);
    EXPECT_FALSE(C(f, idCbUninstall).layout.enabled);
}

TEST_F(MainWindowTest, DefaultPathOn32BitWindowsIsTheShellsProgramFilesFolder) {
    m.machine.Set(platform::fake::MachineKind::Windows32);
    ws.SetProgramFilesFolder(L"C:\\Program Files\\");
    TfrmNewMainForm f;
    f.Show();
    EXPECT_EQ(PathText(f), L"C:\\Program Files\\Quorvan Labs\\Tidewell\\");
    EXPECT_EQ(ws.ProgramFilesQueries(), 1);
}

TEST_F(MainWindowTest, On64BitWindowsWithoutProgramW6432TheShellsFolderIsTaken) {
    m.env.SetVariable(L"ProgramW6432", L"");
    TfrmNewMainForm f;
    f.Show();
    EXPECT_EQ(PathText(f), L"C:\\Program Files (x86)\\Quorvan Labs\\Tidewell\\");
}

TEST_F(MainWindowTest, ARecordedInstallDirectoryIsOfferedAndUninstallEnabled) {
    SaveInstallDirectory(L"D:\\Apps\\Tidewell");
    TfrmNewMainForm f;
    f.Show();
    EXPECT_EQ(PathText(f), L"D:\\Apps\\Tidewell\\");
    EXPECT_TRUE(C(f, idCbUninstall).layout.enabled);
    f.Show();  // shown again: FormShow ran once
    EXPECT_EQ(PathText(f), L"D:\\Apps\\Tidewell\\");
}

TEST_F(MainWindowTest, InstallFollowsTheLastLicenceChoice) {
    TfrmNewMainForm f;
    f.Show();
    struct {
        int click;
        bool installEnabled, agreeChecked;
    } steps[] = {{idRbAgree, true, true}, {idRbDisagree, false, false}, {idRbAgree, true, true}};
    for (auto& s : steps) {
        ws.Click(f.Frame(), s.click);
        EXPECT_EQ(C(f, idCbInstall).layout.enabled, s.installEnabled);
        EXPECT_EQ(C(f, idRbAgree).checked, s.agreeChecked);
        EXPECT_EQ(C(f, idRbDisagree).checked, !s.agreeChecked);
    }
    EXPECT_EQ(ws.Focused(f.Frame()), idCbInstall);
}

TEST_F(MainWindowTest, TheFolderBrowserStartsAtTheTrimmedPathAndReplacesItWhenConfirmed) {
    TfrmNewMainForm f;
    f.Show();
    ws.SetText(f.Frame(), idEdtInstallPath, L"  C:\\Apps\\  ");
    ws.SetBrowseAnswer(std::nullopt);
    ws.Click(f.Frame(), idCmdGetDir);
    EXPECT_EQ(PathText(f), L"  C:\\Apps\\  ");  // cancelled: unchanged
    ws.SetBrowseAnswer(L"D:\\Tidewell");
    ws.Click(f.Frame(), idCmdGetDir);
    EXPECT_EQ(PathText(f), L"D:\\Tidewell");
    EXPECT_EQ(ws.BrowseStarts(), (std::vector<std::wstring>{L"C:\\Apps\\", L"C:\\Apps\\"}));
}

TEST_F(MainWindowTest, TheLicenceAndTheHostedServiceOpenWithTheShell) {
    TfrmNewMainForm f;
    f.Show();
    ws.Click(f.Frame(), idCbViewLicense);
    ws.Click(f.Frame(), idLabel3);
    auto calls = shell.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].verb, L"open");
    EXPECT_EQ(calls[0].file, LicenseUrl());
    EXPECT_EQ(calls[0].parameters, L"");
    EXPECT_EQ(calls[0].show, platform::kSwShowNormal);
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[1].verb, L"open");
    EXPECT_EQ(calls[1].file, HostedServiceUrl());
    EXPECT_EQ(calls[1].parameters, L"");
    EXPECT_EQ(calls[1].show, platform::kSwShowNormal);
    EXPECT_EQ(calls[1].owner, f.OwnerHandle());
    EXPECT_NE(calls[1].owner, nullptr);
}

TEST_F(MainWindowTest, CancelWithoutADownloadClosesTheWindowAndEndsTheProgram) {
    TfrmNewMainForm f;
    f.Show();
    ws.Click(f.Frame(), idCbCancel);
    EXPECT_TRUE(f.Closed());
    EXPECT_TRUE(ws.Frame(f.Frame()).closed);
    EXPECT_TRUE(m.env.QuitRequested());
}

TEST_F(MainWindowTest, AcceleratorsPressEnabledButtonsOnly) {
    TfrmNewMainForm f;
    f.Show();
    auto& events = static_cast<platform::WindowEvents&>(*ws.Frame(f.Frame()).events);
    EXPECT_TRUE(events.OnAccelerator(L'u'));  // Uninstall is disabled: swallowed, nothing happens
    EXPECT_TRUE(events.OnAccelerator(L'i'));  // Install too (the label's letter does not move the focus)
    EXPECT_FALSE(events.OnAccelerator(L'q'));
    EXPECT_FALSE(f.Closed());
    EXPECT_EQ(ws.Focused(f.Frame()), idEdtInstallPath);
    EXPECT_TRUE(events.OnAccelerator(L'C'));
    EXPECT_TRUE(f.Closed());
}

TEST_F(MainWindowTest, UninstallWithoutAnUninstallerSaysItWasNotUninstalled) {
    SaveInstallDirectory(L"C:\\Apps\\Tidewell");
    TfrmNewMainForm f;
    f.Show();
    ws.Click(f.Frame(), idCbUninstall);
    EXPECT_TRUE(C(f, idSbStatusBar).layout.visible);
    auto boxes = m.boxes.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Application was not uninstalled successfully");
    EXPECT_EQ(boxes[0].caption, L"Notice");
    EXPECT_EQ(boxes[0].icon, platform::MbIcon::Information);
    EXPECT_FALSE(f.Closed());
    EXPECT_FALSE(m.env.QuitRequested());
}

TEST_F(MainWindowTest, UninstallDeclinedOrDoneAsTheUninstallerSays) {
    SaveInstallDirectory(L"C:\\Apps\\Tidewell");
    std::vector<bool> answers = {false, true};
    SetUninstallRunner([&](platform::StatusLine* sb) {
        EXPECT_NE(sb, nullptr);
        sb->SetText(L"Removing the service");
        bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    });
    TfrmNewMainForm f;
    f.Show();
    ws.Click(f.Frame(), idCbUninstall);
    EXPECT_EQ(C(f, idSbStatusBar).layout.text, L"Removing the service");
    EXPECT_EQ(m.BoxesCaptioned(L"Notice"), 1);
    EXPECT_FALSE(f.Closed());
    ws.Click(f.Frame(), idCbUninstall);
    EXPECT_EQ(m.BoxesCaptioned(L"Notice"), 1);
    EXPECT_TRUE(f.Closed());
    EXPECT_TRUE(m.env.QuitRequested());
}

// The uninstaller lets window events run while it works: meanwhile no
// control acts and no timer ticks (a second uninstall, an installation, the
// countdown's browser); a decline gives the window back as it was.
TEST_F(MainWindowTest, WhileTheUninstallRunsTheWindowTakesNoInputAndItsTimersStop) {
    SaveInstallDirectory(L"C:\\Apps\\Tidewell");
    TfrmNewMainForm f;
    f.Show();
    ws.Click(f.Frame(), idRbAgree);
    f.SetDownloadTimer(true);
    f.SetStartTimer(true);  // as in the countdown
    f.tomcatStartDelay = 1;
    auto& events = static_cast<platform::WindowEvents&>(*ws.Frame(f.Frame()).events);
    const int inputs[] = {idEdtInstallPath, idCmdGetDir, idRbAgree,   idCbViewLicense, idRbDisagree,
                          idLabel3,         idCbInstall, idCbUninstall, idCbCancel};
    std::map<int, bool> before;
    for (int id : inputs) before[id] = C(f, id).layout.enabled;
    const std::map<int, int> timers = ws.Frame(f.Frame()).timers;
    ASSERT_EQ(timers.size(), 2u);
    int runs = 0;
    SetUninstallRunner([&](platform::StatusLine*) {
        if (++runs > 1) return false;  // nested
        for (int id : inputs) {
            EXPECT_FALSE(C(f, id).layout.enabled) << id;
            ws.Click(f.Frame(), id);
        }
        EXPECT_TRUE(ws.Frame(f.Frame()).timers.empty());
        // Delivered whatever the controls' state: Escape presses Cancel; a
        // tick can be on its way when its timer stops.
        events.OnClick(idCbCancel);
        events.OnClick(idCbUninstall);
        events.OnTimer(idTmrStartTomcat);
        events.OnTimer(idDlTimer);
        return false;  // declined
    });
    ws.Click(f.Frame(), idCbUninstall);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(f.Closed());
    EXPECT_TRUE(shell.Calls().empty());  // no browser, no licence page
    EXPECT_EQ(f.tomcatStartDelay, 1);
    EXPECT_EQ(m.BoxesCaptioned(L"Notice"), 1);  // the decline's only
    for (int id : inputs) EXPECT_EQ(C(f, id).layout.enabled, before[id]) << id;
    EXPECT_EQ(ws.Frame(f.Frame()).timers, timers);
}

TEST_F(MainWindowTest, StatusAndProgressFromAnotherThreadArriveThroughTheWindowThread) {
    TfrmNewMainForm f;
    f.Show();
    std::thread t([&] {
        f.StatusLine().SetText(L"Downloading tidewell-4.2.1.zip");
        f.Progress().SetMax(250);
        f.Progress().SetPosition(40);
        f.StatusLine().SetText(L"Downloading UNZIP.EXE");
    });
    t.join();
    // Nothing touched the controls from the other thread.
    EXPECT_EQ(C(f, idSbStatusBar).layout.text, L"");
    EXPECT_EQ(C(f, idPb).progressPosition, 0);
    EXPECT_EQ(ws.Frame(f.Frame()).wakes, 4);
    const int textsBefore = C(f, idSbStatusBar).textsSet;
    ws.DeliverWakes(f.Frame());
    EXPECT_EQ(C(f, idSbStatusBar).layout.text, L"Downloading UNZIP.EXE");
    // Only the last text of those queued meanwhile reaches the control.
    EXPECT_EQ(C(f, idSbStatusBar).textsSet - textsBefore, 1);
    EXPECT_EQ(C(f, idPb).progressMax, 250);
    EXPECT_EQ(C(f, idPb).progressPosition, 40);
    // On the window thread: at once.
    f.StatusLine().SetText(L"Configuring System");
    EXPECT_EQ(C(f, idSbStatusBar).layout.text, L"Configuring System");
}

TEST_F(MainWindowTest, WhatTheInstallationAsksOfTheWindow) {
    TfrmNewMainForm f;
    f.Show();
    TInstallWindow& w = f;
    EXPECT_EQ(w.InstallPathText(), L"C:\\Program Files\\Quorvan Labs\\Tidewell\\");
    w.ShowInstallProgress();
    for (int id : {idRbAgree, idRbDisagree, idCbViewLicense}) EXPECT_FALSE(C(f, id).layout.visible) << id;
    for (int id : {idLbStat1, idLbStat2, idLbStat3, idLbStat4, idLbStat5, idPb, idSbStatusBar})
        EXPECT_TRUE(C(f, id).layout.visible) << id;
    w.SetStage(InstallStage::Unpacking);
    const int labels[] = {idLbStat1, idLbStat2, idLbStat3, idLbStat4, idLbStat5};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(C(f, labels[i]).layout.font.bold, i == 2) << i;
    EXPECT_EQ(C(f, idLbStat3).layout.rect.left, 362);
    w.EnableInstallButton(true);
    w.EnableUninstallButton(true);
    w.EnablePathControls(false);
    EXPECT_TRUE(C(f, idCbInstall).layout.enabled);
    EXPECT_TRUE(C(f, idCbUninstall).layout.enabled);
    EXPECT_FALSE(C(f, idEdtInstallPath).layout.enabled);
    EXPECT_FALSE(C(f, idCmdGetDir).layout.enabled);
    w.SetDownloadTimer(true);
    w.SetStartTimer(true);
    EXPECT_EQ(ws.Frame(f.Frame()).timers, (std::map<int, int>{{idDlTimer, 500}, {idTmrStartTomcat, 1000}}));
    w.SetDownloadTimer(false);
    EXPECT_EQ(ws.Frame(f.Frame()).timers, (std::map<int, int>{{idTmrStartTomcat, 1000}}));
    w.CloseWindow();
    EXPECT_TRUE(f.Closed());
}

TEST_F(MainWindowTest, TheArtworkIsDecodedAndFittedToThePicture) {
    TfrmNewMainForm f;
    const auto& pic = C(f, idImage1).picture;
    ASSERT_EQ(pic.width, 175);
    ASSERT_EQ(pic.height, 262);
    // Night sky at the top left, the white calendar page in the middle.
    const uint8_t* sky = &pic.bgrx[(4 * 175 + 4) * 4];
    EXPECT_GT(sky[0], sky[2] + 30);  // blue over red
    EXPECT_LT(sky[2], 60);
    const uint8_t* page = &pic.bgrx[(size_t(120) * 175 + 36) * 4];
    for (int c = 0; c < 3; ++c) EXPECT_GT(page[c], 200) << c;
}

TEST(JpegPicture, DecodesTheArtwork) {
    platform::Bitmap b;
    std::wstring why;
    ASSERT_TRUE(DecodeJpeg(Artwork(), b, why)) << WideToUtf8(why);
    EXPECT_EQ(b.width, 350);
    EXPECT_EQ(b.height, 524);
    EXPECT_EQ(b.bgrx.size(), size_t(350) * 524 * 4);
    EXPECT_EQ(why, L"");
}

TEST(JpegPicture, APictureCutShortDecodesWithAWarning) {
    std::vector<uint8_t> data = Artwork();
    data.resize(data.size() / 2);
    platform::Bitmap b;
    std::wstring why;
    EXPECT_TRUE(DecodeJpeg(data, b, why));
    EXPECT_EQ(b.width, 350);
    EXPECT_NE(why, L"");
}

TEST(JpegPicture, DataThatIsNoJpegIsRefusedWithoutEndingTheProgram) {
    const std::vector<std::vector<uint8_t>> bad = {{}, {'G', 'I', 'F', '8', '9', 'a', 0, 0}, {0xFF, 0xD8, 0xFF}};
    for (const auto& d : bad) {
        platform::Bitmap b;
        std::wstring why;
        EXPECT_FALSE(DecodeJpeg(d, b, why)) << d.size();
        EXPECT_NE(why, L"");
        EXPECT_EQ(b.width, 0);
    }
}

TEST(JpegPicture, ScalingAveragesTheAreaEachPixelCovers) {
    platform::Bitmap src;
    src.width = 2;
    src.height = 2;
    src.bgrx = {0, 0, 0, 0, 200, 100, 40, 0, 100, 100, 100, 0, 100, 0, 20, 0};
    platform::Bitmap one = ScaleBitmap(src, 1, 1);
    EXPECT_EQ(one.bgrx, (std::vector<uint8_t>{100, 50, 40, 0}));
    platform::Bitmap same = ScaleBitmap(src, 2, 2);
    EXPECT_EQ(same.bgrx, src.bgrx);
    platform::Bitmap twice = ScaleBitmap(src, 4, 4);
    EXPECT_EQ(twice.width, 4);
    EXPECT_EQ(twice.bgrx[(0 * 4 + 3) * 4], 200);  // top right comes from the top right pixel
    EXPECT_EQ(twice.bgrx[(3 * 4 + 0) * 4], 100);
    platform::Bitmap third = ScaleBitmap(src, 3, 1);  // x: 2/3 and 1/3 of a pixel
    EXPECT_EQ(third.bgrx[0], 50);                      // (0+100)/2 in the left third
    EXPECT_EQ(third.bgrx[4], 100);                     // middle: the four at equal share
}

// A tick that comes while a tick's own work lets the window handle its
// messages (the installation's steps do) waits for the next one.
struct NestingWindows : platform::fake::FakeWindowSystem {
    std::function<void()> onSetText;
    void SetText(platform::FrameHandle frame, int id, const std::wstring& text) override {
        FakeWindowSystem::SetText(frame, id, text);
        if (auto f = std::move(onSetText)) f();
    }
};
struct SilentNet : platform::Network {
    bool ConnectLocal(int, uint32_t) override { return false; }
};

TEST_F(MainWindowTest, ATickInsideATickWaitsForTheNext) {
    NestingWindows nesting;
    nesting.SetResource(kArtworkResource, Artwork());
    SilentNet net;
    platform::ScopedPort<platform::WindowSystem> port{nesting};
    platform::ScopedPort<platform::Network> netPort{net};
    TfrmNewMainForm f;
    f.Show();
    f.tomcatStartDelay = 10;
    f.SetStartTimer(true);
    nesting.onSetText = [&] { nesting.Tick(f.Frame(), idTmrStartTomcat); };
    nesting.Tick(f.Frame(), idTmrStartTomcat);
    EXPECT_EQ(f.tomcatStartDelay, 9);
    nesting.Tick(f.Frame(), idTmrStartTomcat);
    EXPECT_EQ(f.tomcatStartDelay, 8);
}

}  // namespace
}  // namespace tide
