// Self-update and the uninstall entry against the fakes: a 32-bit process
// on 64-bit Windows, the manifest and the newer installer served by the
// fake internet, the shell recording the start.
#include <gtest/gtest.h>

#include "core/ArchAwareRegistry.h"
#include "core/InstallInfo.h"
#include "core/proxy_options.h"
#include "install/self_update.h"
#include "install/uninstall_entry.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_shell_execute.h"
#include "platform/fake/fake_system.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;
using tide::testing::Md5Hex;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/downloader.ini";
const wchar_t kNewUrl[] = L"http://127.0.0.1:9/bin/Tidestart-1.5.10.exe";
const std::wstring kSelf = L"C:\\Downloads\\Tidestart.exe";
const std::wstring kTemp = L"C:\\Users\\admin\\AppData\\Local\\Temp\\";
const std::wstring kNewFile = kTemp + L"Tidestart-1.5.10.exe";
const std::wstring kEntry64 = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell";
const std::wstring kEntry32 = L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tidewell";
const std::string kNewInstaller = tide::testing::Pattern(3000, 'n');
const std::string kOldInstaller = "old installer";

// The fake registry, remembering the names of the values set, in order.
struct OrderedRegistry : platform::fake::FakeRegistry {
    std::vector<std::wstring> names;
    long SetValue(HKEY key, const std::wstring& name, uint32_t type, const void* data, uint32_t size) override {
        names.push_back(name);
        return FakeRegistry::SetValue(key, name, type, data, size);
    }
};

struct SelfUpdateTest : ::testing::Test {
    FakeMachine m;
    OrderedRegistry reg;
    platform::ScopedPort<platform::Registry> regPort{reg};
    platform::fake::FakeVersionInfo versions;
    platform::ScopedPort<platform::VersionInfo> versionPort{versions};
    platform::fake::FakeOsInfo os;
    platform::ScopedPort<platform::OsInfo> osPort{os};
    platform::fake::RecordingShellExecutor shell;
    platform::ScopedPort<platform::ShellExecutor> shellPort{shell};
    platform::fake::FakeClock clock{1775000000000};  // 2026-03-31 23:33 UTC
    platform::ScopedPort<platform::Clock> clockPort{clock};

