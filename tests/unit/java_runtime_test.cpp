// The Java runtime checks against the fake registry (a 32-bit process on
// 64-bit Windows, so the two views are apart) and a served manifest; the
// runtime installer's start through the recording shell.
#include <gtest/gtest.h>

#include <array>

#include "core/InstallInfo.h"
#include "install/java_runtime.h"
#include "platform/fake/fake_shell_execute.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/downloader.ini";
// Physical paths: the 64-bit view, and the 32-bit view this process sees
// by default.
const std::wstring kJava64 = L"HKLM\\Software\\JavaSoft\\Java Runtime Environment";
const std::wstring kJava32 = L"HKLM\\Software\\WOW6432Node\\JavaSoft\\Java Runtime Environment";
const std::wstring kIbm32 = L"HKLM\\Software\\WOW6432Node\\IBM\\Java2 Runtime Environment";
const std::wstring kIbm64 = L"HKLM\\Software\\IBM\\Java2 Runtime Environment";

struct JavaRuntimeTest : ::testing::Test {
    FakeMachine m;
    platform::fake::RecordingShellExecutor shell;
    platform::ScopedPort<platform::ShellExecutor> shellPort{shell};

    void SetUp() override {
        ResetInstallInfoForTest();
        SaveInstallDirectory(L"C:\\Cal");
        m.MakeDirs(L"C:\\Cal");
        Manifest("[GENERAL]\r\nMIN_JRE_VERSION=1.6\r\n");
        m.Args({L"/i", kUrl});
    }
    void TearDown() override { ResetInstallInfoForTest(); }
    // A new run with this manifest on the server.
    void Manifest(const std::string& text) {
        ResetManifestFetchedForTest();
        m.ServeManifest(kUrl, text);
    }
    void Runtime(const std::wstring& key, const std::wstring& version, const std::wstring& home = L"") {
        Put(m.machine.registry, key, version, home);
    }
    static void Put(platform::fake::FakeRegistry& reg, const std::wstring& key, const std::wstring& version,
                    const std::wstring& home) {
        reg.PutString(key, L"CurrentVersion", version);
        if (!home.empty()) reg.PutString(key + L"\\" + version, L"JavaHome", home);
    }
};

TEST(JreVersionRule, ComparesAsTextUnitByUnit) {
    struct Row { const wchar_t* current; const wchar_t* minimum; bool suitable; };
    const Row rows[] = {
        {L"1.6", L"1.6", true},        // equal
        {L"1.6.0_45", L"1.6", true},   // the minimum is a proper prefix
        {L"1.10", L"1.6", false},      // '1' sorts before '6'
        {L"1.7", L"1.6", true},
        {L"1.5.0_99", L"1.6", false},
        {L"1.6", L"1.6.0", false},     // a proper prefix is the smaller
        {L"", L"", false},             // an empty version never qualifies
        {L"", L"1.6", false},
        {L"0", L"", true},             // no minimum: any version
    };
    for (const Row& r : rows)
        EXPECT_EQ(JreVersionAtLeast(r.current, r.minimum), r.suitable) << r.current << " vs " << r.minimum;
}

TEST_F(JavaRuntimeTest, MinimumComesFromTheManifestAndAbsentAcceptsAnyVersion) {
    Runtime(kJava32, L"1.10");
    EXPECT_EQ(JreCheck(false), kJreNotFound);
    Manifest("[GENERAL]\r\n");
    EXPECT_EQ(JreCheck(false), kJreJavaSoft);
    Runtime(kJava32, L"");
    EXPECT_EQ(JreCheck(false), kJreNotFound);
}

