// The waits that run on the window thread keep the window answering: the
// longest stretch in which the thread neither handled its messages nor
// could (a bare sleep, one slice of a wait on a program) stays short, and
// the wait's time is spent handling messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "core/settings.h"
#include "fake_install_window.h"
#include "install/install_orchestration.h"
#include "system/CommandRunner.h"
#include "system/ServiceManager.h"
#include "system/VariousTests.h"
#include "system/server_service.h"
#include "system_fixture.h"
#include "platform/fake/fake_shell_files.h"
#include "uninstall/Uninstall.h"

namespace tide {
namespace {

using testing::SystemFixture;

// Sleeps on the clock port that did not happen inside a message wait are
// stretches the window could not answer.
struct StallClock : platform::fake::FakeClock {
    bool inMessageWait = false;
    uint32_t longestBareSleep = 0;
    void SleepMs(uint32_t ms) override {
        if (!inMessageWait) longestBareSleep = std::max(longestBareSleep, ms);
        FakeClock::SleepMs(ms);
    }
};

struct StallEnv : platform::fake::FakeEnvironment {
    StallClock* clock = nullptr;
    void ProcessMessagesFor(uint32_t ms) override {
        clock->inMessageWait = true;
        FakeEnvironment::ProcessMessagesFor(ms);
        clock->inMessageWait = false;
    }
};

// A tree whose deletion lasts until the window has handled 100 ms of
// messages (5 s at most: on the window thread itself none would be).
struct SlowShellFiles : platform::fake::FakeShellFiles {
    platform::fake::FakeEnvironment* env = nullptr;
    int DeleteTree(const std::wstring& path, uint32_t flags) override {
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (env->MessageWaitMs() < 100 && std::chrono::steady_clock::now() < bound)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return FakeShellFiles::DeleteTree(path, flags);
    }
};

// One machine per row (a fixture run by hand).
struct WindowWaits : SystemFixture {
    StallClock stallClock;
    StallEnv env;
    platform::ScopedPort<platform::Clock> clockPort{stallClock};
    platform::ScopedPort<platform::Environment> envPort{env};
    testing::Journal journal;
    testing::FakeInstallWindow w{journal};
    WindowWaits() {
        env.clock = &stallClock;
        // As the fixture's own environment: read the local manifest, never fetch.
        env.SetArguments({L"C:\\Downloads\\Tidestart.exe", L"/UNINSTALL"});
        env.SetVariable(L"ComSpec", kComSpec);
        m.WriteFile(std::wstring(kApp) + L"downloader.ini",
                    "[TW]\r\nFILE_VERSION=4.2.1\r\n[TOMCAT]\r\nUNPACK_PATH=apache-tomcat\r\n"
                    "[JREx64]\r\nFILE_NAME=jre-setup.exe\r\n");
    }

    void TestBody() override {}

    uint32_t LongestStall() {
        uint32_t longest = stallClock.longestBareSleep;
        for (uint32_t slice : procs.Waits()) longest = std::max(longest, slice);
        return longest;
    }
};

// What one step of a run waits for, each made to take long.
TEST(WindowWaits, EveryWaitHandlesMessagesThroughout) {
    struct Row {
        const char* wait;
        std::function<void(WindowWaits&)> run;
    };
    const Row rows[] = {
        {"a service that does not stop (upgrade, uninstall)",
         [](WindowWaits& t) {
             WriteSetting(L"ServiceInstalled", L"Y");
             t.net.answers = true;
             t.scm.QueueStates(L"Tidewell", std::vector<uint32_t>(1000, kServiceStopPending));
             EXPECT_FALSE(SetServerRunning(false));
         }},
        {"a service program still held after the stop (uninstall)",
         [](WindowWaits& t) {
             t.m.WriteFile(L"C:\\Apps\\Tidewell\\tomcat7.exe", "x");
             auto held = t.m.fs.Open(L"C:\\Apps\\Tidewell\\tomcat7.exe", platform::OpenMode::ReadExisting,
                                     platform::Share::Read);
             EXPECT_FALSE(WaitForFileRelease(L"C:\\Apps\\Tidewell\\tomcat7.exe", 60000));
         }},
        {"a Java runtime installer that never registers one (install)",
         [](WindowWaits& t) { EXPECT_FALSE(WaitForJavaInstall(t.w, L"JREx64")); }},
        {"a script run in its own console (server without service, migration)",
         [](WindowWaits& t) {
             t.procs.Queue({0, {}, 0, 50});
             EXPECT_TRUE(RunAndWait(L"C:\\Windows\\system32\\cmd.exe", L"/C x.bat", L""));
         }},
        {"a folder tree being deleted (uninstall)",
         [](WindowWaits& t) {
             SlowShellFiles shell;
             shell.env = &t.env;
             platform::ScopedPort<platform::ShellFiles> port{shell};
             RemoveDirectoryTree(L"C:\\Apps\\Tidewell\\tidewell-4.2.1\\", true);
             EXPECT_GE(t.env.MessageWaitMs(), 100u);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.wait);
        WindowWaits t;
        const uint64_t t0 = t.stallClock.TickMs();
        row.run(t);
        const uint64_t took = t.stallClock.TickMs() - t0;
        EXPECT_LE(t.LongestStall(), 100u);
        // Whatever time the wait took on the clock, it took handling messages.
        EXPECT_EQ(t.env.MessageWaitMs(), took);
        EXPECT_GT(t.env.MessageWaitMs() + t.env.ProcessMessagesCalls(), 0u);
    }
}

}  // namespace
}  // namespace tide