    void SetUp() override {
        ResetInstallInfoForTest();
        m.Args({L"/i", kUrl});
        m.MakeDirs(L"C:\\Downloads");
        m.MakeDirs(L"C:\\Apps\\Cal");
        m.MakeDirs(kTemp.substr(0, kTemp.size() - 1));
        m.WriteFile(kSelf, "this installer");
        OwnVersion(1, 5, 2, 409);
        versions.Set(kNewFile, {1 << 16 | 5, 10 << 16});  // the announced version
        SaveInstallDirectory(L"C:\\Apps\\Cal\\");
        Announce("1.5.10.0", Md5Hex(kNewInstaller));
        m.http.Serve(kNewUrl, kNewInstaller);
    }
    void TearDown() override { ResetInstallInfoForTest(); }
    void OwnVersion(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { versions.Set(kSelf, {a << 16 | b, c << 16 | d}); }
    void Announce(const std::string& version, const std::wstring& md5) {
        m.ServeManifest(kUrl, "[GENERAL]\r\nBINARY_BASE=http://127.0.0.1:9/bin/\r\nTUTORIAL_URL=http://t/\r\n"
                           "SUPPORT_URL=http://s/\r\n[TW]\r\nFILE_VERSION=3.4.16\r\n[DOWNLOADER]\r\nFILE_VERSION=" +
                               version + "\r\nFILE_NAME=Tidestart-1.5.10.exe\r\nFILE_SIZE=3000\r\nFILE_MD5SUM=" +
                               WideToUtf8(md5) + "\r\n");
    }
    // The program went on: copied itself and registered the copy.
    void ExpectRegistered() {
        EXPECT_EQ(m.ReadFile(L"C:\\Apps\\Cal\\Tidestart.EXE"), "this installer");
        EXPECT_EQ(reg.GetString(kEntry64, L"UninstallString"), L"\"C:\\Apps\\Cal\\Tidestart.EXE\" /UNINSTALL");
        EXPECT_FALSE(m.env.QuitRequested());
    }
};

TEST(VersionOrder, PartsCompareAsNumbersOrElseAsText) {
    struct Row { const wchar_t* newest; const wchar_t* own; bool update; };
    const Row rows[] = {
        {L"1.5.10.0", L"1.5.2.409", true},   // 10 > 2, though "1.5.1" sorts before "1.5.2"
        {L"1.5.9", L"1.5.10", false},        // older, though "1.5.9" sorts after "1.5.10"
        {L"1.5.2.409", L"1.5.2.409", false},
        {L"1.5.2.410", L"1.5.2.409", true},
        {L"2", L"1.99.99.99", true},
        {L"1.5", L"1.5.0.0", false},         // a missing part counts as 0
        {L"1.5.0.1", L"1.5", true},
        {L"01.05", L"1.5", false},           // leading zeros
        {L"1.5.99999999999999999999", L"1.5.2", true},  // beyond 64 bits
        {L"1.5.2b", L"1.5.2a", true},        // not numbers: as text
        {L"1.5.10", L"1.5.9b", false},       // "10" sorts before "9b"
        {L"1.6", L"", true},                 // no version resource
        {L"", L"1.5", false},                // nothing announced
        {L"", L"", false},
    };
    for (const Row& r : rows) EXPECT_EQ(IsNewerInstaller(r.newest, r.own), r.update) << r.newest << " vs " << r.own;
}

TEST_F(SelfUpdateTest, NewerInstallerIsDownloadedToTempCheckedAndStarted) {
    EXPECT_FALSE(SelfUpdateAndRegister());
    EXPECT_EQ(m.ReadFile(kTemp + L"Tidestart-1.5.10.exe"), kNewInstaller);
    ASSERT_EQ(m.CountFor(kNewUrl), 1);
    EXPECT_EQ(m.http.Requests().back().agent, L"Tidewell Downloader V 1.5.2.409");
    auto boxes = m.boxes.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"An updated version of the installer was found.\n\nThe downloader will now re-start.");
    EXPECT_EQ(boxes[0].caption, L"Updated Installer");
    EXPECT_EQ(boxes[0].icon, platform::MbIcon::None);
    EXPECT_EQ(boxes[0].buttons, platform::MbButtons::Ok);
    auto calls = shell.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].verb, L"open");
    EXPECT_EQ(calls[0].file, kTemp + L"Tidestart-1.5.10.exe");
    EXPECT_EQ(calls[0].parameters, std::wstring(L"/i ") + kUrl + L" /updated");  // the same release, marked
    EXPECT_FALSE(calls[0].directory.has_value());
    EXPECT_EQ(calls[0].show, platform::kSwShowNormal);
    EXPECT_TRUE(m.env.QuitRequested());
    EXPECT_FALSE(m.fs.FileExists(L"C:\\Apps\\Cal\\Tidestart.EXE"));
    EXPECT_FALSE(reg.HasKey(kEntry64));
}

// Unattended, nobody would see the new installer's window: this run starts
// it with its own words, waits, and its exit code is the run's outcome.
TEST_F(SelfUpdateTest, UnattendedRunWaitsForTheNewInstallerAndTakesItsExitCode) {
    platform::fake::FakeProcesses procs;
    platform::ScopedPort<platform::Processes> procPort{procs};
    procs.Queue({0, {}, 5, 2});
    m.Args({L"/SILENT", L"/acceptlicense", L"/i", kUrl, L"/dir=C:\\Apps\\Cal\\"});
    EXPECT_FALSE(SelfUpdateAndRegister());
    EXPECT_TRUE(shell.Calls().empty());
    ASSERT_EQ(procs.Starts().size(), 1u);
    const std::wstring exe = kTemp + L"Tidestart-1.5.10.exe";
    EXPECT_EQ(procs.Starts()[0].commandLine.value_or(L""),
              L"\"" + exe + L"\" /SILENT /acceptlicense /i " + kUrl + L" /dir=C:\\Apps\\Cal\\ /updated");
    // In this run's current directory: an empty one fails the start (267).
    EXPECT_FALSE(procs.Starts()[0].workDir.has_value());
    EXPECT_EQ(UpdatedInstallerExitCode(), std::optional<uint32_t>(5));
    EXPECT_TRUE(m.env.QuitRequested());
    EXPECT_FALSE(reg.HasKey(kEntry64));
}

