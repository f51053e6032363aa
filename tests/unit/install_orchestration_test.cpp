#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

#include "base/encoding.h"
#include "base/error.h"
#include "core/ArchAwareRegistry.h"
#include "core/InstallInfo.h"
#include "core/Tidestart.h"
#include "core/install_dir_guard.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "fake_install_window.h"
#include "install/install_orchestration.h"
#include "install/install_steps.h"
#include "install/uninstall_entry.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_paths.h"
#include "platform/fake/fake_shell_execute.h"
#include "platform/fake/fake_system.h"
#include "platform/net.h"
#include "release_fixture.h"

using namespace tide;
using namespace std::chrono_literals;
using tide::testing::FakeInstallWindow;
using tide::testing::FakeMachine;
using tide::testing::Journal;
using tide::testing::Md5Hex;
using tide::testing::Pattern;
using W = std::vector<std::wstring>;

namespace {

const wchar_t kManifestUrl[] = L"http://dl.test/rel/downloader.ini";
const wchar_t kBinBase[] = L"http://dl.test/bin/";
const wchar_t kDir[] = L"C:\\Apps\\Tidewell\\";
const wchar_t kExe[] = L"C:\\Downloads\\Tidestart.exe";
const wchar_t kJava64[] = L"HKLM\\Software\\JavaSoft\\Java Runtime Environment";
const wchar_t kJava32[] = L"HKLM\\Software\\WOW6432Node\\JavaSoft\\Java Runtime Environment";
const wchar_t kEntry[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell";

struct Component {
    std::wstring section, file;
    std::string bytes;
};
const std::vector<Component> kRelease = {
    {L"JRE", L"jre-x86.exe", Pattern(700, 'j')},      {L"JREx64", L"jre-x64.exe", Pattern(800, 'k')},
    {L"UNZIP", L"UNZIP.EXE", Pattern(300, 'u')},      {L"CATALINA_BASE", L"catalina_base.zip", Pattern(500, 'b')},
    {L"TOMCAT", L"tomcat-x86.zip", Pattern(600, 't')}, {L"TOMCATx64", L"tomcat-x64.zip", Pattern(650, 's')},
    {L"TW", L"tidewell-4.2.1.zip", Pattern(900, 'w')},
};
const Component& Comp(const std::wstring& section) {
    for (const auto& c : kRelease)
        if (c.section == section) return c;
    throw std::logic_error("no such component");
}

class CountingNet : public platform::Network {
public:
    std::atomic<bool> answers{false};
    bool ConnectLocal(int, uint32_t) override { return answers; }
};

// An environment whose message pump runs a test's hook (the user clicking
// while the window thread waits).
class PumpEnv : public platform::fake::FakeEnvironment {
public:
    std::function<void(int)> onPump;
    std::function<void()> onMessageWait;
    void ProcessMessages() override {
        FakeEnvironment::ProcessMessages();
        if (onPump) onPump(ProcessMessagesCalls());
    }
    void ProcessMessagesFor(uint32_t ms) override {
        FakeEnvironment::ProcessMessagesFor(ms);
        if (onMessageWait) onMessageWait();
    }
};

struct OrchestrationTest : ::testing::Test {
    FakeMachine m;
    PumpEnv env;
    platform::fake::FakeOsInfo os;
    platform::fake::FakeClock clock;
    platform::fake::RecordingShellExecutor shell;
    CountingNet net;
    platform::ScopedPort<platform::Environment> p1{env};
    platform::ScopedPort<platform::OsInfo> p2{os};
    platform::ScopedPort<platform::Clock> p3{clock};
    platform::ScopedPort<platform::ShellExecutor> p4{shell};
    platform::ScopedPort<platform::Network> p5{net};
    Journal j;
    FakeInstallWindow w{j, L"  C:\\Apps\\Tidewell\\  "};

    // What the stand-in steps do.
    bool selfUpdateGoesOn = true;
    bool serverStarts = true;
    bool runtimeArrives = true;
    std::function<void(const std::wstring& step)> onStep;
    TInstallSteps steps;
    std::unique_ptr<ScopedInstallSteps> scopedSteps;

    void SetUp() override {
        ResetInstallInfoForTest();
        Publish(ManifestText(true));
        env.SetArguments({kExe, L"/i", kManifestUrl});
        auto log = [this](const std::wstring& entry, const std::wstring& step) {
            j.Add(entry);
            if (onStep) onStep(step);
        };
        steps.SelfUpdateAndRegister = [=] {
            log(L"SelfUpdateAndRegister", L"SelfUpdateAndRegister");
            if (selfUpdateGoesOn) m.machine.registry.PutString(kEntry, L"DisplayName", L"Tidewell Web Calendar");
            return selfUpdateGoesOn;
        };
        steps.InstallJre = [=](platform::StatusLine* sb, const std::wstring& c) {
            EXPECT_EQ(sb, &w.sb);
            log(L"InstallJre " + c, L"InstallJre");
            if (runtimeArrives) m.machine.registry.PutString(c == L"JREx64" ? kJava64 : kJava32, L"CurrentVersion", L"1.8");
            return true;
        };
        steps.RemoveServerService = [=](bool quiet) { log(quiet ? L"RemoveServerService quiet" : L"RemoveServerService", L"RemoveServerService"); };
        steps.InstallTomcat = [=](platform::StatusLine*, const std::wstring& c) { log(L"InstallTomcat " + c, L"InstallTomcat"); return true; };
        steps.ConfigureServerBase = [=](platform::StatusLine*) { log(L"ConfigureServerBase", L"ConfigureServerBase"); return true; };
        steps.InstallApplication = [=](platform::StatusLine*) { log(L"InstallApplication", L"InstallApplication"); return true; };
        steps.InstallServerService = [=] { log(L"InstallServerService", L"InstallServerService"); return true; };
        steps.SetServerRunning = [=](bool start) { log(start ? L"SetServerRunning 1" : L"SetServerRunning 0", L"SetServerRunning"); return start ? serverStarts : true; };
        steps.CreateProgramShortcuts = [=](const std::wstring& i, const std::wstring& d) { log(L"CreateProgramShortcuts " + i + L" " + d, L"CreateProgramShortcuts"); };
        steps.CreateServiceShortcuts = [=](const std::wstring& d) { log(L"CreateServiceShortcuts " + d, L"CreateServiceShortcuts"); };
        scopedSteps = std::make_unique<ScopedInstallSteps>(steps);
    }
    void TearDown() override {
        if (w.oComponentDL) w.oComponentDL->AbortDownload();
        w.oComponentDL.reset();
        ResetInstallInfoForTest();
    }

    static std::string ManifestText(bool withVersion) {
        std::string t = "[GENERAL]\r\nBINARY_BASE=" + WideToUtf8(kBinBase) + "\r\nMIN_JRE_VERSION=1.6\r\n";
        for (const auto& c : kRelease) {
            t += "[" + WideToUtf8(c.section) + "]\r\nFILE_NAME=" + WideToUtf8(c.file) + "\r\nFILE_SIZE=" +
                 std::to_string(c.bytes.size()) + "\r\nFILE_MD5SUM=" + WideToUtf8(Md5Hex(c.bytes)) + "\r\n";
            if (c.section == L"TW" && withVersion) t += "FILE_VERSION=4.2.1\r\n";
        }
        return t;
    }
    void Publish(const std::string& manifest) {
        m.ServeManifest(kManifestUrl, manifest);
        for (const auto& c : kRelease) m.http.Serve(kBinBase + c.file, c.bytes);
    }
    // Lets the download end, then the next dlTimer tick.
    void FinishDownload() {
        ASSERT_TRUE(w.oComponentDL);
        ASSERT_TRUE(w.oComponentDL->WaitUntilFinished(20s));
        dlTimerTimer(w);
    }
    // Drives tmrStartTomcat while it is on; beforeTick(n) runs before tick n.
    int Countdown(std::function<void(int)> beforeTick = nullptr) {
        int ticks = 0;
        while (w.startTimer && ticks < 30) {
            ++ticks;
            if (beforeTick) beforeTick(ticks);
            tmrStartTomcatTimer(w);
        }
        return ticks;
    }
    // EstimatedSize of the entry, -1 when there is none.
    int32_t EstimatedSize() {
        TArchAwareRegistry r;
        r.SetRootKey(HKEY_LOCAL_MACHINE);
        r.SetAccess(KEY_READ);
        return r.OpenKey(kUninstallKey, false) && r.ValueExists(L"EstimatedSize") ? r.ReadInteger(L"EstimatedSize")
                                                                                 : -1;
    }
    // What the install directory holds, in KiB rounded up, counted on the host.
    int32_t HostKiB() {
        uint64_t bytes = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(m.fs.HostPath(kDir)))
            if (e.is_regular_file()) bytes += e.file_size();
        return static_cast<int32_t>((bytes + 1023) / 1024);
    }
    W Captions() {
        W out;
        for (const auto& b : m.boxes.Shown()) out.push_back(b.caption);
        return out;
    }
};

// One more machine inside a test, for one row of a table.
struct Rig : OrchestrationTest {
    void TestBody() override {}
};

// An installed x64 release with its runtime and the component files of
// everything but the application still complete in the install directory.
void ArrangeTwOnlyUpgrade(OrchestrationTest& t) {
    WriteSetting(L"Version", L"4.0");
    WriteSetting(L"Arch", L"x64");
    WriteSetting(L"ServiceInstalled", L"Y");
    t.m.machine.registry.PutString(kJava64, L"CurrentVersion", L"1.8");
    t.m.MakeDirs(L"C:\\Apps\\Tidewell");
    MarkInstallation(kDir);  // made by this installer
    for (const auto* s : {L"UNZIP", L"CATALINA_BASE", L"TOMCATx64"}) t.m.WriteFile(kDir + Comp(s).file, Comp(s).bytes);
}

W Cat(std::initializer_list<W> parts) {
    W out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const W kClick = {L"install 0", L"uninstall 0", L"path 0", L"SelfUpdateAndRegister", L"progress", L"stage 1"};
const W kShortcuts = {L"CreateProgramShortcuts C:\\Downloads\\Tidestart.exe C:\\Apps\\Tidewell\\",
                      L"CreateServiceShortcuts C:\\Apps\\Tidewell\\", L"uninstall 1"};
const W kFreshInstall = {L"stage 3", L"InstallJre JREx64", L"ConfigureServerBase", L"InstallTomcat TOMCATx64",
                         L"InstallApplication", L"stage 4", L"InstallServerService", L"stage 5"};

// The states of one installation, each row from the Install click to where
// it ends.
TEST_F(OrchestrationTest, StateTable) {
    struct Row {
        const char* name;
        std::function<void(OrchestrationTest&)> arrange;
        W journal;            // up to the countdown
        W captions;           // message boxes
        int ticks;            // countdown ticks until the browser; 0: no countdown
        Outcome outcome;      // nobody answers on the port here, unless a row says so
    };
    const Row rows[] = {
        {"unusable path: message, nothing changed", [](OrchestrationTest& t) { t.w.SetPath(L"Tidewell"); }, {},
         {L"Error Creating Directory"}, 0, Outcome::DirectoryRefused},
        {"self-update ends the program", [](OrchestrationTest& t) { t.selfUpdateGoesOn = false; },
         {L"install 0", L"uninstall 0", L"path 0", L"SelfUpdateAndRegister"}, {}, 0, Outcome::StepFailed},
        {"manifest without TW FILE_VERSION: stuck", [](OrchestrationTest& t) { t.Publish(ManifestText(false)); },
         kClick, {L"Error Download Files"}, 0, Outcome::DownloadFailed},
        {"fresh installation, server never answers: browser at the 15th tick", nullptr,
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0"}, kFreshInstall,
              {L"SetServerRunning 1", L"startTimer 1"}, kShortcuts}),
         {}, 15, Outcome::ServerNotStarted},
        {"fresh installation, the server answers once started: browser at the 2nd tick",
         [](OrchestrationTest& t) {
             t.onStep = [&t](const std::wstring& step) {
                 if (step == L"SetServerRunning") t.net.answers = true;
             };
         },
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0"}, kFreshInstall,
              {L"SetServerRunning 1", L"startTimer 1"}, kShortcuts}),
         {}, 2, Outcome::Done},
        {"an install step fails: the others still run", [](OrchestrationTest& t) {
             t.steps.InstallApplication = [&t](platform::StatusLine*) { t.j.Add(L"InstallApplication"); return false; };
         },
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0"}, kFreshInstall,
              {L"SetServerRunning 1", L"startTimer 1"}, kShortcuts}),
         {}, 15, Outcome::StepFailed},
        {"server start fails: no countdown", [](OrchestrationTest& t) { t.serverStarts = false; },
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0"}, kFreshInstall, {L"SetServerRunning 1"}, kShortcuts}),
         {L"Starting Tomcat"}, 0, Outcome::ServerNotStarted},
        {"server already answering: stopped for the download, then Tomcat Running?",
         [](OrchestrationTest& t) {
             t.net.answers = true;
             t.m.MakeDirs(L"C:\\Apps\\Tidewell\\TCBase\\bin");
             MarkInstallation(kDir);
             t.m.WriteFile(L"C:\\Apps\\Tidewell\\TCBase\\bin\\catalina.bat", "@echo off\r\n");
         },
         Cat({kClick,
              {L"stage 2", L"SetServerRunning 0", L"dlTimer 1", L"dlTimer 0", L"stage 3", L"InstallJre JREx64",
               L"ConfigureServerBase", L"InstallTomcat TOMCATx64", L"InstallApplication", L"stage 4",
               L"SetServerRunning 0", L"InstallServerService", L"stage 5"},
              kShortcuts}),
         {L"Tomcat Running?"}, 0, Outcome::ServerNotStarted},
        {"first installation while another program answers on the port: left alone, Tomcat Running?",
         [](OrchestrationTest& t) { t.net.answers = true; },
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0"}, kFreshInstall, kShortcuts}), {L"Tomcat Running?"}, 0,
         Outcome::ServerNotStarted},
        {"cancel after the runtime and the unzip tool arrived",
         [](OrchestrationTest& t) {
             t.m.OnRead([&t](const std::wstring& url, size_t) {
                 if (url == kBinBase + Comp(L"CATALINA_BASE").file) t.w.oComponentDL->AbortDownload();
             });
         },
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0", L"stage 3", L"InstallJre JREx64", L"stage 4",
                       L"InstallServerService", L"stage 5", L"SetServerRunning 1", L"startTimer 1"},
              kShortcuts}),
         {}, 15, Outcome::DownloadFailed},
        {"upgrade where only TW changed: service kept", ArrangeTwOnlyUpgrade,
         Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0", L"stage 3", L"InstallApplication", L"stage 4",
                       L"stage 5", L"SetServerRunning 1", L"startTimer 1"},
              kShortcuts}),
         {}, 15, Outcome::ServerNotStarted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        Rig t;  // a fresh machine per row
        t.SetUp();
        if (row.arrange) row.arrange(t);
        cbInstallClick(t.w);
        if (t.w.dlTimer) t.FinishDownload();
        EXPECT_EQ(t.j.Entries(), row.journal);
        EXPECT_EQ(t.Captions(), row.captions);
        EXPECT_EQ(t.Countdown(), row.ticks);
        const bool browser = row.ticks > 0;
        EXPECT_EQ(t.shell.Calls().size(), browser ? 1u : 0u);
        EXPECT_EQ(t.w.closed, browser);
        EXPECT_EQ(t.env.QuitRequested(), browser);
        const bool installed = !row.journal.empty() && row.journal.back() == L"uninstall 1";
        EXPECT_EQ(ReadSetting(L"ShortcutsOffered"), installed ? L"Y" : L"");
        // Measured at the end: the components downloaded into the folder count.
        EXPECT_EQ(t.EstimatedSize(), installed ? t.HostKiB() : -1);
        EXPECT_TRUE(!installed || t.EstimatedSize() > 0);
        EXPECT_EQ(ReadSetting(L"AppPath"), row.journal.empty() ? L"" : kDir);
        EXPECT_FALSE(t.w.oComponentDL);
        EXPECT_EQ(ExitCodeOf(t.w.outcome), ExitCodeOf(row.outcome));
        t.TearDown();
    }
}

