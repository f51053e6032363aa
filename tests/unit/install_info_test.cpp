#include <gtest/gtest.h>

#include "core/InstallInfo.h"
#include "base/error.h"
#include "core/settings.h"
#include "release_fixture.h"

using namespace tide;
using platform::fake::MachineKind;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/downloader.ini";

struct InstallInfoTest : ::testing::Test {
    FakeMachine m;
    void SetUp() override {
        ResetInstallInfoForTest();
        SaveInstallDirectory(L"C:\\Apps\\Tidewell");
        m.MakeDirs(L"C:\\Apps\\Tidewell");
        m.ServeManifest(kUrl, "[TW]\r\nFILE_VERSION=3.4.16\r\n");
        m.Args({L"/i", kUrl});
    }
    void TearDown() override { ResetInstallInfoForTest(); }
};

TEST_F(InstallInfoTest, FirstInstallationFollowsTheOperatingSystem) {
    const TInstallInfo& i = GetInstallInfo();
    EXPECT_EQ(i.CurrentArchitechture(), none);
    EXPECT_EQ(i.DestinationArchitechture(), x64);
    EXPECT_FALSE(i.isUpgrade());
    EXPECT_EQ(i.DestinationArchString(), L"x64");
    EXPECT_EQ(i.DestinationVersion(), L"3.4.16");
    EXPECT_EQ(i.CurrentVersion(), L"");
    EXPECT_EQ(i.installationPath(), L"");
    EXPECT_EQ(i.CurrentPort(), 8080);
    EXPECT_EQ(m.CountFor(kUrl), 1) << "building the record fetched the manifest";

    ResetInstallInfoForTest();
    m.machine.Set(MachineKind::Windows32);
    EXPECT_EQ(GetInstallInfo().DestinationArchitechture(), x86);
    EXPECT_EQ(GetInstallInfo().DestinationArchString(), L"x86");
}

TEST_F(InstallInfoTest, UpgradeKeepsTheInstalledArchitecture) {
    WriteSetting(L"Version", L"3.4.15");
    WriteSetting(L"AppPath", L"D:\\Old\\");
    m.MakeDirs(L"D:\\Old");
    WriteSetting(L"Port", L"9090");
    {
        const TInstallInfo& i = GetInstallInfo();  // 64-bit Windows, no Arch value: an old x86 installation
        EXPECT_EQ(i.CurrentArchitechture(), x86);
        EXPECT_EQ(i.DestinationArchitechture(), x86);
        EXPECT_TRUE(i.isUpgrade());
        EXPECT_EQ(i.CurrentVersion(), L"3.4.15");
        EXPECT_EQ(i.installationPath(), L"D:\\Old\\");
        EXPECT_EQ(i.CurrentPort(), 9090);
    }
    ResetInstallInfoForTest();
    m.machine.Set(MachineKind::Windows32);
    WriteSetting(L"Arch", L"x64");
    WriteSetting(L"Port", L"");
    EXPECT_EQ(GetInstallInfo().CurrentArchitechture(), x64);
    EXPECT_EQ(GetInstallInfo().DestinationArchitechture(), x64);
    EXPECT_EQ(GetInstallInfo().CurrentPort(), 8080);

    ResetInstallInfoForTest();
    WriteSetting(L"Arch", L"x86");
    EXPECT_EQ(GetInstallInfo().DestinationArchitechture(), x86);
}

TEST_F(InstallInfoTest, SettingsAreReadFromTheNativeView) {
    // Only in the 32-bit (redirected) view: not this product's store.
    m.machine.registry.PutString(L"HKLM\\Software\\WOW6432Node\\Quorvan Labs\\Tidewell", L"Version", L"1.0");
    EXPECT_FALSE(GetInstallInfo().isUpgrade());
    ResetInstallInfoForTest();
    m.machine.registry.PutString(L"HKLM\\Software\\Quorvan Labs\\Tidewell", L"Version", L"2.0");
    EXPECT_TRUE(GetInstallInfo().isUpgrade());
    EXPECT_EQ(GetInstallInfo().CurrentVersion(), L"2.0");
}

TEST_F(InstallInfoTest, BuiltOnceAndUnchangedByLaterSettings) {
    TInstallInfo& first = GetInstallInfo();
    WriteSetting(L"Version", L"3.4.16");
    WriteSetting(L"Arch", L"x64");
    TInstallInfo& again = GetInstallInfo();
    EXPECT_EQ(&first, &again);
    EXPECT_FALSE(again.isUpgrade());
    EXPECT_EQ(again.CurrentVersion(), L"");
}

TEST_F(InstallInfoTest, MalformedPortRaisesAndAMissingVersionIsEmpty) {
    WriteSetting(L"Version", L"3.4.15");
    WriteSetting(L"Port", L"80a");
    EXPECT_THROW(GetInstallInfo(), ConvertError);
    WriteSetting(L"Port", L"8081");
    EXPECT_EQ(GetInstallInfo().CurrentPort(), 8081) << "a failed build is retried";

    ResetInstallInfoForTest();
    m.WriteFile(L"C:\\Apps\\Tidewell\\downloader.ini", "[GENERAL]\r\n");
    m.Args({L"/UNINSTALL"});
    ResetManifestFetchedForTest();
    EXPECT_EQ(GetInstallInfo().DestinationVersion(), L"");
}

TEST(InstallArch, TextForms) {
    EXPECT_EQ(ArchString(none), L"unknown");
    EXPECT_EQ(ArchString(x86), L"x86");
    EXPECT_EQ(ArchString(x64), L"x64");
    EXPECT_LT(none, x86);
    EXPECT_LT(x86, x64);
}

}  // namespace
