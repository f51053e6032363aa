#include <gtest/gtest.h>

#include <thread>

#include "app/program.h"
#include "base/command_line.h"
#include "core/Tidestart.h"
#include "core/manifest.h"
#include "platform/fake/fake_ui.h"

using namespace tide;
using namespace tide::platform;
using tide::platform::fake::FakeEnvironment;
using tide::platform::fake::FakeVersionInfo;
using tide::platform::fake::RecordingMessageBoxes;

TEST(Entry, SelectModeComparesTheLowerCasedWholeArgument) {
    EXPECT_EQ(SelectMode(L"/uninstall"), Mode::Uninstall);
    EXPECT_EQ(SelectMode(L"/UNINSTALL"), Mode::Uninstall);
    EXPECT_EQ(SelectMode(L"/UnInStAlL"), Mode::Uninstall);
    EXPECT_EQ(SelectMode(L"/DOUNINSTALL"), Mode::DoUninstall);
    EXPECT_EQ(SelectMode(L"/testini"), Mode::TestIni);
    EXPECT_EQ(SelectMode(L"/TESTINI"), Mode::TestIni);
    // Anything that is not exactly a mode word selects the installer.
    for (const wchar_t* a : {L"", L"/uninstalls", L"/uninstal", L" /uninstall", L"/uninstall ", L"uninstall",
                             L"-uninstall", L"/i", L"/I", L"/u", L"/testini2", L"/do uninstall"})
        EXPECT_EQ(SelectMode(a), Mode::Installer) << a;
}

TEST(Entry, CommandLineSplitsAtBlanksOutsideQuotesAndKeepsBackslashes) {
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> args;
    } kCases[] = {
        // The second uninstall stage: a quoted directory ending in a backslash.
        {L"C:\\Temp\\Tideclean.EXE /DOUNINSTALL \"C:\\Temp\\Tidestart.exe\" \"C:\\Program Files\\Tidewell\\\"",
         {L"C:\\Temp\\Tideclean.EXE", L"/DOUNINSTALL", L"C:\\Temp\\Tidestart.exe", L"C:\\Program Files\\Tidewell\\"}},
        {L"\"C:\\Program Files\\Tidewell\\Tidestart.exe\" /UNINSTALL",
         {L"C:\\Program Files\\Tidewell\\Tidestart.exe", L"/UNINSTALL"}},
        {L"T.exe /testini \"C:\\My Files\\downloader.ini\" \"C:\\My Files\\\"",
         {L"T.exe", L"/testini", L"C:\\My Files\\downloader.ini", L"C:\\My Files\\"}},
        {L"T.exe /u \"D:\\comp\\\" /i x", {L"T.exe", L"/u", L"D:\\comp\\", L"/i", L"x"}},
        {L"T.exe /u D:\\comp\\ \\\\srv\\share\\\\", {L"T.exe", L"/u", L"D:\\comp\\", L"\\\\srv\\share\\\\"}},
        {L"  T.exe \t /i\t\t\"http://h/a b\"  ", {L"T.exe", L"/i", L"http://h/a b"}},
        {L"T.exe /i \"\"", {L"T.exe", L"/i", L""}},
        {L"T.exe \"a\"b\"c d\"e", {L"T.exe", L"abc de"}},
        {L"T.exe \"C:\\open run", {L"T.exe", L"C:\\open run"}},
        {L"", {}},
        {L"   ", {}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
        // The arguments part, behind another program, gives that program
        // the same arguments.
        std::vector<std::wstring> passedOn = SplitCommandLine(L"N.exe " + CommandLineArguments(c.line));
        std::vector<std::wstring> want{L"N.exe"};
        if (c.args.size() > 1) want.insert(want.end(), c.args.begin() + 1, c.args.end());
        EXPECT_EQ(passedOn, want) << c.line;
    }
}