// A run that ended during its download (killed, a crash, a shutdown) left
// some files complete: the next run does not fetch them again but still
// installs them, as far as the earlier run had them pending.
TEST_F(OrchestrationTest, FilesCompletedByAnUnfinishedRunAreInstalled) {
    const W tail = Cat({{L"stage 4", L"InstallServerService", L"stage 5", L"SetServerRunning 1", L"startTimer 1"}, kShortcuts});
    struct Row {
        const char* name;
        std::wstring pending;  // left by the earlier run
        std::wstring during;   // recorded while this run downloads
        W installed;
    } rows[] = {
        {"all of them pending", L"JREx64,UNZIP,CATALINA_BASE,TOMCATx64,TW", L"JREx64,UNZIP,CATALINA_BASE,TOMCATx64,TW",
         {L"InstallJre JREx64", L"ConfigureServerBase", L"InstallTomcat TOMCATx64", L"InstallApplication"}},
        {"only the server base pending", L"CATALINA_BASE", L"CATALINA_BASE,TOMCATx64,TW",
         {L"InstallJre JREx64", L"ConfigureServerBase", L"InstallTomcat TOMCATx64", L"InstallApplication"}},
        // The runtime is listed only while none passes the check: installed
        // whether pending or not.
        {"nothing pending: an earlier run installed them", L"", L"TOMCATx64,TW",
         {L"InstallJre JREx64", L"InstallTomcat TOMCATx64", L"InstallApplication"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        Rig t;
        t.SetUp();
        WriteSetting(L"PendingComponents", row.pending);
        t.m.MakeDirs(L"C:\\Apps\\Tidewell");
        MarkInstallation(kDir);
        for (const auto* c : {L"JREx64", L"UNZIP", L"CATALINA_BASE"}) t.m.WriteFile(kDir + Comp(c).file, Comp(c).bytes);
        cbInstallClick(t.w);
        EXPECT_EQ(ReadSetting(L"PendingComponents"), row.during);
        t.FinishDownload();
        EXPECT_EQ(t.j.Entries(), Cat({kClick, {L"stage 2", L"dlTimer 1", L"dlTimer 0", L"stage 3"}, row.installed, tail}));
        EXPECT_EQ(ReadSetting(L"PendingComponents"), L"");
        t.TearDown();
    }
}

// Pending holds exactly what this run fetches, and keeps what did not get
// installed for the next run.
TEST_F(OrchestrationTest, PendingHoldsWhatIsStillToInstall) {
    const std::wstring all = L"JREx64,UNZIP,CATALINA_BASE,TOMCATx64,TW";
    struct Row {
        const char* name;
        std::function<void(OrchestrationTest&)> arrange;
        std::wstring atClick, after;
    };
    const Row rows[] = {
        {"fresh installation", nullptr, all, L""},
        {"only TW to fetch", ArrangeTwOnlyUpgrade, L"TW", L""},
        {"only TW to fetch, and its download fails",
         [](OrchestrationTest& t) {
             ArrangeTwOnlyUpgrade(t);
             t.m.http.ServeStatus(kBinBase + Comp(L"TW").file, 404, "gone");
         },
         L"TW", L"TW"},
        {"the TW step throws",
         [](OrchestrationTest& t) {
             t.onStep = [](const std::wstring& s) {
                 if (s == L"InstallApplication") throw IoError(L"Cannot open configuration.default");
             };
         },
         all, L"TW"},
        {"the TW step fails",
         [](OrchestrationTest& t) { t.steps.InstallApplication = [](platform::StatusLine*) { return false; }; },
         all, L"TW"},
        {"the runtime wait is abandoned",
         [](OrchestrationTest& t) {
             t.runtimeArrives = false;
             t.env.onPump = [&t](int pass) {
                 if (pass == 2) AbandonJavaWait(t.w);
             };
         },
         all, L"JREx64"},
        {"the window is closed during the Tomcat step",
         [](OrchestrationTest& t) {
             t.onStep = [&t](const std::wstring& s) {
                 if (s == L"InstallTomcat") t.env.RequestQuit();
             };
         },
         all, L"TW"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        Rig t;
        t.SetUp();
        if (row.arrange) row.arrange(t);
        cbInstallClick(t.w);
        EXPECT_EQ(ReadSetting(L"PendingComponents"), row.atClick);
        t.FinishDownload();
        EXPECT_EQ(ReadSetting(L"PendingComponents"), row.after);
        t.TearDown();
    }
}

// A release older than the installed application (4.2.1 is offered) is
// refused before anything is registered, fetched or written; the folder and
// the manifest copy of the installation stay as they were.
TEST_F(OrchestrationTest, AnOlderReleaseIsRefusedWithNothingChanged) {
    struct Row {
        const wchar_t* installed;
        const wchar_t* typed;  // the path clicked
        bool refused;
    };
    const Row rows[] = {
        {L"4.10", kDir, true},         {L"4.2.2", kDir, true},   {L"5.0-beta", kDir, true},
        {L"4.10", L"D:\\Other", true}, {L"4.2.1", kDir, false},  {L"4.2.1-beta", kDir, false},
        {L"4.2", kDir, false},         {L"4.1.9", kDir, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << WideToUtf8(row.installed) << " " << WideToUtf8(row.typed));
        TearDown();
        Rig t;
        t.SetUp();
        SaveInstallDirectory(kDir);
        WriteSetting(L"Version", row.installed);
        WriteSetting(L"Arch", L"x64");
        const std::string installedManifest = "[TW]\r\nFILE_VERSION=" + WideToUtf8(row.installed) + "\r\n";
        t.m.MakeDirs(L"C:\\Apps\\Tidewell");
        t.m.WriteFile(kDir + std::wstring(L"downloader.ini"), installedManifest);
        t.w.SetPath(row.typed);
        cbInstallClick(t.w);
        EXPECT_EQ(t.j.Has(L"SelfUpdateAndRegister"), !row.refused);
        EXPECT_EQ(t.w.dlTimer, !row.refused);
        if (row.refused) {
            EXPECT_EQ(t.j.Entries(), (W{L"install 0", L"uninstall 0", L"path 0", L"uninstall 1"}));
            auto boxes = t.m.boxes.Shown();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
            EXPECT_NE(boxes[0].text.find(L"version 4.2.1, which is older than the installed version " +
                                         std::wstring(row.installed)),
                      std::wstring::npos)
                << WideToUtf8(boxes[0].text);
            EXPECT_EQ(ReadSetting(L"AppPath"), kDir);
            EXPECT_EQ(ReadSetting(L"Version"), row.installed);
            EXPECT_EQ(ReadSetting(L"PendingComponents"), L"");
            EXPECT_EQ(t.m.ReadFile(kDir + std::wstring(L"downloader.ini")), installedManifest);
            EXPECT_FALSE(t.m.fs.FileExists(L"D:\\Other\\downloader.ini"));
            EXPECT_EQ(ExitCodeOf(t.w.outcome), ExitCodeOf(Outcome::DownloadFailed));
        } else {
            EXPECT_TRUE(t.Captions().empty());
            EXPECT_EQ(t.w.outcome, Outcome::Done);
        }
        t.TearDown();
    }
}

TEST_F(OrchestrationTest, CountdownEndsOneTickAfterTheServerAnswers) {
    struct Row {
        int answersAt;  // tick from which the server answers; 0: never
        int ticks;
        W waits;
        Outcome outcome = Outcome::Done;
    };
    W never;
    for (int s = 14; s >= 1; --s) never.push_back(L"Waiting " + std::to_wstring(s) + L" seconds for Tidewell to Start...");
    const Row rows[] = {
        {3, 4, {L"Waiting 14 seconds for Tidewell to Start...", L"Waiting 13 seconds for Tidewell to Start...",
                L"Waiting 1 seconds for Tidewell to Start..."}},
        {1, 2, {L"Waiting 1 seconds for Tidewell to Start..."}},
        {0, 15, never, Outcome::ServerNotStarted},
        {15, 15, never},  // answers in the last second: started
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answersAt);
        Rig t;
        t.SetUp();
        cbInstallClick(t.w);
        t.FinishDownload();
        ASSERT_TRUE(t.w.startTimer);
        EXPECT_EQ(t.w.pb.Max(), 15);
        size_t before = t.w.sb.Texts().size();
        EXPECT_EQ(t.Countdown([&](int tick) { t.net.answers = row.answersAt && tick >= row.answersAt; }), row.ticks);
        W texts = t.w.sb.Texts();
        W got(texts.begin() + before, texts.end());
        W want = row.waits;
        want.push_back(L"Launching Browser");
        EXPECT_EQ(got, want);
        ASSERT_EQ(t.shell.Calls().size(), 1u);
        const auto call = t.shell.Calls()[0];
        EXPECT_EQ(call.verb, L"open");
        EXPECT_EQ(call.file, L"http://localhost:8080/calendar/");
        EXPECT_EQ(call.parameters, L"");
        EXPECT_FALSE(call.directory);
        EXPECT_EQ(call.show, platform::kSwShowNormal);
        EXPECT_EQ(call.owner, static_cast<void*>(&t.w));
        EXPECT_EQ(t.w.pb.Positions().back(), 15);
        EXPECT_EQ(t.w.outcome, row.outcome);
        t.TearDown();
    }
}

// An error inside one step is shown, and the installation goes on.
TEST_F(OrchestrationTest, StepErrorIsShownAndTheNextStepRuns) {
    const char* throwers[] = {"InstallJre", "ConfigureServerBase", "InstallTomcat", "InstallApplication",
                              "InstallServerService", "CreateProgramShortcuts"};
    for (const char* thrower : throwers) {
        SCOPED_TRACE(thrower);
        Rig t;
        t.SetUp();
        const std::wstring step = Utf8ToWide(thrower);
        t.onStep = [&](const std::wstring& s) {
            if (s == step) throw IoError(L"Cannot open C:\\Apps\\Tidewell\\TCBase\\conf\\server.xml");
        };
        cbInstallClick(t.w);
        t.FinishDownload();
        auto boxes = t.m.boxes.Shown();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Notice");
        EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
        EXPECT_EQ(boxes[0].text, L"Cannot open C:\\Apps\\Tidewell\\TCBase\\conf\\server.xml");
        for (const auto* later : {L"InstallApplication", L"InstallServerService", L"SetServerRunning 1",
                                  L"CreateServiceShortcuts C:\\Apps\\Tidewell\\", L"uninstall 1"})
            EXPECT_TRUE(t.j.Has(later)) << WideToUtf8(later);
        EXPECT_TRUE(t.w.startTimer);
        EXPECT_EQ(ReadSetting(L"ShortcutsOffered"), L"Y");
        t.TearDown();
    }
}

// While the download thread works (and may show a box owned by the window),
// the timer neither waits for it nor frees it.
TEST_F(OrchestrationTest, TimerNeverWaitsForARunningDownload) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    m.OnRead([released](const std::wstring& url, size_t) {
        if (url == kBinBase + Comp(L"TW").file) released.wait();
    });
    cbInstallClick(w);
    ASSERT_TRUE(w.dlTimer);
    for (int tick = 0; tick < 3; ++tick) {
        auto f = std::async(std::launch::async, [this] { dlTimerTimer(w); });
        ASSERT_EQ(f.wait_for(5s), std::future_status::ready) << "the timer blocked on the download thread";
    }
    EXPECT_TRUE(w.dlTimer);
    EXPECT_TRUE(w.oComponentDL);
    EXPECT_EQ(w.stage, InstallStage::Downloading);
    release.set_value();
    FinishDownload();
    EXPECT_FALSE(w.oComponentDL);
    EXPECT_EQ(w.slComponents, (W{L"JREx64", L"UNZIP", L"CATALINA_BASE", L"TOMCATx64", L"TW"}));
    EXPECT_TRUE(j.Has(L"uninstall 1"));
}

TEST(InstallDirGuard, RefusesRootsAndSystemFolders) {
    FakeMachine m;
    auto& env = m.env;
    env.SetVariable(L"SystemRoot", L"C:\\Windows");
    env.SetVariable(L"windir", L"C:\\WINDOWS");
    env.SetVariable(L"ProgramFiles", L"C:\\Program Files (x86)");
    env.SetVariable(L"ProgramFiles(x86)", L"C:\\Program Files (x86)");
    env.SetVariable(L"ProgramW6432", L"C:\\Program Files");
    env.SetVariable(L"USERPROFILE", L"C:\\Users\\admin");
    env.SetVariable(L"PUBLIC", L"C:\\Users\\Public");
    env.SetVariable(L"ALLUSERSPROFILE", L"C:\\ProgramData");
    const std::pair<const wchar_t*, bool> rows[] = {
        {L"C:\\Program Files\\Quorvan Labs\\Tidewell\\", true},
        {L"C:\\Program Files (x86)\\Quorvan Labs\\Tidewell", true},
        {L"D:\\Apps\\Tidewell\\", true},
        {L"C:\\Users\\admin\\Tidewell", true},
        {L"C:\\Windowsfolder", true},
        {L"C:\\", false},
        {L"c:/", false},
        {L"C:\\\\", false},
        {L"C:", false},
        {L"C:Tidewell", false},
        {L"C:\\Windows", false},
        {L"c:/windows/system32\\", false},
        {L"C:\\WINDOWS\\Temp\\Tidewell", false},
        {L"C:\\Program Files\\", false},
        {L"C:\\program files (x86)", false},
        {L"C:\\Users", false},
        {L"C:\\Users\\admin\\", false},
        {L"C:\\Users\\Public", false},
        {L"C:\\ProgramData", false},
        {L"C:\\Apps\\..", false},
        {L"C:\\Apps\\.\\Tidewell", true},  // the same folder as C:\Apps\Tidewell
        {L"\\\\server\\share\\Tidewell", false},
        {L"Tidewell", false},
        {L"", false},
    };
    for (const auto& [path, ok] : rows) EXPECT_EQ(IsOwnableInstallDirectory(path), ok) << WideToUtf8(path);
}

TEST_F(OrchestrationTest, UnusablePathsSaveNothing) {
    env.SetVariable(L"SystemRoot", L"C:\\Windows");
    env.SetVariable(L"ProgramW6432", L"C:\\Program Files");
    m.MakeDirs(L"C:\\Windows");
    const wchar_t* paths[] = {L"", L"Tidewell", L"\\\\server\\share\\Tidewell", L"  C:\\  ", L"C:\\Windows",
                              L"C:\\Program Files", L"C:Tidewell"};
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(WideToUtf8(path));
        m.boxes.Clear();
        w.SetPath(path);
        cbInstallClick(w);
        auto boxes = m.boxes.Shown();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Error Creating Directory");
        EXPECT_EQ(boxes[0].text, L"Error Creating Directory " + Trim(path) + L".\nVerify path is valid!");
        EXPECT_EQ(boxes[0].icon, platform::MbIcon::Warning);
        EXPECT_EQ(ReadSetting(L"AppPath"), L"");
    }
    EXPECT_TRUE(j.Entries().empty());
    EXPECT_FALSE(m.fs.DirectoryExists(L"C:\\Tidewell"));
}