TEST_F(JavaRuntimeTest, ChecksAndHomeByViewAndVendor) {
    struct Row {
        const char* name;
        std::vector<std::array<std::wstring, 3>> runtimes;  // key, CurrentVersion, JavaHome
        int check32, check64;
        std::wstring home32, home64;
    };
    const Row rows[] = {
        {"nothing registered", {}, kJreNotFound, kJreNotFound, L"", L""},
        {"64-bit runtime only", {{kJava64, L"1.7", L"C:\\J64"}}, kJreNotFound, kJreJavaSoft, L"", L"C:\\J64"},
        {"32-bit runtime only", {{kJava32, L"1.6", L"C:\\J32"}}, kJreJavaSoft, kJreNotFound, L"C:\\J32", L""},
        {"JavaSoft too old, IBM suitable",
         {{kJava32, L"1.5", L"C:\\Old"}, {kJava64, L"1.5", L"C:\\Old"}, {kIbm32, L"1.6", L"C:\\IBM\\"}},
         kJreIbm, kJreIbm, L"C:\\IBM\\", L"C:\\IBM\\"},
        {"JavaSoft suitable without JavaHome", {{kJava32, L"1.6", L""}}, kJreJavaSoft, kJreNotFound, L"", L""},
        {"JavaSoft without JavaHome, IBM with one",
         {{kJava32, L"1.6", L""}, {kIbm32, L"1.6", L"C:\\IBM"}}, kJreJavaSoft, kJreIbm, L"C:\\IBM", L"C:\\IBM"},
        {"IBM only in the 64-bit view", {{kIbm64, L"1.6", L"C:\\IBM64"}}, kJreNotFound, kJreNotFound, L"", L""},
        {"JavaSoft takes precedence",
         {{kJava32, L"1.6", L"C:\\J"}, {kIbm32, L"1.6", L"C:\\IBM"}}, kJreJavaSoft, kJreIbm, L"C:\\J", L"C:\\IBM"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        platform::fake::ScopedFakeMachine fresh;
        SaveInstallDirectory(L"C:\\Cal");
        for (const auto& rt : r.runtimes) Put(fresh.registry, rt[0], rt[1], rt[2]);
        EXPECT_EQ(JreCheck(false), r.check32);
        EXPECT_EQ(JreCheck(true), r.check64);
        EXPECT_EQ(FindJavaHome(false), r.home32);
        EXPECT_EQ(FindJavaHome(true), r.home64);
    }
}

TEST_F(JavaRuntimeTest, HomeIsReadInTheViewOfTheDestination) {
    Runtime(kJava64, L"1.7", L"C:\\J64");
    Runtime(kJava32, L"1.7", L"C:\\J32");
    ASSERT_EQ(GetInstallInfo().DestinationArchitechture(), x64);  // a first installation on 64-bit Windows
    EXPECT_EQ(FindJavaHome(), L"C:\\J64");
    ResetInstallInfoForTest();
    WriteSetting(L"Version", L"3.4.15");  // upgrade of an x86 installation
    WriteSetting(L"Arch", L"x86");
    ASSERT_EQ(GetInstallInfo().DestinationArchitechture(), x86);
    EXPECT_EQ(FindJavaHome(), L"C:\\J32");
}

TEST_F(JavaRuntimeTest, AVersionThatIsNotAStringIsAnError) {
    HKEY key = nullptr;
    ASSERT_EQ(platform::Reg().CreateKey(HKEY_LOCAL_MACHINE, L"Software\\JavaSoft\\Java Runtime Environment",
                                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key), 0);
    uint32_t one = 1;
    platform::Reg().SetValue(key, L"CurrentVersion", REG_DWORD, &one, 4);
    platform::Reg().CloseKey(key);
    EXPECT_THROW(JavaSoftJreCheck(true), Error);
    EXPECT_THROW(FindJavaHome(true), Error);
    EXPECT_EQ(JavaSoftJreCheck(false), kJreNotFound) << "the other view has no key";
}

TEST_F(JavaRuntimeTest, InstallerStartsThroughTheShellWithoutWaitingOrSaysItCouldNot) {
    struct Row { std::string section; std::wstring component, file, args; intptr_t shellResult; };
    const Row rows[] = {
        {"[JRE]\r\nFILE_NAME=jre-setup.exe\r\nINSTALL_ARGS=/s REBOOT=0\r\n", L"JRE", L"jre-setup.exe",
         L"/s REBOOT=0", 42},
        // Empty arguments, and a start that fails.
        {"[JREx64]\r\nFILE_NAME=jre-x64.exe\r\n", L"JREx64", L"jre-x64.exe", L"", 2},
    };
    for (const Row& r : rows) {
        Manifest(r.section);
        shell.SetResult(r.shellResult);
        platform::RecordingStatusLine sb;
        size_t before = shell.Calls().size();
        const bool started = r.shellResult > 32;
        EXPECT_EQ(InstallJre(&sb, r.component), started);
        auto boxes = m.boxes.Take();
        ASSERT_EQ(boxes.size(), started ? 0u : 1u);
        if (!started) {
            EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
            EXPECT_NE(boxes[0].text.find(L"C:\\Cal\\" + r.file + L" could not be started (error 2)"),
                      std::wstring::npos) << WideToUtf8(boxes[0].text);
        }
        ASSERT_EQ(shell.Calls().size(), before + 1);
        const platform::fake::ShellCall c = shell.Calls().back();
        EXPECT_EQ(c.verb, L"open");
        EXPECT_EQ(c.file, L"C:\\Cal\\" + r.file);
        EXPECT_EQ(c.parameters, r.args);
        EXPECT_FALSE(c.directory.has_value());
        EXPECT_EQ(c.show, platform::kSwShowNormal);
        EXPECT_EQ(sb.Texts(), std::vector<std::wstring>{L"Installing Java ..."});
    }
}

}  // namespace