// The proxy password never shows on the new installer's command line: it
// is in that process's environment, and only while it is started.
TEST_F(SelfUpdateTest, TheProxyPasswordIsHandedOverInTheEnvironment) {
    platform::fake::FakeProcesses procs;
    platform::ScopedPort<platform::Processes> procPort{procs};
    std::wstring inherited;
    procs.Queue({0, {}, 0, 0, false, false, [&](const platform::ProcessStart&) {
                     inherited = m.env.Variable(kProxyPasswordVariable);
                 }});
    m.env.SetCommandLine(L"\"C:\\Downloads\\Tidestart.exe\" /SILENT /acceptlicense /i " + std::wstring(kUrl) +
                         L" /proxyuser=bob \"/proxypassword=s3 cr\"t  /PROXYPASSWORD=x /dir=C:\\Apps\\Cal\\");
    EXPECT_FALSE(SelfUpdateAndRegister());
    ASSERT_EQ(procs.Starts().size(), 1u);
    EXPECT_EQ(procs.Starts()[0].commandLine.value_or(L""), L"\"" + kTemp + L"Tidestart-1.5.10.exe\" /SILENT /acceptlicense /i " +
                                                              kUrl + L" /proxyuser=bob /dir=C:\\Apps\\Cal\\ /updated");
    EXPECT_EQ(inherited, L"s3 crt");
    EXPECT_EQ(m.env.Variable(kProxyPasswordVariable), L"");
}

TEST_F(SelfUpdateTest, EqualOrOlderAnnouncedInstallerIsNotFetched) {
    for (const char* announced : {"1.5.2.409", "1.5.2", "1.5.1.999", ""}) {
        SCOPED_TRACE(announced);
        ResetManifestFetchedForTest();
        Announce(announced, Md5Hex(kNewInstaller));
        EXPECT_TRUE(SelfUpdateAndRegister());
        EXPECT_EQ(m.CountFor(kNewUrl), 0);
        ExpectRegistered();
    }
    OwnVersion(1, 5, 10, 0);  // a 1.5.10 installer told of 1.5.9 stays
    ResetManifestFetchedForTest();
    Announce("1.5.9", Md5Hex(kNewInstaller));
    EXPECT_TRUE(SelfUpdateAndRegister());
    EXPECT_EQ(m.CountFor(kNewUrl), 0);
}

TEST_F(SelfUpdateTest, AnUpdateThatCannotRunGoesOnWithThisInstaller) {
    struct Row { const char* name; std::wstring md5; intptr_t shellResult; std::wstring lastCaption; size_t starts; };
    const Row rows[] = {
        {"digest mismatch", Md5Hex("other bytes"), 42, L"Notice", 0},
        {"start fails", Md5Hex(kNewInstaller), 2, L"Notice", 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ResetManifestFetchedForTest();
        m.boxes.Clear();
        m.fs.RemoveFile(kTemp + L"Tidestart-1.5.10.exe");
        size_t before = shell.Calls().size();
        Announce("1.5.10.0", r.md5);
        shell.SetResult(r.shellResult);
        EXPECT_TRUE(SelfUpdateAndRegister());
        EXPECT_EQ(shell.Calls().size() - before, r.starts);
        auto boxes = m.boxes.Shown();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().caption, r.lastCaption);
        ExpectRegistered();
    }
    EXPECT_NE(m.boxes.Shown().back().text.find(kTemp + L"Tidestart-1.5.10.exe"), std::wstring::npos);
}