TEST_F(OrchestrationTest, AnInstallationThatCannotBeMarkedIsNotStarted) {
    platform::fake::FakePaths paths;
    paths.FailIdentity(true);
    platform::ScopedPort<platform::Paths> port(paths);
    w.SetPath(L"D:\\Apps\\Tidewell\\");
    cbInstallClick(w);
    ASSERT_EQ(m.boxes.Shown().size(), 1u);
    EXPECT_EQ(m.boxes.Shown()[0].text, L"The installation mark D:\\Apps\\Tidewell\\Tidestart.id could not be written.\nNothing was installed.");
    EXPECT_EQ(ReadSetting(L"AppPath"), L"");
    EXPECT_TRUE(j.Entries().empty());
}

TEST_F(OrchestrationTest, TrimmedPathIsCreatedAndSavedWithOneBackslash) {
    w.SetPath(L" \tD:\\Apps\\Tidewell\\  ");
    cbInstallClick(w);
    EXPECT_TRUE(m.fs.DirectoryExists(L"D:\\Apps\\Tidewell"));
    EXPECT_EQ(ReadSetting(L"AppPath"), L"D:\\Apps\\Tidewell\\");
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST_F(OrchestrationTest, AlternativeSource) {
    struct Row {
        const wchar_t* exe;
        W args;
        const wchar_t* alt;
    };
    const Row rows[] = {
        {kExe, {}, L"C:\\Downloads\\"},
        {L"c:\\apps\\TIDEWELL\\Tidestart.EXE", {}, L""},
        {L"c:\\apps\\TIDEWELL\\Tidestart.EXE", {L"/u", L"E:\\cd\\"}, L"E:\\cd\\"},
        {kExe, {L"/U", L"E:\\cd"}, L"E:\\cd\\"},
        {kExe, {L"/u", L"E:/cd/"}, L"E:/cd/"},
        {kExe, {L"/u"}, L""},
        {kExe, {L"/x", L"/U", L"F:\\a\\", L"/u", L"G:\\b\\"}, L"F:\\a\\"},
    };
    SaveInstallDirectory(kDir);
    m.MakeDirs(L"C:\\Apps\\Tidewell");
    ASSERT_FALSE(ManifestValue(L"TW", L"FILE_VERSION").empty());
    for (const Row& row : rows) {
        SCOPED_TRACE(WideToUtf8(row.exe));
        env.SetExecutablePath(row.exe);
        W args = {row.exe};
        args.insert(args.end(), row.args.begin(), row.args.end());
        env.SetArguments(args);
        StartComponentDownload(w, {L"UNZIP"});
        ASSERT_TRUE(w.oComponentDL);
        EXPECT_EQ(w.oComponentDL->Alt_Path, row.alt);
        EXPECT_EQ(w.oComponentDL->AgentName, AgentName());
        EXPECT_EQ(w.oComponentDL->pb, &w.pb);
        EXPECT_EQ(w.oComponentDL->sb, &w.sb);
        EXPECT_TRUE(w.oComponentDL->WaitUntilFinished(20s));
        w.oComponentDL.reset();
    }
}

TEST_F(OrchestrationTest, FilesBesideTheInstallerAreCopied) {
    m.MakeDirs(L"C:\\Downloads");
    m.WriteFile(std::wstring(L"C:\\Downloads\\") + Comp(L"TW").file, Comp(L"TW").bytes);
    cbInstallClick(w);
    FinishDownload();
    EXPECT_EQ(m.CountFor(kBinBase + Comp(L"TW").file), 0);
    EXPECT_EQ(m.ReadFile(kDir + Comp(L"TW").file), Comp(L"TW").bytes);
    EXPECT_EQ(w.slComponents.back(), L"TW");
}

TEST_F(OrchestrationTest, ComponentList) {
    struct Row {
        const char* name;
        std::function<void(OrchestrationTest&)> arrange;
        W list;
    };
    const Row rows[] = {
        {"fresh on 64-bit Windows", nullptr, {L"JREx64", L"UNZIP", L"CATALINA_BASE", L"TOMCATx64", L"TW"}},
        {"64-bit runtime present", [](OrchestrationTest& t) { t.m.machine.registry.PutString(kJava64, L"CurrentVersion", L"1.7"); },
         {L"UNZIP", L"CATALINA_BASE", L"TOMCATx64", L"TW"}},
        {"only a 32-bit runtime", [](OrchestrationTest& t) { t.m.machine.registry.PutString(kJava32, L"CurrentVersion", L"1.7"); },
         {L"JREx64", L"UNZIP", L"CATALINA_BASE", L"TOMCATx64", L"TW"}},
        {"upgrade of an x86 installation",
         [](OrchestrationTest& t) {
             WriteSetting(L"Version", L"4.0");
             WriteSetting(L"Arch", L"x86");
         },
         {L"JRE", L"UNZIP", L"CATALINA_BASE", L"TOMCAT", L"TW"}},
        {"x86 installation with an old runtime",
         [](OrchestrationTest& t) {
             WriteSetting(L"Version", L"4.0");
             t.m.machine.registry.PutString(kJava32, L"CurrentVersion", L"1.5");
         },
         {L"JRE", L"UNZIP", L"CATALINA_BASE", L"TOMCAT", L"TW"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig t;
        t.SetUp();
        SaveInstallDirectory(kDir);
        t.m.MakeDirs(L"C:\\Apps\\Tidewell");
        if (row.arrange) row.arrange(t);
        EXPECT_EQ(BuildComponentList(), row.list);
        t.TearDown();
    }
}

TEST_F(OrchestrationTest, OldWebApplicationMovedAside) {
    SaveInstallDirectory(kDir);
    WriteSetting(L"Version", L"5.1");
    EXPECT_TRUE(MoveAsideOldWebApp());  // nothing to move
    m.MakeDirs(L"C:\\Apps\\Tidewell\\TCBase\\webapps\\calendar\\WEB-INF");
    EXPECT_TRUE(MoveAsideOldWebApp());
    EXPECT_TRUE(m.fs.DirectoryExists(L"C:\\Apps\\Tidewell\\tidewell-5.1\\WEB-INF"));
    EXPECT_FALSE(m.fs.DirectoryExists(L"C:\\Apps\\Tidewell\\TCBase\\webapps\\calendar"));
    // A target that exists already: the rename fails quietly (the Install
    // click says so).
    m.MakeDirs(L"C:\\Apps\\Tidewell\\TCBase\\webapps\\calendar");
    EXPECT_FALSE(MoveAsideOldWebApp());
    EXPECT_TRUE(m.fs.DirectoryExists(L"C:\\Apps\\Tidewell\\TCBase\\webapps\\calendar"));
    EXPECT_TRUE(m.boxes.Shown().empty());
}

// A file system on which the old web application cannot be renamed while
// its server runs (Windows keeps its jars open).
class HeldByServer : public platform::FileSystem {
public:
    HeldByServer(platform::FileSystem& fs, CountingNet& net) : fs_(fs), net_(net) {}
    std::unique_ptr<platform::File> Open(const std::wstring& p, platform::OpenMode m, platform::Share s) override {
        return fs_.Open(p, m, s);
    }
    bool FileExists(const std::wstring& p) override { return fs_.FileExists(p); }
    bool DirectoryExists(const std::wstring& p) override { return fs_.DirectoryExists(p); }
    bool MakeDirectory(const std::wstring& p) override { return fs_.MakeDirectory(p); }
    bool RemoveFile(const std::wstring& p) override { return fs_.RemoveFile(p); }
    bool Copy(const std::wstring& a, const std::wstring& b, bool f) override { return fs_.Copy(a, b, f); }
    bool Move(const std::wstring& a, const std::wstring& b) override {
        if (net_.answers && a.find(L"webapps") != std::wstring::npos) {
            error_ = 32;  // ERROR_SHARING_VIOLATION
            return false;
        }
        error_ = 0;
        return fs_.Move(a, b);
    }
    bool ListDirectory(const std::wstring& f, std::vector<platform::DirEntry>& e) override {
        return fs_.ListDirectory(f, e);
    }
    uint32_t LastError() override { return error_ ? error_ : fs_.LastError(); }

private:
    platform::FileSystem& fs_;
    CountingNet& net_;
    uint32_t error_ = 0;
};

// The old layout's application is renamed only once the installation's
// server is stopped; when it still cannot be renamed, the upgrade stops
// before anything is registered or fetched, with one box, the server
// running again and everything as it was.
TEST_F(OrchestrationTest, TheOldWebApplicationMovesAsideOnlyOnceItsServerIsStopped) {
    const std::wstring old = L"C:\\Apps\\Tidewell\\TCBase\\webapps\\calendar", aside = L"C:\\Apps\\Tidewell\\tidewell-4.0";
    struct Row { const char* name; bool running, targetExists, moved; };
    const Row rows[] = {
        {"the running server is stopped first", true, false, true},
        {"no server answers", false, false, true},
        {"the target is there already", true, true, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TearDown();
        Rig t;
        t.SetUp();
        HeldByServer held(t.m.fs, t.net);
        platform::ScopedPort<platform::FileSystem> heldPort(held);
        SaveInstallDirectory(L"D:\\Elsewhere");
        ArrangeTwOnlyUpgrade(t);
        const std::string installedManifest = "[TW]\r\nFILE_VERSION=4.0\r\n";
        t.m.WriteFile(kDir + std::wstring(L"downloader.ini"), installedManifest);
        t.m.MakeDirs(old + L"\\WEB-INF\\lib");
        t.m.MakeDirs(L"C:\\Apps\\Tidewell\\TCBase\\bin");
        t.m.WriteFile(L"C:\\Apps\\Tidewell\\TCBase\\bin\\catalina.bat", "@echo off\r\n");
        if (r.targetExists) t.m.MakeDirs(aside);
        t.net.answers = r.running;
        t.steps.SetServerRunning = [&](bool start) {
            t.j.Add(start ? L"SetServerRunning 1" : L"SetServerRunning 0");
            t.net.answers = start;
            return true;
        };
        cbInstallClick(t.w);

        EXPECT_EQ(t.m.fs.DirectoryExists(aside + L"\\WEB-INF\\lib"), r.moved);
        EXPECT_EQ(t.m.fs.DirectoryExists(old), !r.moved);
        EXPECT_EQ(t.j.Has(L"SetServerRunning 0"), r.running);
        EXPECT_EQ(t.j.Has(L"SelfUpdateAndRegister"), r.moved);
        EXPECT_EQ(t.w.dlTimer, r.moved);
        const auto boxes = t.m.boxes.Shown();
        if (r.moved) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(t.w.outcome, Outcome::Done);
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, L"Notice");
            EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
            EXPECT_NE(boxes[0].text.find(old), std::wstring::npos) << WideToUtf8(boxes[0].text);
            EXPECT_NE(boxes[0].text.find(L"Nothing has been changed"), std::wstring::npos);
            EXPECT_EQ(t.j.Entries().back(), L"uninstall 1");
            EXPECT_TRUE(t.j.Has(L"SetServerRunning 1"));  // serving as before
            EXPECT_EQ(ReadSetting(L"AppPath"), L"D:\\Elsewhere\\");
            EXPECT_EQ(ReadSetting(L"Version"), L"4.0");
            EXPECT_EQ(t.m.ReadFile(kDir + std::wstring(L"downloader.ini")), installedManifest);
            EXPECT_EQ(ExitCodeOf(t.w.outcome), ExitCodeOf(Outcome::StepFailed));
        }
        t.TearDown();
    }
}

TEST_F(OrchestrationTest, ControlServerTable) {
    enum Server { kNone, kWrapper, kService };  // what this installation has
    struct Row {
        bool start, running;
        Server server;
        bool setResult;
        bool result;
        W calls;
        W captions;
    };
    const Row rows[] = {
        {true, true, kWrapper, true, false, {}, {L"Tomcat Running?"}},
        {true, false, kWrapper, true, true, {L"SetServerRunning 1"}, {}},
        {true, false, kWrapper, false, false, {L"SetServerRunning 1"}, {L"Starting Tomcat"}},
        {false, false, kWrapper, true, false, {}, {}},
        {false, true, kWrapper, true, true, {L"SetServerRunning 0"}, {}},
        {false, true, kService, true, true, {L"SetServerRunning 0"}, {}},
        {false, true, kWrapper, false, false, {L"SetServerRunning 0"}, {}},
        // Another program on the port of a first installation: left alone.
        {false, true, kNone, true, false, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.start << row.running << row.server << row.setResult);
        Rig t;
        t.SetUp();
        SaveInstallDirectory(kDir);
        if (row.server == kService) WriteSetting(L"ServiceInstalled", L"Y");
        if (row.server == kWrapper) {
            t.m.MakeDirs(L"C:\\Apps\\Tidewell\\TCBase\\bin");
            t.m.WriteFile(L"C:\\Apps\\Tidewell\\TCBase\\bin\\catalina.bat", "@echo off\r\n");
        }
        t.net.answers = row.running;
        t.steps.SetServerRunning = [&](bool start) {
            t.j.Add(start ? L"SetServerRunning 1" : L"SetServerRunning 0");
            return row.setResult;
        };
        EXPECT_EQ(ControlServer(row.start), row.result);
        EXPECT_EQ(t.j.Entries(), row.calls);
        EXPECT_EQ(t.Captions(), row.captions);
        for (const auto& b : t.m.boxes.Shown()) EXPECT_EQ(b.icon, platform::MbIcon::Information);
        t.TearDown();
    }
    EXPECT_EQ(ControlServer(true), true);
    auto boxes = m.boxes.Shown();
    EXPECT_TRUE(boxes.empty());
    net.answers = true;
    ControlServer(true);
    EXPECT_EQ(m.boxes.Shown().at(0).text,
              L"Jakarta Tomcat appears to be running already.\n\nIf not, check to see if another application is using port 8080.");
    net.answers = false;
    serverStarts = false;
    ControlServer(true);
    EXPECT_EQ(m.boxes.Shown().at(1).text,
              L"An error happened starting tomcat. You may have another application running on \nthe port tomcat is using!");
}

TEST_F(OrchestrationTest, ConfigureSystemTable) {
    struct Row {
        uint32_t platformId;
        bool admin, serviceInstalled, running;
        W calls;
        const wchar_t* imagePath = nullptr;  // of a service "Tidewell" that is there
    };
    const Row rows[] = {
        {1, true, false, false, {}},
        {2, false, false, false, {}},
        {2, true, true, false, {}},
        {2, true, false, false, {L"InstallServerService"}},
        {2, true, false, true, {L"SetServerRunning 0", L"InstallServerService"}},
        // One a script run created while ending with a failure code: the
        // script would fail on it again.
        {2, true, false, false, {L"RemoveServerService quiet", L"InstallServerService"},
         L"\"c:\\apps\\tidewell\\apache-tomcat\\bin\\tomcat7.exe\" //RS//Tidewell"},
        {2, true, false, false, {L"InstallServerService"}, L"\"C:\\Apps\\Other\\bin\\tomcat7.exe\" //RS//Tidewell"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.platformId << row.admin << row.serviceInstalled << row.running);
        Rig t;
        t.SetUp();
        SaveInstallDirectory(kDir);
        t.m.MakeDirs(L"C:\\Apps\\Tidewell\\TCBase\\bin");
        t.m.WriteFile(L"C:\\Apps\\Tidewell\\TCBase\\bin\\catalina.bat", "@echo off\r\n");
        t.os.SetVersion(6, 1, row.platformId);
        t.os.SetAdministrator(row.admin);
        if (row.serviceInstalled) WriteSetting(L"ServiceInstalled", L"Y");
        if (row.imagePath) {
            TArchAwareRegistry reg(KEY_ALL_ACCESS);
            reg.SetRootKey(HKEY_LOCAL_MACHINE);
            ASSERT_TRUE(reg.OpenKey(L"SYSTEM\\CurrentControlSet\\Services\\Tidewell", true));
            reg.WriteString(L"ImagePath", row.imagePath);
        }
        t.net.answers = row.running;
        ConfigureSystem();
        EXPECT_EQ(t.j.Entries(), row.calls);
        t.TearDown();
    }
}

struct JavaWaitTest : OrchestrationTest {
    void SetUp() override {
        OrchestrationTest::SetUp();
        SaveInstallDirectory(kDir);
        m.MakeDirs(L"C:\\Apps\\Tidewell");
        m.WriteFile(kDir + Comp(L"JREx64").file, Comp(L"JREx64").bytes);
    }
};

struct JavaRig : JavaWaitTest {
    void TestBody() override {}
};

TEST_F(JavaWaitTest, WaitsForTheFileThenTheRuntime) {
    // The installer holds its file for 9 passes; the runtime registers at
    // the 12th.
    auto held = m.fs.Open(kDir + Comp(L"JREx64").file, platform::OpenMode::ReadExisting, platform::Share::Read);
    env.onPump = [&](int pass) {
        if (pass == 10) held.reset();
        if (pass == 12) m.machine.registry.PutString(kJava64, L"CurrentVersion", L"1.8");
    };
    EXPECT_TRUE(WaitForJavaInstall(w, L"JREx64"));
    EXPECT_EQ(env.ProcessMessagesCalls(), 12);
    EXPECT_EQ(w.pb.Positions(), (std::vector<int>{0, 1, 2, 3, 100}));
    EXPECT_TRUE(m.boxes.Shown().empty());
    EXPECT_FALSE(w.javaWaitRunning);
}

TEST_F(JavaWaitTest, BarWrapsFrom100To33) {
    w.pbPosition = 0;
    int pass = 0;
    env.onPump = [&](int p) {
        pass = p;
        if (p == 4) w.pbPosition = 100;  // as after a long wait
        if (p == 8) m.machine.registry.PutString(kJava64, L"CurrentVersion", L"1.8");
    };
    WaitForJavaInstall(w, L"JREx64");
    // Pass 4 moved the bar to 1 before the pump; pass 8 found 100: 33.
    EXPECT_EQ(w.pb.Positions(), (std::vector<int>{0, 1, 33, 100}));
}

TEST_F(JavaWaitTest, EndsAfterTheBoundOrWhenAbandoned) {
    struct Row {
        const char* name;
        int abandonAt;  // pass at which Cancel is clicked; 0: never
        int passes;
    };
    const Row rows[] = {
        {"bound", 0, static_cast<int>(kJavaInstallTimeoutMs / kJavaInstallPollMs)},
        {"cancel", 3, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        JavaRig t;
        t.SetUp();
        EXPECT_FALSE(AbandonJavaWait(t.w));  // no wait: Cancel does what it does otherwise
        t.env.onPump = [&](int pass) {
            if (pass == row.abandonAt) EXPECT_TRUE(AbandonJavaWait(t.w));
        };
        EXPECT_FALSE(WaitForJavaInstall(t.w, L"JREx64"));
        EXPECT_EQ(t.env.ProcessMessagesCalls(), row.passes);
        auto boxes = t.m.boxes.Shown();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Notice");
        EXPECT_EQ(boxes[0].icon, platform::MbIcon::Warning);
        EXPECT_NE(boxes[0].text.find(L"Tidewell will not start until a Java runtime is installed."), std::wstring::npos);
        EXPECT_FALSE(t.w.javaWaitRunning);
        t.TearDown();
    }
}

TEST_F(OrchestrationTest, AbandonedRuntimeWaitGoesOnWithTheOtherComponents) {
    runtimeArrives = false;
    env.onPump = [&](int pass) {
        if (pass == 2) AbandonJavaWait(w);
    };
    cbInstallClick(w);
    FinishDownload();
    EXPECT_EQ(Captions(), W{L"Notice"});
    for (const auto* later : {L"ConfigureServerBase", L"InstallTomcat TOMCATx64", L"InstallApplication",
                              L"InstallServerService", L"SetServerRunning 1", L"uninstall 1"})
        EXPECT_TRUE(j.Has(later)) << WideToUtf8(later);
}

TEST_F(OrchestrationTest, ARuntimeInstallerThatDidNotStartIsNotWaitedFor) {
    runtimeArrives = false;
    steps.InstallJre = [](platform::StatusLine*, const std::wstring&) { return false; };
    cbInstallClick(w);
    FinishDownload();
    EXPECT_EQ(env.ProcessMessagesCalls(), 0);
    EXPECT_TRUE(j.Has(L"ConfigureServerBase"));
    EXPECT_EQ(ReadSetting(L"PendingComponents"), L"JREx64");
    EXPECT_EQ(w.outcome, Outcome::StepFailed);
}

TEST_F(OrchestrationTest, WindowClosedDuringTheRuntimeWaitEndsTheInstallation) {
    runtimeArrives = false;
    env.onPump = [&](int pass) {
        if (pass == 2) env.RequestQuit();
    };
    cbInstallClick(w);
    FinishDownload();
    EXPECT_TRUE(m.boxes.Shown().empty());
    EXPECT_FALSE(j.Has(L"ConfigureServerBase"));
    EXPECT_FALSE(j.Has(L"stage 4"));
}

TEST_F(OrchestrationTest, BetweenTwoInstallStepsTheWindowHandlesWhatIsWaiting) {
    env.onMessageWait = [&] { j.Add(L"messages"); };
    cbInstallClick(w);
    FinishDownload();
    const std::vector<std::wstring> steps = {L"InstallTomcat",        L"ConfigureServerBase",    L"InstallApplication",
                                             L"InstallServerService", L"SetServerRunning 1",     L"CreateProgramShortcuts",
                                             L"CreateServiceShortcuts"};
    auto isStep = [&](const std::wstring& e) {
        for (const auto& s : steps)
            if (e.rfind(s, 0) == 0) return true;
        return false;
    };
    std::wstring last;
    int seen = 0;
    for (const std::wstring& e : j.Entries()) {
        if (e == L"messages") last.clear();
        if (!isStep(e)) continue;
        ++seen;
        EXPECT_TRUE(last.empty()) << WideToUtf8(last) << " then " << WideToUtf8(e) << " without the window's messages";
        last = e;
    }
    EXPECT_EQ(seen, static_cast<int>(steps.size()));
}

}  // namespace
