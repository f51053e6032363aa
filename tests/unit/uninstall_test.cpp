// The uninstaller against the fakes: the order of its steps, what it
// removes, the refused folders, the second stage's command line and its
// bounded wait.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/install_dir_guard.h"
#include "core/servers.h"
#include "platform/fake/fake_shell_execute.h"
#include "platform/fake/fake_shell_files.h"
#include "system_fixture.h"
#include "uninstall/Uninstall.h"
#include "uninstall/removal_guard.h"

namespace tide::testing {
namespace {

using platform::kIdCancel;
using platform::kIdOk;

struct UninstallTest : SystemFixture {
    static constexpr const wchar_t* kCommon = L"C:\\ProgramData\\Start Menu\\Programs";
    platform::fake::FakeShellFiles shell;
    platform::fake::RecordingShellExecutor exec;
    platform::ScopedPort<platform::ShellFiles> s1{shell};
    platform::ScopedPort<platform::ShellExecutor> s2{exec};
    platform::RecordingStatusLine status;
    platform::fake::FakeRegistry& reg = m.machine.registry;

    UninstallTest() {
        m.env.SetVariable(L"SystemRoot", L"C:\\Windows");
        m.env.SetVariable(L"ProgramFiles", L"C:\\Program Files");
        m.env.SetVariable(L"ProgramW6432", L"C:\\Program Files");
        m.env.SetVariable(L"USERPROFILE", L"C:\\Users\\admin");
        shell.SetSpecialFolder(platform::kCsidlPrograms, kPrograms);
        shell.SetSpecialFolder(platform::kCsidlCommonPrograms, kCommon);
        m.MakeDirs(std::wstring(kFolder));
        m.MakeDirs(std::wstring(kApp) + L"tidewell-4.2.1\\data");
        m.WriteFile(std::wstring(kApp) + L"Tidestart.EXE", "MZ");
        reg.PutString(L"HKLM\\Software\\Quorvan Labs\\Tidewell", L"StartMenuIcon", std::wstring(kFolder) + L"Tidestart.lnk");
        reg.PutString(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell", L"DisplayName", L"Tidewell");
        reg.PutString(L"HKLM\\Software\\Quorvan Labs\\Other", L"x", L"y");
        reg.PutString(L"HKLM\\SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\ODBC Data Sources", L"TIDEWELL", L"Access");
        reg.PutKey(L"HKLM\\SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\TIDEWELL");
        for (const wchar_t* exe : {L"Tidelink.exe", L"Tideclean.exe", L"Tidestart.exe"})
            reg.PutString(std::wstring(L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + exe,
                          L"", L"x");
        reg.PutString(L"HKCU\\Software\\Quorvan Labs\\Tidelink", L"x", L"y");
        MarkInstallation(kApp);
    }
    std::wstring Identity() { return ReadSetting(kInstallIdSetting); }
    bool Exists(const std::wstring& p) { return platform::Files().DirectoryExists(p) || platform::Files().FileExists(p); }
};

TEST_F(UninstallTest, CancelChangesNothing) {
    m.boxes.QueueAnswer(kIdCancel);
    EXPECT_FALSE(RunUninstall(&status));
    auto boxes = m.boxes.Take();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              L"Uninstalling Tidewell will remove all files stored in C:\\Apps\\Tidewell\\.\n\nThis includes any calendar "
              L"data you may have stored in the Derby database.\n\nAre you sure you wish to do this?");
    EXPECT_EQ(boxes[0].caption, L"Uninstall Tidewell");
    EXPECT_EQ(boxes[0].icon, platform::MbIcon::Stop);
    EXPECT_EQ(boxes[0].buttons, platform::MbButtons::OkCancelDefaultCancel);
    EXPECT_TRUE(status.Texts().empty());
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_TRUE(reg.DeletedKeys().empty());
    EXPECT_FALSE(m.env.QuitRequested());
}

TEST_F(UninstallTest, FromInsideTheDirectoryStepsInOrderThenTheCopy) {
    m.env.SetExecutablePath(std::wstring(kApp) + L"Tidestart.EXE");
    const std::wstring temp = L"C:\\Users\\admin\\AppData\\Local\\Temp\\";
    m.MakeDirs(temp);
    EXPECT_TRUE(RunUninstall(&status));
    const std::vector<std::wstring> want = {
        L"Determining registry hive...",
        L"Removing ODBC DSN...",
        L"Removing start menu icons...",
        std::wstring(L"Removing Directory tree ") + kPrograms + L"\\Tidewell Web Calendar",
        L"Removing Sync Program Registry Entries...",
        L"Removing Directory tree C:\\Apps\\Tidewell\\tidewell-4.2.1\\",
        L"Removing Registry keys...",
        L"Copying file C:\\Apps\\Tidewell\\Tidestart.EXE to " + temp + L"Tideclean.EXE",
        L"Spawning uninstaller to erase program directory....",
        L"Terminating application...",
    };
    EXPECT_EQ(status.Texts(), want);
    EXPECT_EQ(shell.Recycled(), std::vector<std::wstring>{L"C:\\Apps\\Tidewell\\tidewell-4.2.1"});
    EXPECT_TRUE(Exists(std::wstring(kApp) + L"Tidestart.EXE"));  // left to the second stage
    EXPECT_TRUE(Exists(temp + L"Tideclean.EXE"));
    auto start = procs.Starts().back();
    EXPECT_EQ(*start.application, temp + L"Tideclean.EXE");
    EXPECT_EQ(*start.commandLine, L"\"" + temp + L"Tideclean.EXE\" /DOUNINSTALL \"C:\\Apps\\Tidewell\\Tidestart.EXE\" "
                                                  L"\"C:\\Apps\\Tidewell\\\"");
    EXPECT_EQ(*start.workDir, temp);
    EXPECT_EQ(start.flags, 0x210u);
    EXPECT_TRUE(m.env.QuitRequested());
    // Registry: product, uninstall, synch and ODBC keys gone; the other product stays.
    for (const wchar_t* gone : {L"HKLM\\Software\\Quorvan Labs\\Tidewell",
                                L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell",
                                L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tidelink.exe",
                                L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tideclean.exe",
                                L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Tidestart.exe",
                                L"HKLM\\SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\TIDEWELL", L"HKCU\\Software\\Quorvan Labs"})
        EXPECT_FALSE(reg.HasKey(gone)) << gone;
    EXPECT_TRUE(reg.HasKey(L"HKLM\\Software\\Quorvan Labs\\Other"));
    EXPECT_FALSE(Exists(kFolder));
}

// A service the script created while ending with a failure code has
// "ServiceInstalled" "N": still this installation's when its program lies
// in the install directory, and removed with it.
TEST_F(UninstallTest, RemovesTheServiceWhoseProgramLiesInTheInstallation) {
    struct Row { const wchar_t* setting; const wchar_t* imagePath; bool removed; };
    const Row rows[] = {
        {L"N", nullptr, false},  // no service key
        {L"N", L"\"C:\\Apps\\Tidewell\\apache-tomcat\\bin\\tomcat7.exe\" //RS//Tidewell", true},
        {L"", L"\"c:\\apps\\TIDEWELL\\apache-tomcat\\bin\\tomcat7.exe\" //RS//Tidewell", true},
        {L"N", L"C:\\Apps\\Tidewell\\apache-tomcat\\bin\\tomcat7.exe //RS//Tidewell", true},
        {L"N", L"\"C:\\Apps\\Tidewell2\\bin\\tomcat7.exe\" //RS//Tidewell", false},  // another installation's
        {L"N", L"\"C:\\Other\\tomcat7.exe\" //RS//Tidewell", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.imagePath ? r.imagePath : L"no key");
        m.MakeDirs(kApp);
        m.WriteFile(std::wstring(kApp) + L"downloader.ini", "[TW]\r\nFILE_VERSION=4.2.1\r\n");
        SaveInstallDirectory(kApp);
        MarkInstallation(kApp);
        WriteSetting(L"ServiceInstalled", r.setting);
        if (r.imagePath) PutMachineString(L"SYSTEM\\CurrentControlSet\\Services\\Tidewell", L"ImagePath", r.imagePath);
        const size_t before = procs.Starts().size();
        EXPECT_TRUE(RunUninstall(nullptr));
        size_t ds = 0;
        for (size_t i = before; i < procs.Starts().size(); ++i)
            ds += procs.Starts()[i].commandLine.value_or(L"").find(L" //DS//Tidewell") != std::wstring::npos;
        EXPECT_EQ(ds, r.removed ? 1u : 0u);
    }
}

TEST_F(UninstallTest, FromTheWindowNeverFetchesTheManifest) {
    m.Args({});  // the installer mode: the run has fetched nothing
    ResetManifestFetchedForTest();
    EXPECT_TRUE(RunUninstall(&status));
    EXPECT_TRUE(ManifestFetchedThisRun());
    EXPECT_TRUE(m.http.Requests().empty());
}

TEST_F(UninstallTest, FromOutsideDeletesTheDirectoryAndAnEmptyParent) {
    EXPECT_TRUE(RunUninstall(nullptr));
    EXPECT_TRUE(procs.Starts().empty());
    EXPECT_FALSE(Exists(L"C:\\Users\\admin\\AppData\\Local\\Temp\\Tideclean.EXE"));
    EXPECT_FALSE(Exists(kApp));
    EXPECT_FALSE(Exists(L"C:\\Apps"));
}

// Folders that must never be deleted: each refused with a box naming it,
// by both stages, before anything is changed.
struct Refused {
    const wchar_t* dir;
    bool plantMarker;  // a "downloader.ini" in it, as if it were the installation
};
const Refused kRefused[] = {
    {L"C:\\", true},
    {L"C:\\Windows\\", true},
    {L"C:\\Windows\\Temp\\x\\", true},
    {L"C:\\Program Files\\", true},
    {L"C:\\Users\\", true},
    {L"C:\\Users\\admin\\", true},
    {L"C:\\Data\\Photos\\", false},
    {L"relative\\dir\\", true},
};

TEST_F(UninstallTest, RefusedFoldersTable) {
    for (const auto& row : kRefused) {
        SCOPED_TRACE(std::wstring(row.dir));
        const bool absolute = row.dir[1] == L':';
        if (absolute) m.MakeDirs(row.dir);
        if (absolute && row.plantMarker) {
            m.WriteFile(std::wstring(row.dir) + L"downloader.ini", "[TW]\r\n");
            m.WriteFile(std::wstring(row.dir) + kInstallMarkerName, WideToUtf8(Identity()));
        }
        const std::wstring text = RefusedDirectoryText(row.dir);
        EXPECT_FALSE(IsRemovableInstallDirectory(row.dir));

        SaveInstallDirectory(row.dir);
        m.boxes.Take();
        EXPECT_FALSE(RunUninstall(&status));
        auto boxes = m.boxes.Take();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1].text, text);
        EXPECT_EQ(boxes[1].caption, L"Notice");

