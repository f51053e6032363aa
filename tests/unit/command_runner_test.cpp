// The command runner's logic against scripted programs: line splitting and
// the byte-to-character rule, what reaches the status line and the list,
// what is asked of process creation, the responsive waits, start failures.
#include <gtest/gtest.h>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "system/CommandRunner.h"

namespace tide {
namespace {

using platform::ScopedPort;
using platform::fake::FakeProgram;

TEST(OutputLines, SplitsOnCrAndLfAndDropsEmptyLines) {
    TOutputLines lines;
    TStringList got;
    lines.Feed("a\r\nb\r\n", 6, &got);
    EXPECT_EQ(got, (TStringList{L"a", L"b"}));
    EXPECT_EQ(lines.LastLine(), L"b");
    lines.Feed("\n\n\rc\rd\n", 7, &got);
    EXPECT_EQ(got, (TStringList{L"a", L"b", L"c", L"d"}));
}

TEST(OutputLines, LineBrokenAcrossChunksIsOneLine) {
    TOutputLines lines;
    TStringList got;
    lines.Feed("hel", 3, &got);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(lines.LastLine(), L"");
    EXPECT_EQ(lines.CurrentLine(), L"hel");
    lines.Feed("lo\r", 3, &got);
    lines.Feed("\nx", 2, &got);
    EXPECT_EQ(got, (TStringList{L"hello"}));
    EXPECT_EQ(lines.CurrentLine(), L"x");
}

TEST(OutputLines, EveryByteIsTheCharacterWithItsCode) {
    TOutputLines lines;
    std::string bytes = "\xE9t\xE9\x01\x7F\x80\xFF\n";
    lines.Feed(bytes.data(), bytes.size(), nullptr);
    EXPECT_EQ(lines.LastLine(), std::wstring(L"\u00E9t\u00E9\u0001\u007F\u0080\u00FF"));
    // A zero byte is a character like any other.
    std::string withZero("a\0b\n", 4);
    lines.Feed(withZero.data(), withZero.size(), nullptr);
    EXPECT_EQ(lines.LastLine(), std::wstring(L"a\0b", 3));
}

struct RunnerFixture : ::testing::Test {
    platform::fake::FakeProcesses procs;
    platform::fake::FakeEnvironment env;
    platform::fake::RecordingMessageBoxes boxes;
    platform::fake::FakeOsInfo os;
    platform::RecordingStatusLine status;
    ScopedPort<platform::Processes> p1{procs};
    ScopedPort<platform::Environment> p2{env};
    ScopedPort<platform::MessageBoxes> p3{boxes};
    ScopedPort<platform::OsInfo> p4{os};
};

using CommandRunner = RunnerFixture;

TEST_F(CommandRunner, TwoLinesLeaveTheSecondOnTheStatusLineAndBothInTheList) {
    procs.Queue({0, {"a\r\nb\r\n"}, 0, 0});
    TStringList sl;
    TCommandRunner r(true);
    r.sb = &status;
    r.sl = &sl;
    EXPECT_TRUE(r.RunCommand(L"C:\\t\\p.exe", L"p.exe x", L"C:\\t"));
    EXPECT_EQ(sl, (TStringList{L"a", L"b"}));
    EXPECT_EQ(status.Last(), L"b");
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(CommandRunner, StatusLineIsRefreshedOncePerChunkWithTheLatestCompleteLine) {
    // Chunk 2 completes no line: the same text is shown again. The unfinished
    // "tail" is never shown nor collected.
    procs.Queue({0, {"one\r\ntw", "o-and", "\r\nthree\r\ntail"}, 0, 2});
    TStringList sl;
    TCommandRunner r(true);
    r.sb = &status;
    r.sl = &sl;
    EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_EQ(status.Texts(), (std::vector<std::wstring>{L"one", L"one", L"three"}));
    EXPECT_EQ(sl, (TStringList{L"one", L"two-and", L"three"}));
}

TEST_F(CommandRunner, OnlyLineBreaksLeaveTheStatusLineEmpty) {
    procs.Queue({0, {"\r\n\r\n\n"}, 0, 0});
    TStringList sl;
    TCommandRunner r(true);
    r.sb = &status;
    r.sl = &sl;
    EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
    ASSERT_FALSE(status.Texts().empty());
    EXPECT_EQ(status.Last(), L"");
    EXPECT_TRUE(sl.empty());
}

TEST_F(CommandRunner, Byte233BecomesEAcute) {
    procs.Queue({0, {"caf\xE9\r\n"}, 0, 0});
    TCommandRunner r(true);
    r.sb = &status;
    EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_EQ(status.Last(), L"caf\u00E9");
}

TEST_F(CommandRunner, OutputWrittenJustBeforeTheEndIsNotLost) {
    // The whole output arrives only as the program ends, after the main
    // thread has set the terminate mark: the reader still takes it.
    FakeProgram prog{0, {"first\r\n", "last\r\n"}, 0, 3};
    prog.outputAfterExit = true;
    for (int i = 0; i < 20; ++i) procs.Queue(prog);
    for (int i = 0; i < 20; ++i) {
        TStringList sl;
        TCommandRunner r(true);
        r.sl = &sl;
        EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
        EXPECT_EQ(sl, (TStringList{L"first", L"last"})) << "run " << i;
    }
}

TEST_F(CommandRunner, AnHeirThatKeepsWritingIsCutOffByTheDrainLimit) {
    // The drain is timed on the clock port; every reading of this clock
    // moves it on 10 ms.
    platform::fake::FakeClock clock;
    clock.SetStep(10);
    ScopedPort<platform::Clock> clockPort{clock};
    FakeProgram prog{0, {"a\r\n", "more\r\n"}, 0, 1};
    prog.heirKeepsWriting = true;
    procs.Queue(prog);
    TCommandRunner r(true);
    r.sb = &status;
    uint64_t t0 = clock.TickMs();
    EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_GE(clock.TickMs() - t0, 1000u);
    EXPECT_EQ(status.Last(), L"more");
}

TEST_F(CommandRunner, NonZeroExitCodeIsFailureWithoutAMessage) {
    procs.Queue({0, {"oops\r\n"}, 1, 0});
    TCommandRunner r(true);
    EXPECT_FALSE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(CommandRunner, StartRequestHidesTheProgramAndPassesEmptyTextsAsNone) {
    TCommandRunner r(true);
    EXPECT_TRUE(r.RunCommand(L"", L"cmd /C x", L""));
    ASSERT_EQ(procs.Starts().size(), 1u);
    platform::ProcessStart s = procs.Starts()[0];
    EXPECT_FALSE(s.application.has_value());
    EXPECT_EQ(s.commandLine, std::optional<std::wstring>(L"cmd /C x"));
    EXPECT_FALSE(s.workDir.has_value());
    EXPECT_EQ(s.flags, 0x08000008u);
    EXPECT_TRUE(s.inheritHandles);
    EXPECT_TRUE(s.captureOutput);
    EXPECT_EQ(s.pipeBuffer, 2048u);
    EXPECT_TRUE(s.hideWindow);
    EXPECT_TRUE(s.detachConsole);

    TCommandRunner r2(true);
    r2.dwFlags = platform::kCreateNewConsole;
    EXPECT_TRUE(r2.RunCommand(L"C:\\a.exe", L"", L"C:\\w"));
    s = procs.Starts()[1];
    EXPECT_EQ(s.application, std::optional<std::wstring>(L"C:\\a.exe"));
    EXPECT_FALSE(s.commandLine.has_value());
    EXPECT_EQ(s.workDir, std::optional<std::wstring>(L"C:\\w"));
    EXPECT_EQ(s.flags, 0x10u);
    EXPECT_FALSE(s.hideWindow);
    EXPECT_FALSE(s.detachConsole);
    EXPECT_TRUE(s.captureOutput);
}

TEST_F(CommandRunner, WaitsInSlicesOf100msAndHandlesMessagesBetweenThem) {
    procs.Queue({0, {}, 0, 5});
    TCommandRunner r(true);
    EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_EQ(procs.Waits(), (std::vector<uint32_t>(6, 100)));
    // Once after every slice in which the program was still running.
    EXPECT_EQ(env.ProcessMessagesCalls(), 5);
}

TEST_F(CommandRunner, MissingProgramShowsTheSystemTextAndTheRunnerIsFreedCleanly) {
    os.SetMessage(2, L"The system cannot find the file specified.");
    procs.Queue({2, {}, 0, 0});
    {
        TCommandRunner r(true);
        r.sb = &status;
        EXPECT_FALSE(r.RunCommand(L"C:\\nowhere\\none.exe", L"none.exe", L""));
    }
    auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"The system cannot find the file specified.");
    EXPECT_EQ(shown[0].caption, L"Notice");
    EXPECT_EQ(shown[0].icon, platform::MbIcon::Warning);
    EXPECT_EQ(shown[0].buttons, platform::MbButtons::Ok);
    EXPECT_TRUE(status.Texts().empty());
    EXPECT_EQ(env.ProcessMessagesCalls(), 0);
}

TEST_F(CommandRunner, EverythingIsReleasedAfterTheRun) {
    procs.Queue({0, {"x\r\n"}, 0, 1});
    {
        TCommandRunner r(true);
        EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
        // Both pipe ends are closed as soon as the program has ended.
        EXPECT_EQ(procs.OpenPipeEnds(), 0);
    }
    EXPECT_EQ(procs.LivePrograms(), 0);
}

TEST_F(CommandRunner, OneCommandPerRunner) {
    TCommandRunner r(true);
    EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_FALSE(r.RunCommand(L"C:\\p.exe", L"", L""));
    EXPECT_EQ(procs.Starts().size(), 1u);
}

TEST_F(CommandRunner, WithoutWaitingTheReaderIsStoppedWhenTheRunnerIsFreed) {
    procs.Queue({0, {"a\r\n"}, 0, 1000000});
    TStringList sl;
    {
        TCommandRunner r(true);
        r.sl = &sl;
        r.WaitForTermination = false;
        EXPECT_TRUE(r.RunCommand(L"C:\\p.exe", L"", L""));
        EXPECT_TRUE(procs.Waits().empty());
    }
    EXPECT_EQ(procs.OpenPipeEnds(), 0);
    EXPECT_EQ(procs.LivePrograms(), 0);
}

using RunAndWaitTest = RunnerFixture;

TEST_F(RunAndWaitTest, NewConsoleNoPipeAndAnEmptyWorkingDirectoryIsStillPassed) {
    EXPECT_TRUE(RunAndWait(L"C:\\Windows\\system32\\cmd.exe", L"/C \"x.bat\"", L""));
    ASSERT_EQ(procs.Starts().size(), 1u);
    platform::ProcessStart s = procs.Starts()[0];
    EXPECT_EQ(s.application, std::optional<std::wstring>(L"C:\\Windows\\system32\\cmd.exe"));
    EXPECT_EQ(s.commandLine, std::optional<std::wstring>(L"/C \"x.bat\""));
    EXPECT_EQ(s.workDir, std::optional<std::wstring>(L""));
    EXPECT_EQ(s.flags, 0x10u);
    EXPECT_FALSE(s.inheritHandles);
    EXPECT_FALSE(s.captureOutput);
    EXPECT_FALSE(s.hideWindow);

    EXPECT_TRUE(RunAndWait(L"", L"", L"C:\\w"));
    s = procs.Starts()[1];
    EXPECT_FALSE(s.application.has_value());
    EXPECT_FALSE(s.commandLine.has_value());
}

TEST_F(RunAndWaitTest, WaitsInSlicesOf100msAndReportsTheExitCode) {
    procs.Queue({0, {}, 0, 2});
    EXPECT_TRUE(RunAndWait(L"C:\\a.exe", L"a", L"C:\\"));
    EXPECT_EQ(procs.Waits(), (std::vector<uint32_t>{100, 100, 100}));
    EXPECT_EQ(env.ProcessMessagesCalls(), 2);
    procs.Queue({0, {}, 3, 0});
    EXPECT_FALSE(RunAndWait(L"C:\\a.exe", L"a", L"C:\\"));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(RunAndWaitTest, StartFailureShowsTheSystemText) {
    os.SetMessage(267, L"The directory name is invalid.");
    procs.Queue({267, {}, 0, 0});
    EXPECT_FALSE(RunAndWait(L"C:\\a.exe", L"a", L"C:\\missing"));
    auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"The directory name is invalid.");
    EXPECT_EQ(shown[0].caption, L"Notice");
    EXPECT_EQ(shown[0].icon, platform::MbIcon::Warning);
}

struct UnzipFixture : RunnerFixture {
    platform::fake::ScopedFakeMachine machine{platform::fake::MachineKind::Wow64Process};
    UnzipFixture() {
        machine.registry.PutString(L"HKLM\\Software\\Quorvan Labs\\Tidewell", L"AppPath", L"C:\\Tidewell\\");
    }
};

TEST_F(UnzipFixture, RunsTheInstallDirectorysToolInTheDestination) {
    procs.Queue({0, {"Archive:  C:/Data/x.zip\r\n  inflating: a/b.txt\r\n"}, 0, 0});
    EXPECT_TRUE(UnzipArchive(L"C:\\Data\\x.zip", L"C:\\Data\\", &status));
    ASSERT_EQ(procs.Starts().size(), 1u);
    platform::ProcessStart s = procs.Starts()[0];
    EXPECT_EQ(s.application, std::optional<std::wstring>(L"C:\\Tidewell\\UNZIP.EXE"));
    EXPECT_EQ(s.commandLine, std::optional<std::wstring>(L"-o -o \"C:\\Data\\x.zip\""));
    EXPECT_EQ(s.workDir, std::optional<std::wstring>(L"C:\\Data\\"));
    EXPECT_EQ(s.flags, 0x08000008u);
    EXPECT_TRUE(s.hideWindow);
    EXPECT_EQ(status.Last(), L"  inflating: a/b.txt");
}

TEST_F(UnzipFixture, FailureOfTheToolIsReportedOnlyAsFalse) {
    procs.Queue({0, {"error\r\n"}, 9, 0});
    EXPECT_FALSE(UnzipArchive(L"C:\\Data\\bad.zip", L"C:\\Data\\", &status));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UnzipFixture, WithoutAStatusLineNothingIsShown) {
    procs.Queue({0, {"line\r\n"}, 0, 0});
    EXPECT_TRUE(UnzipArchive(L"C:\\Data\\x.zip", L"C:\\Data\\", nullptr));
}

}  // namespace
}  // namespace tide