// A file that is not the announced version would find itself outdated and
// start the next copy of itself for ever: only the announced one starts.
TEST_F(SelfUpdateTest, OnlyTheAnnouncedVersionIsStarted) {
    struct Row { const char* announced; std::optional<platform::FixedFileVersion> file; bool starts; };
    const Row rows[] = {
        {"1.5.10.0", platform::FixedFileVersion{1 << 16 | 5, 2 << 16 | 409}, false},  // below FILE_VERSION
        {"1.5.10.0", std::nullopt, false},                                           // no version resource
        {"1,5,10,0", platform::FixedFileVersion{1 << 16 | 5, 10 << 16}, false},      // commas
        {"1.5.10", platform::FixedFileVersion{1 << 16 | 5, 10 << 16}, true},         // 1.5.10 is 1.5.10.0
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.announced);
        platform::fake::FakeVersionInfo v;
        v.Set(kSelf, {1 << 16 | 5, 2 << 16 | 409});
        if (r.file) v.Set(kNewFile, *r.file);
        platform::ScopedPort<platform::VersionInfo> port{v};
        ResetManifestFetchedForTest();
        m.boxes.Clear();
        const size_t before = shell.Calls().size();
        Announce(r.announced, Md5Hex(kNewInstaller));
        EXPECT_EQ(SelfUpdateAndRegister(), !r.starts);
        EXPECT_EQ(shell.Calls().size() - before, r.starts ? 1u : 0u);
        auto boxes = m.boxes.Shown();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, r.starts ? L"Updated Installer" : L"Notice");
        if (r.starts) continue;
        EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
        EXPECT_NE(boxes[0].text.find(kNewFile), std::wstring::npos) << boxes[0].text;
        EXPECT_NE(boxes[0].text.find(L"announces version " + Utf8ToWide(r.announced)), std::wstring::npos)
            << boxes[0].text;
        ExpectRegistered();
    }
}

// A quoted run this run's command line leaves open is closed, or it would
// take the mark into its argument.
TEST_F(SelfUpdateTest, TheMarkIsAWordOfItsOwnAfterAnOpenQuote) {
    m.env.SetCommandLine(kSelf + L" /i \"" + kUrl);
    EXPECT_FALSE(SelfUpdateAndRegister());
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(shell.Calls()[0].parameters, L"/i \"" + std::wstring(kUrl) + L"\" /updated");
}

TEST_F(SelfUpdateTest, AnInstallerStartedByAnUpdateNeverUpdatesAgain) {
    for (auto args : {std::vector<std::wstring>{L"/i", kUrl, L"/updated"},
                      std::vector<std::wstring>{L"/silent", L"/acceptlicense", L"/i", kUrl, L"/UPDATED"}}) {
        SCOPED_TRACE(args.front());
        ResetManifestFetchedForTest();
        m.Args(args);
        EXPECT_TRUE(SelfUpdateAndRegister());
        EXPECT_EQ(m.CountFor(kNewUrl), 0);
        EXPECT_TRUE(shell.Calls().empty());
        EXPECT_TRUE(m.boxes.Shown().empty());
        ExpectRegistered();
    }
}