        RecordRemoval(row.dir, Identity());
        m.Args({L"/douninstall", L"x", row.dir});
        FinishUninstall();
        boxes = m.boxes.Take();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_TRUE(!absolute || Exists(row.dir));
    }
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_TRUE(reg.DeletedKeys().empty());
    EXPECT_TRUE(exec.Calls().empty());
}

// Only the mark that agrees with the recorded identity makes a folder this
// installation; the files an installation holds do not (the installer
// copies itself anywhere it is pointed at).
TEST_F(UninstallTest, AcceptedFolders) {
    struct Row {
        const wchar_t* what;
        const char* mark;  // nullptr: none; "=": the recorded identity
        bool accepted;
    };
    const Row rows[] = {
        {L"Tidestart.EXE", nullptr, false},
        {L"downloader.ini", nullptr, false},
        {L"TCBase\\", nullptr, false},
        {L"Tidestart.EXE", "{another}", false},
        {L"Tidestart.EXE", "", false},
        {L"notes.txt", "=", true},
    };
    const std::wstring dir = L"C:\\T\\a\\";
    for (const Row& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.what));
        std::filesystem::remove_all(m.fs.HostPath(dir));
        m.MakeDirs(dir + L"TCBase");
        m.WriteFile(dir + L"Tidestart.EXE", "MZ");
        if (row.mark) m.WriteFile(dir + kInstallMarkerName, std::string(row.mark) == "=" ? WideToUtf8(Identity()) : row.mark);
        EXPECT_EQ(IsRemovableInstallDirectory(dir), row.accepted);
    }
    EXPECT_FALSE(IsRemovableInstallDirectory(dir, L""));
}