TEST(Entry, OnlyArgumentOneSelectsTheMode) {
    FakeEnvironment env;
    RecordingMessageBoxes boxes;
    ScopedPort<Environment> pe(env);
    ScopedPort<MessageBoxes> pb(boxes);
    std::vector<std::string> ran;
    ModeHandlers h;
    h.installer = [&] { ran.push_back("installer"); };
    h.uninstall = [&] { ran.push_back("uninstall"); };
    h.doUninstall = [&] { ran.push_back("douninstall"); };
    h.testIni = [&] { ran.push_back("testini"); };
    env.SetArguments({L"C:\\T.exe", L"/i", L"/testini", L"/uninstall"});
    RunTidestart(h);
    env.SetArguments({L"C:\\T.exe"});
    RunTidestart(h);
    env.SetArguments({L"C:\\T.exe", L"/UNINSTALL", L"/testini"});
    RunTidestart(h);
    env.SetArguments({L"C:\\T.exe", L"/douninstall", L"C:\\x", L"y"});
    RunTidestart(h);
    EXPECT_EQ(ran, (std::vector<std::string>{"installer", "installer", "uninstall", "douninstall"}));
    EXPECT_EQ(env.ApplicationTitle(), L"Tidewell Downloader");
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST(Entry, ExeVersionStringWritesFourUnsigned16BitParts) {
    FakeVersionInfo vi;
    ScopedPort<VersionInfo> pv(vi);
    vi.Set(L"C:\\a.exe", {(1u << 16) | 5u, (2u << 16) | 409u});
    vi.Set(L"C:\\max.exe", {0xFFFFFFFFu, 0xFFFFFFFFu});
    vi.Set(L"C:\\zero.exe", {0, 0});
    vi.Set(L"C:\\halves.exe", {0x00010000u, 0x0000FFFFu});
    EXPECT_EQ(ExeVersionString(L"C:\\a.exe"), L"1.5.2.409");
    EXPECT_EQ(ExeVersionString(L"C:\\max.exe"), L"65535.65535.65535.65535");
    EXPECT_EQ(ExeVersionString(L"C:\\zero.exe"), L"0.0.0.0");
    EXPECT_EQ(ExeVersionString(L"C:\\halves.exe"), L"1.0.0.65535");
    EXPECT_EQ(ExeVersionString(L"C:\\none.exe"), L"");
}

TEST(Entry, AgentNameCarriesTheRunningExecutablesVersion) {
    FakeVersionInfo vi;
    FakeEnvironment env;
    ScopedPort<VersionInfo> pv(vi);
    ScopedPort<Environment> pe(env);
    env.SetExecutablePath(L"C:\\Downloads\\Tidestart.exe");
    EXPECT_EQ(AgentName(), L"Tidewell Downloader V ");
    vi.Set(L"C:\\Downloads\\Tidestart.exe", {(1u << 16) | 5u, (2u << 16) | 409u});
    EXPECT_EQ(AgentName(), L"Tidewell Downloader V 1.5.2.409");
}

TEST(Entry, AQuitRequestFromAnotherThreadEndsTheMessageLoop) {
    FakeEnvironment env;
    ScopedPort<Environment> pe(env);
    std::thread other([] { Env().RequestQuit(); });
    Env().RunMessageLoop();
    other.join();
    EXPECT_TRUE(env.QuitRequested());
}

TEST(Entry, AnErrorThatEscapesTheModeIsShownAndTheExitCodeIsNotZero) {
    const struct {
        std::function<void()> mode;
        std::wstring message;
    } kCases[] = {
        {[] { throw IoError(L"Cannot write C:\\Tidewell\\downloader.ini"); },
         L"Cannot write C:\\Tidewell\\downloader.ini"},
        {[] { throw ManifestError(L"FILE_SIZE is not a number"); }, L"FILE_SIZE is not a number"},
        {[] { throw std::runtime_error("plain failure"); }, L"plain failure"},
        {[] { throw 7; }, L"An unexpected error ended the program."},
        // Raised in a timer handler: passed to the message loop, which ends
        // and raises it again.
        {[] {
             RunHandler([] { throw Error(L"timer failed"); });
             Env().RunMessageLoop();
         },
         L"timer failed"},
    };
    for (const auto& c : kCases) {
        FakeEnvironment env;
        RecordingMessageBoxes boxes;
        ScopedPort<Environment> pe(env);
        ScopedPort<MessageBoxes> pb(boxes);
        ModeHandlers h;
        h.installer = c.mode;
        EXPECT_NE(RunModes(h), 0) << c.message;
        auto shown = boxes.Shown();
        ASSERT_EQ(shown.size(), 1u) << c.message;
        EXPECT_EQ(shown[0].text, c.message);
        EXPECT_EQ(shown[0].caption, L"Notice");
        EXPECT_EQ(shown[0].icon, MbIcon::Error);
    }
}