TEST_F(SelfUpdateTest, EntryHoldsTwelveValuesInOrderInTheNativeView) {
    m.WriteFile(L"C:\\Apps\\Cal\\Tidestart.EXE", kOldInstaller);
    OwnVersion(1, 5, 10, 0);
    clock.SetUtcOffset(3600 * 1000);  // local time is an hour ahead: already April
    EXPECT_TRUE(SelfUpdateAndRegister());
    ExpectRegistered();
    EXPECT_FALSE(reg.HasKey(kEntry32));
    std::vector<std::wstring> order(reg.names.end() - 12, reg.names.end());
    EXPECT_EQ(order, (std::vector<std::wstring>{L"DisplayName", L"DisplayVersion", L"HelpLink", L"URLInfoAbout",
                                                L"InstallLocation", L"Publisher", L"NoModify", L"NoRepair",
                                                L"UninstallString", L"DisplayIcon", L"InstallDate",
                                                L"QuietUninstallString"}));
    TArchAwareRegistry r;
    r.SetRootKey(HKEY_LOCAL_MACHINE);
    r.SetAccess(KEY_READ);
    ASSERT_TRUE(r.OpenKey(kUninstallKey, false));
    EXPECT_EQ(r.ReadString(L"DisplayName"), L"Tidewell Web Calendar");
    EXPECT_EQ(r.ReadString(L"DisplayVersion"), L"3.4.16");
    EXPECT_EQ(r.ReadString(L"HelpLink"), L"http://t/");
    EXPECT_EQ(r.ReadString(L"URLInfoAbout"), L"http://s/");
    EXPECT_EQ(r.ReadString(L"InstallLocation"), L"C:\\Apps\\Cal");
    EXPECT_EQ(r.ReadString(L"Publisher"), L"Quorvan Labs, Inc.");
    EXPECT_EQ(r.ReadString(L"DisplayIcon"), L"C:\\Apps\\Cal\\Tidestart.EXE,0");
    EXPECT_EQ(r.ReadString(L"InstallDate"), L"20260401");
    EXPECT_EQ(r.ReadString(L"QuietUninstallString"), L"\"C:\\Apps\\Cal\\Tidestart.EXE\" /UNINSTALL /SILENT");
    EXPECT_FALSE(r.ValueExists(L"EstimatedSize"));  // only once the installation has ended
    for (const wchar_t* flag : {L"NoModify", L"NoRepair"}) {
        uint32_t type = 0;
        platform::Reg().QueryValue(r.CurrentKey(), flag, &type, nullptr);
        EXPECT_EQ(type, static_cast<uint32_t>(REG_DWORD));
        EXPECT_EQ(r.ReadInteger(flag), 1);
    }
}

TEST_F(SelfUpdateTest, TheInstalledCopyInAnotherCaseLeavesEverythingAlone) {
    OwnVersion(1, 5, 10, 0);
    const std::wstring self = L"c:\\apps\\cal\\Tidestart.exe";
    m.MakeDirs(L"c:\\apps\\cal");
    m.WriteFile(self, "this installer");
    m.env.SetExecutablePath(self);
    versions.Set(self, {1 << 16 | 5, 10 << 16});
    EXPECT_TRUE(SelfUpdateAndRegister());
    EXPECT_FALSE(m.fs.FileExists(L"C:\\Apps\\Cal\\Tidestart.EXE"));  // the fake's paths keep their case
    EXPECT_FALSE(reg.HasKey(kEntry64));
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST_F(SelfUpdateTest, AFailedCopyIsShownAndTheEntryStillWritten) {
    OwnVersion(1, 5, 10, 0);
    m.MakeDirs(L"C:\\Apps\\Cal\\Tidestart.EXE");  // a folder where the copy goes
    EXPECT_TRUE(SelfUpdateAndRegister());
    auto boxes = m.boxes.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Notice");
    EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
    EXPECT_NE(boxes[0].text.find(L"C:\\Apps\\Cal\\Tidestart.EXE"), std::wstring::npos) << boxes[0].text;
    EXPECT_EQ(reg.GetString(kEntry64, L"UninstallString"), L"\"C:\\Apps\\Cal\\Tidestart.EXE\" /UNINSTALL");
    EXPECT_FALSE(m.env.QuitRequested());
}

TEST_F(SelfUpdateTest, WithoutRightsToTheEntryTheProgramEnds) {
    OwnVersion(1, 5, 10, 0);
    reg.SetDenyMachineWrites(true);
    EXPECT_FALSE(SelfUpdateAndRegister());
    auto boxes = m.boxes.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              L"An error ocurred creating the uninstall registry key for \nthe application. It appears that you "
              L"don't have the\nnecessary permissions to install this program. Please logon as an\nadministrator "
              L"and run the installation program again.");
    EXPECT_EQ(boxes[0].caption, L"Notice");
    EXPECT_TRUE(m.env.QuitRequested());
}

}  // namespace