// What the user or another program put into the install directory stays,
// and the box says so; everything the installer made goes.
TEST_F(UninstallTest, LeavesWhatTheInstallerDidNotMake) {
    m.MakeDirs(std::wstring(kApp) + L"TCBase\\conf");
    m.MakeDirs(std::wstring(kApp) + L"photos");
    m.WriteFile(std::wstring(kApp) + L"photos\\a.jpg", "jpg");
    m.WriteFile(std::wstring(kApp) + L"notes.txt", "mine");
    m.WriteFile(std::wstring(kApp) + L"UNZIP.EXE", "MZ");
    m.WriteFile(std::wstring(kApp) + L"Tidestart.log", "log");
    EXPECT_TRUE(RunUninstall(nullptr));
    auto boxes = m.boxes.Take();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, LeftInPlaceText(kApp, {L"notes.txt", L"photos\\"}));
    EXPECT_NE(boxes[1].text.find(L"notes.txt"), std::wstring::npos);
    EXPECT_EQ(boxes[1].icon, platform::MbIcon::Information);
    for (const wchar_t* gone : {L"TCBase", L"UNZIP.EXE", L"Tidestart.log", L"Tidestart.EXE", L"downloader.ini",
                                L"tidewell-4.2.1", L"Tidestart.id"})
        EXPECT_FALSE(Exists(std::wstring(kApp) + gone)) << gone;
    EXPECT_TRUE(Exists(std::wstring(kApp) + L"notes.txt"));
    EXPECT_TRUE(Exists(std::wstring(kApp) + L"photos\\a.jpg"));
}

