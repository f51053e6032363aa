// The environment probes: version and family, administrator, the command
// interpreter, real local sockets for the port probe, the server's port and
// address, and the wait for a file's release.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/InstallInfo.h"
#include "base/error.h"
#include "core/manifest.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "system/VariousTests.h"

namespace tide {
namespace {

using platform::ScopedPort;
using Clock = std::chrono::steady_clock;

const wchar_t* const kKey = L"HKLM\\Software\\Quorvan Labs\\Tidewell";

struct ProbeFixture : ::testing::Test {
    platform::fake::FakeOsInfo os;
    platform::fake::FakeEnvironment env;
    platform::fake::RecordingMessageBoxes boxes;
    platform::fake::ScopedFakeMachine machine{platform::fake::MachineKind::Wow64Process};
    ScopedPort<platform::OsInfo> p1{os};
    ScopedPort<platform::Environment> p2{env};
    ScopedPort<platform::MessageBoxes> p3{boxes};

    ProbeFixture() {
        ResetInstallInfoForTest();
        ResetManifestFetchedForTest();
    }
    ~ProbeFixture() override {
        ResetInstallInfoForTest();
        ResetManifestFetchedForTest();
    }
    void SetPort(const std::wstring& port) { machine.registry.PutString(kKey, L"Port", port); }
};

using Probes = ProbeFixture;

TEST_F(Probes, VersionRecordAndFamily) {
    TOSVersionInfo info;
    info.dwMajorVersion = 99;
    GetOSVersion(info);
    EXPECT_EQ(info.dwOSVersionInfoSize, 276u);
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_TRUE(IsWindowsNT());

    os.SetVersion(4, 10, 1);  // Windows 98
    EXPECT_FALSE(IsWindowsNT());

    // A failed call leaves the record zero apart from its size.
    os.SetVersionFails(true);
    info.dwMajorVersion = 99;
    GetOSVersion(info);
    EXPECT_EQ(info.dwOSVersionInfoSize, 276u);
    EXPECT_EQ(info.dwMajorVersion, 0u);
    EXPECT_EQ(info.dwPlatformId, 0u);
    EXPECT_FALSE(IsWindowsNT());
}

TEST_F(Probes, AdministratorOnNtAskTheTokenAndOtherwiseYes) {
    os.SetAdministrator(false);
    EXPECT_FALSE(IsAdministrator());
    os.SetAdministrator(true);
    EXPECT_TRUE(IsAdministrator());
    os.SetAdministrator(false);
    os.SetVersion(4, 90, 1);  // Windows Me: no tokens, everybody may
    EXPECT_TRUE(IsAdministrator());
}

TEST_F(Probes, CommandInterpreterFollowsTheTargetArchitectureUnderWow64) {
    env.SetVariable(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
    env.SetVariable(L"SystemRoot", L"C:\\Windows");
    // An installed x86 server on 64-bit Windows, upgraded as x86.
    machine.registry.PutString(kKey, L"Version", L"5.0");
    machine.registry.PutString(kKey, L"Arch", L"x86");
    EXPECT_EQ(CommandInterpreterPath(), L"C:\\Windows\\SysWOW64\\cmd.exe");

    ResetInstallInfoForTest();
    machine.registry.PutString(kKey, L"Arch", L"x64");
    EXPECT_EQ(CommandInterpreterPath(), L"C:\\Windows\\system32\\cmd.exe");

    // 32-bit Windows: ComSpec whatever the record says.
    ResetInstallInfoForTest();
    machine.Set(platform::fake::MachineKind::Windows32);
    machine.registry.PutString(kKey, L"Arch", L"x86");
    EXPECT_EQ(CommandInterpreterPath(), L"C:\\Windows\\system32\\cmd.exe");

    // No ComSpec at all: empty text, no error.
    env.SetVariable(L"ComSpec", L"");
    EXPECT_EQ(CommandInterpreterPath(), L"");
}

TEST_F(Probes, ServerPortFromTheSettingOr8080) {
    EXPECT_EQ(ServerPort(), 8080);
    SetPort(L"8081");
    EXPECT_EQ(ServerPort(), 8081);
    SetPort(L"80x");
    EXPECT_THROW(ServerPort(), ConvertError);
    EXPECT_THROW(ServerURL(), ConvertError);
}

TEST_F(Probes, ServerUrlFromVistaOnIsLocalhost) {
    EXPECT_EQ(ServerURL(), L"http://localhost:8080/calendar/");
    SetPort(L"80");
    EXPECT_EQ(ServerURL(), L"http://localhost/calendar/");
    SetPort(L"8443");
    os.SetVersion(10, 0);
    EXPECT_EQ(ServerURL(), L"http://localhost:8443/calendar/");
    EXPECT_TRUE(os.ComputerNameBuffers().empty());
}

TEST_F(Probes, ServerUrlBeforeVistaIsTheNetBiosName) {
    os.SetVersion(5, 1);
    os.SetComputerName(L"SERVER1");
    EXPECT_EQ(ServerURL(), L"http://SERVER1:8080/calendar/");
    SetPort(L"80");
    EXPECT_EQ(ServerURL(), L"http://SERVER1/calendar/");
    EXPECT_EQ(os.ComputerNameBuffers(), (std::vector<uint32_t>{16, 16}));
    // The longest NetBIOS name fits the buffer of 16.
    os.SetComputerName(L"ABCDEFGHIJKLMNO");
    EXPECT_EQ(ServerURL(), L"http://ABCDEFGHIJKLMNO/calendar/");
}

// A listening socket on a free port of 127.0.0.1.
struct Listener {
    int fd = -1;
    int port = 0;
    explicit Listener(int backlog = 4) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, backlog);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
};

int FreePort() {
    Listener l;  // bound, then closed again: nothing listens there now
    return l.port;
}

TEST(PortAnswering, AnyListenerAnswersAndAFreePortIsRefusedAtOnce) {
    {
        Listener l;
        EXPECT_TRUE(PortAnswering(l.port));
        EXPECT_TRUE(PortAnswering(l.port));  // again: nothing was left behind
    }
    int port = FreePort();
    auto t0 = Clock::now();
    EXPECT_FALSE(PortAnswering(port));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
    EXPECT_FALSE(PortAnswering(0));
    EXPECT_FALSE(PortAnswering(70000));
}

// The probes run on the window thread: a listener that does not answer (its
// queue is full, so the kernel drops the attempt) holds the probe only for
// its short time-out, well under the second the countdown ticks at.
TEST(PortAnswering, ASilentListenerIsGivenUpWithinAQuarterSecond) {
    Listener l(0);
    ASSERT_TRUE(PortAnswering(l.port));  // never accepted: it fills the queue
    auto t0 = Clock::now();
    EXPECT_FALSE(PortAnswering(l.port));
    auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(150));  // really unanswered, not refused
    EXPECT_LT(took, std::chrono::milliseconds(600));
}

TEST_F(Probes, ServerRunningProbesTheServerPort) {
    Listener l;
    SetPort(std::to_wstring(l.port));
    EXPECT_TRUE(ServerRunning());
    SetPort(std::to_wstring(FreePort()));
    EXPECT_FALSE(ServerRunning());
}

// The waits sleep through the clock port: a fake clock moves on by every
// sleep, so the elapsed times below are the clock's, not the wall's.
struct FileRelease : ::testing::Test {
    platform::fake::FakeClock clock;
    ScopedPort<platform::Clock> clockPort{clock};
    platform::fake::TempFileSystem fs;
    ScopedPort<platform::FileSystem> port{fs};
    uint64_t t0 = clock.TickMs();
    uint64_t Elapsed() { return clock.TickMs() - t0; }
    void Make(const std::wstring& path) {
        fs.MakeDirectory(L"C:\\");
        fs.MakeDirectory(L"C:\\t");
        auto f = fs.Open(path, platform::OpenMode::CreateAlways, platform::Share::None);
        ASSERT_TRUE(f);
        f->Write("x", 1);
    }
};

TEST_F(FileRelease, MissingFileIsFalseWithoutSleeping) {
    EXPECT_FALSE(WaitForFileRelease(L"C:\\t\\none.exe"));
    EXPECT_EQ(Elapsed(), 0u);
}

// Counts the opens that reach the file system.
struct CountingFs : platform::fake::TempFileSystem {
    std::atomic<int> opens{0};
    std::unique_ptr<platform::File> Open(const std::wstring& p, platform::OpenMode m, platform::Share s) override {
        ++opens;
        return TempFileSystem::Open(p, m, s);
    }
};

TEST(FileReleaseFree, FreeFileIsTrueAfterOneSleepAndOneOpen) {
    platform::fake::FakeClock clock;
    ScopedPort<platform::Clock> clockPort{clock};
    CountingFs fs;
    ScopedPort<platform::FileSystem> port{fs};
    fs.MakeDirectory(L"C:\\");
    fs.MakeDirectory(L"C:\\t");
    fs.Open(L"C:\\t\\a.exe", platform::OpenMode::CreateAlways, platform::Share::None).reset();
    fs.opens = 0;
    uint64_t t0 = clock.TickMs();
    EXPECT_TRUE(WaitForFileRelease(L"C:\\t\\a.exe"));
    EXPECT_EQ(clock.TickMs() - t0, 250u);
    EXPECT_EQ(fs.opens.load(), 1);
}

// Lets go of the held file once the clock has reached releaseAt.
struct ReleasingClock : platform::fake::FakeClock {
    std::unique_ptr<platform::File> held;
    int64_t releaseAt = 0;
    void SleepMs(uint32_t ms) override {
        FakeClock::SleepMs(ms);
        if (NowMs() >= releaseAt) held.reset();
    }
};

TEST_F(FileRelease, WaitsUntilTheHolderLetsGo) {
    Make(L"C:\\t\\a.exe");
    ReleasingClock releasing;
    ScopedPort<platform::Clock> releasingPort{releasing};
    releasing.held = fs.Open(L"C:\\t\\a.exe", platform::OpenMode::ReadExisting, platform::Share::Read);
    ASSERT_TRUE(releasing.held);
    int64_t start = releasing.NowMs();
    releasing.releaseAt = start + 700;
    EXPECT_TRUE(WaitForFileRelease(L"C:\\t\\a.exe"));
    EXPECT_EQ(releasing.NowMs() - start, 750);  // the third sleep
}

TEST_F(FileRelease, TheBoundEndsTheWait) {
    Make(L"C:\\t\\a.exe");
    auto held = fs.Open(L"C:\\t\\a.exe", platform::OpenMode::ReadExisting, platform::Share::Read);
    ASSERT_TRUE(held);
    EXPECT_FALSE(WaitForFileRelease(L"C:\\t\\a.exe", 600));
    EXPECT_GE(Elapsed(), 600u);
    EXPECT_LT(Elapsed(), 1200u);
    held.reset();
}

// A file that exists at the first look and is gone at the first open
// (deleted by whoever held it).
struct VanishingFile : platform::fake::TempFileSystem {
    int looks = 0;
    bool FileExists(const std::wstring&) override { return ++looks == 1; }
    std::unique_ptr<platform::File> Open(const std::wstring&, platform::OpenMode, platform::Share) override {
        return nullptr;
    }
    uint32_t LastError() override { return 2; }  // ERROR_FILE_NOT_FOUND
};

// An existing file whose every open fails with the given error.
struct RefusingFs : platform::fake::TempFileSystem {
    uint32_t error = 0;
    int opens = 0;
    bool FileExists(const std::wstring&) override { return true; }
    std::unique_ptr<platform::File> Open(const std::wstring&, platform::OpenMode, platform::Share) override {
        ++opens;
        return nullptr;
    }
    uint32_t LastError() override { return error; }
};

TEST(FileReleaseRefused, OnlyAnotherHoldersSharingOrLockKeepsItWaiting) {
    const struct {
        uint32_t error;
        int opens;  // within a bound of 1000 ms
    } cases[] = {{32, 4}, {33, 4}, {5, 1}, {2, 1}};  // sharing, lock, access denied (read-only), not found
    for (const auto& c : cases) {
        platform::fake::FakeClock clock;
        ScopedPort<platform::Clock> clockPort{clock};
        RefusingFs fs;
        ScopedPort<platform::FileSystem> port{fs};
        fs.error = c.error;
        EXPECT_FALSE(WaitForFileRelease(L"C:\\t\\a.exe", 1000));
        EXPECT_EQ(fs.opens, c.opens) << "error " << c.error;
    }
}

TEST(FileReleaseGone, ADeletedFileEndsAnUnboundedWait) {
    platform::fake::FakeClock clock;
    ScopedPort<platform::Clock> clockPort{clock};
    VanishingFile fs;
    ScopedPort<platform::FileSystem> port{fs};
    uint64_t t0 = clock.TickMs();
    EXPECT_FALSE(WaitForFileRelease(L"C:\\t\\b.exe"));
    EXPECT_LT(clock.TickMs() - t0, 600u);
    EXPECT_EQ(fs.looks, 1);  // the failed open tells, no second look needed
}

}  // namespace
}  // namespace tide