// The second stage deletes only the folder the first stage left for it,
// with the mark it recorded; its command line alone is not enough.
TEST_F(UninstallTest, SecondStageNeedsTheRecordedIdentity) {
    struct Row {
        const wchar_t* recordedDir;  // nullptr: nothing recorded
        bool sameMark;
        bool deleted;
    };
    const Row rows[] = {
        {nullptr, true, false},
        {L"C:\\Apps\\Other\\", true, false},
        {L"c:\\apps\\tidewell", false, false},
        {L"c:\\apps\\tidewell", true, true},
    };
    const std::wstring id = Identity();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.recordedDir ? WideToUtf8(row.recordedDir) : "none");
        ForgetRemoval();
        if (row.recordedDir) RecordRemoval(row.recordedDir, id);
        if (!row.sameMark) m.WriteFile(std::wstring(kApp) + kInstallMarkerName, "{planted}");
        m.Args({L"/DOUNINSTALL", L"C:\\Temp\\gone.exe", kApp, L"/SILENT"});
        m.boxes.Take();
        FinishUninstall();
        EXPECT_EQ(!Exists(kApp), row.deleted);
        EXPECT_EQ(m.boxes.Take().size(), row.deleted ? 0u : 1u);
        if (!row.deleted) m.WriteFile(std::wstring(kApp) + kInstallMarkerName, WideToUtf8(id));
    }
    EXPECT_FALSE(reg.HasKey(L"HKLM\\Software\\Quorvan Labs\\Tidewell Removal"));
}

TEST_F(UninstallTest, SecondStageDeletesOpensTheSurveyAndSchedulesItself) {
    m.env.SetExecutablePath(L"C:\\Temp\\Tideclean.EXE");
    RecordRemoval(kApp, Identity());
    m.Args({L"/DOUNINSTALL", std::wstring(kApp) + L"Tidestart.EXE", kApp});
    FinishUninstall();
    EXPECT_TRUE(m.boxes.Take().empty());
    EXPECT_FALSE(Exists(kApp));
    EXPECT_FALSE(Exists(L"C:\\Apps"));
    auto calls = exec.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, L"open");
    EXPECT_EQ(calls[0].file, ExitSurveyUrl());
    EXPECT_EQ(calls[0].parameters, L"");
    EXPECT_EQ(calls[0].show, 1);
    EXPECT_EQ(shell.Calls().back().op, L"DeleteAtRestart");
    EXPECT_EQ(shell.Calls().back().path, L"C:\\Temp\\Tideclean.EXE");
}

TEST_F(UninstallTest, SecondStageWaitIsBounded) {
    const std::wstring installer = std::wstring(kApp) + L"Tidestart.EXE";
    auto held = platform::Files().Open(installer, platform::OpenMode::ReadExisting, platform::Share::None);
    ASSERT_TRUE(held);
    RecordRemoval(kApp, Identity());
    m.Args({L"/DOUNINSTALL", installer, kApp});
    const int64_t before = clock.NowMs();
    FinishUninstall();
    const int64_t waited = clock.NowMs() - before;
    EXPECT_GE(waited, 300000);
    EXPECT_LT(waited, 300000 + 1000);
    auto boxes = m.boxes.Take();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, FirstStageStillRunningText(installer, kApp));
    EXPECT_TRUE(Exists(installer));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_TRUE(exec.Calls().empty());
}

TEST_F(UninstallTest, SecondStageCommandLineSplitsBack) {
    const std::wstring line = SecondStageCommandLine(L"C:\\Documents and Settings\\u\\Temp\\Tideclean.EXE",
                                                     L"C:\\Program Files\\Quorvan Labs\\Tidewell\\Tidestart.EXE",
                                                     L"C:\\Program Files\\Quorvan Labs\\Tidewell\\");
    const std::vector<std::wstring> want = {L"C:\\Documents and Settings\\u\\Temp\\Tideclean.EXE", L"/DOUNINSTALL",
                                            L"C:\\Program Files\\Quorvan Labs\\Tidewell\\Tidestart.EXE",
                                            L"C:\\Program Files\\Quorvan Labs\\Tidewell\\"};
    EXPECT_EQ(SplitCommandLine(line), want);
}

}  // namespace
}  // namespace tide::testing
