#include <gtest/gtest.h>

#include "core/manifest.h"
#include "core/servers.h"
#include "core/settings.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/rel/downloader.ini";
const wchar_t kDir[] = L"C:\\Apps\\Tidewell\\";
const wchar_t kLocal[] = L"C:\\Apps\\Tidewell\\downloader.ini";
const std::string kServed = "[TW]\r\nFILE_VERSION=3.4.16\r\nFILE_SIZE=  1234 \r\n[GENERAL]\r\nBINARY_BASE=http://x/\r\n";
const std::string kOld = "[TW]\r\nFILE_VERSION=3.4.15\r\n";

struct ManifestTest : ::testing::Test {
    FakeMachine m;
    void SetUp() override {
        SaveInstallDirectory(kDir);
        m.MakeDirs(L"C:\\Apps\\Tidewell");
        m.ServeManifest(kUrl, kServed);
    }
};

TEST_F(ManifestTest, FirstLookupOfARunFetchesAgainOverAnExistingCopyThenReadsTheCopy) {
    m.WriteFile(kLocal, kOld);
    m.Args({L"/i", kUrl});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(m.ReadFile(kLocal), kServed);
    EXPECT_EQ(ManifestValue(L"tw", L"file_version"), L"3.4.16");
    EXPECT_EQ(ManifestValue(L"GENERAL", L"BINARY_BASE"), L"http://x/");
    ASSERT_EQ(m.http.Requests().size(), 2u) << "the manifest and its signature";
    const auto r = m.http.Requests()[0];
    EXPECT_EQ(r.url, kUrl);
    EXPECT_EQ(r.headers, L"") << "the manifest is fetched whole, never resumed";
    EXPECT_EQ(r.agent.rfind(L"Tidewell Downloader V ", 0), 0u) << r.agent;
    EXPECT_TRUE(ManifestFetchedThisRun());
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST_F(ManifestTest, UninstallRunsReadTheExistingCopyWithoutFetching) {
    m.WriteFile(kLocal, kOld);
    for (const wchar_t* arg : {L"/UNINSTALL", L"/DOUNINSTALL", L"xUNINSTALLx"}) {
        ResetManifestFetchedForTest();
        m.Args({arg, L"/i", kUrl});
        EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.15") << arg;
    }
    EXPECT_TRUE(m.http.Requests().empty());
    // The search is case-sensitive: a lower-case "/uninstall" fetches.
    ResetManifestFetchedForTest();
    m.Args({L"/uninstall", L"/i", kUrl});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(m.CountFor(kUrl), 1);
}

TEST_F(ManifestTest, MissingOrEmptyLocalCopyIsFetchedAtEveryLookup) {
    m.Args({L"/UNINSTALL", L"/i", kUrl});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");  // missing: fetched even when uninstalling
    EXPECT_EQ(m.CountFor(kUrl), 1);
    m.WriteFile(kLocal, "");
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(m.CountFor(kUrl), 2);
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(m.CountFor(kUrl), 2);
}

TEST_F(ManifestTest, WithoutInstallDirectoryTheCopyLivesInTheCurrentDirectory) {
    platform::fake::FakeRegistry emptyRegistry;
    platform::ScopedPort<platform::Registry> reg(emptyRegistry);
    ASSERT_EQ(InstallDirectory(), L"");
    EXPECT_EQ(ManifestLocalPath(), L"downloader.ini");
    m.Args({L"/i", kUrl});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(m.ReadFile(L"downloader.ini"), kServed);
}

TEST_F(ManifestTest, FailedFetchShowsTheAdviceOncePerLookupAndAsksToQuit) {
    m.http.ServeStatus(kUrl, 404, "<html>not found</html>");
    m.Args({L"/i", kUrl});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"");
    EXPECT_EQ(m.BoxesCaptioned(kDownloadErrorCaption), 1);
    EXPECT_TRUE(m.env.QuitRequested());
    // No usable copy: the next lookup of the same run tries (and fails) again.
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_SIZE"), L"");
    EXPECT_EQ(m.BoxesCaptioned(kDownloadErrorCaption), 2);
    for (const auto& b : m.boxes.Shown()) {
        if (b.caption != kDownloadErrorCaption) continue;
        EXPECT_EQ(b.text, DownloadFailureAdvice());
        EXPECT_EQ(b.icon, platform::MbIcon::Warning);
        EXPECT_EQ(b.buttons, platform::MbButtons::Ok);
    }
    // Once the server answers, the copy is usable and the boxes stop.
    m.ServeManifest(kUrl, kServed);
    m.boxes.Clear();
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST(ManifestAdvice, ExactTextWithTheDiscImageAddress) {
    const std::wstring expected =
        L"An error happened downloading a file.\n\nUsually this is caused by a firewall or mandatory proxy on "
        L"corporate \nnetworks. This prevents the downloader from working. Contact your firewall/proxy "
        L"\nadministrator. You can also download a CDROM image of Tidewell to\ninstall.\n\nDownload the "
        L"file:\n\n" +
        DiscImageUrl() +
        L"\n\nand burn it to a CDROM using the software's \"Burn Image\" function.\n\nOnce you have created the "
        L"CD, insert it into the computer and choose CDROM install.";
    EXPECT_EQ(DownloadFailureAdvice(), expected);
    EXPECT_EQ(std::wstring(kDownloadErrorCaption), L"Error Downloading Software");
}

TEST(ManifestLocation, FirstSlashIOrTestiniWinsAndAMissingValueMeansTheDefault) {
    using V = std::vector<std::wstring>;
    EXPECT_EQ(ManifestLocationArgument(V{L"prog", L"/I", L"a", L"/i", L"b"}), L"a");
    EXPECT_EQ(ManifestLocationArgument(V{L"prog", L"/x", L"/i", L"b", L"/I", L"a"}), L"b");
    EXPECT_EQ(ManifestLocationArgument(V{L"prog", L"/TestIni", L"C:\\m.ini", L"C:\\f"}), L"C:\\m.ini");
    EXPECT_EQ(ManifestLocationArgument(V{L"/i", L"x"}), L"") << "argument 0 is the program";
    EXPECT_EQ(ManifestLocationArgument(V{L"prog", L"/i"}), L"");
    EXPECT_EQ(ManifestLocationArgument(V{L"prog", L"-i", L"x"}), L"");
    EXPECT_EQ(ManifestLocation(V{L"prog", L"/i"}), DefaultManifestUrl());
    EXPECT_EQ(ManifestLocation(V{L"prog"}), DefaultManifestUrl());
    EXPECT_EQ(ManifestLocation(V{L"prog", L"/i", L"file:///x"}), L"file:///x");
}

TEST_F(ManifestTest, DefaultLocationIsUsedWhenNoneIsGiven) {
    m.Args({L"/i"});
    ManifestValue(L"TW", L"FILE_VERSION");
    ASSERT_FALSE(m.http.Requests().empty());
    for (const auto& r : m.http.Requests()) EXPECT_EQ(r.url, DefaultManifestUrl());
}

TEST_F(ManifestTest, ComponentFileSizeIsDecimalOrRefusedWithSectionAndValue) {
    m.WriteFile(kLocal,
                "[A]\r\nFILE_SIZE=1234\r\n[B]\r\nFILE_SIZE=\r\n[C]\r\nFILE_NAME=x\r\n"
                "[D]\r\nFILE_SIZE=12a\r\n[E]\r\nFILE_SIZE=-5\r\n[F]\r\nFILE_SIZE=2147483648\r\n"
                "[G]\r\nFILE_SIZE=0x10\r\n[H]\r\nFILE_SIZE=2147483647\r\n[I]\r\nFILE_SIZE=1 2\r\n");
    m.Args({L"/UNINSTALL"});
    EXPECT_EQ(ComponentFileSize(L"A"), 1234);
    EXPECT_EQ(ComponentFileSize(L"B"), 0);
    EXPECT_EQ(ComponentFileSize(L"C"), 0);
    EXPECT_EQ(ComponentFileSize(L"Z"), 0);
    EXPECT_EQ(ComponentFileSize(L"H"), 2147483647);
    for (auto [section, value] : {std::pair{L"D", L"12a"}, {L"E", L"-5"}, {L"F", L"2147483648"}, {L"G", L"0x10"},
                                  {L"I", L"1 2"}}) {
        try {
            ComponentFileSize(section);
            ADD_FAILURE() << "accepted FILE_SIZE " << WideToUtf8(value);
        } catch (const ManifestError& e) {
            EXPECT_NE(e.Message().find(std::wstring(L"[") + section + L"]"), std::wstring::npos)
                << WideToUtf8(e.Message());
            EXPECT_NE(e.Message().find(std::wstring(L"\"") + value + L"\""), std::wstring::npos)
                << WideToUtf8(e.Message());
        }
    }
    EXPECT_EQ(ComponentFileName(L"C"), L"x");
}

TEST(Servers, PathsOnEachServer) {
    EXPECT_EQ(DefaultManifestUrl(), DownloadServerBase() + L"/loader/downloader.ini");
    EXPECT_EQ(DownloadServerBase().rfind(L"http://", 0), 0u) << "the manifest is fetched over plain HTTP";
    EXPECT_EQ(LicenseUrl(), WebSiteBase() + L"/loader/LICENSE.html");
    EXPECT_EQ(HostedServiceUrl(), WebSiteBase() + L"/trial/TrialSignup.html?from=installer");
    EXPECT_EQ(ExitSurveyUrl(), TrialServerBase() + L"/ExitSurvey.html?online=no");
    EXPECT_EQ(DiscImageUrl(), WebSiteBase() + L"/bin/tidewell.iso");
    EXPECT_EQ(ComponentUrl(L"http://h/bin/", L"tw.zip"), L"http://h/bin/tw.zip");
    EXPECT_EQ(ComponentUrl(L"http://h/bin", L"tw.zip"), L"http://h/bintw.zip") << "no separator is inserted";
    for (const auto& base : {DownloadServerBase(), WebSiteBase(), TrialServerBase()}) {
        EXPECT_NE(base.back(), L'/');
        EXPECT_EQ(base.find(L"/", base.find(L"://") + 3), std::wstring::npos) << WideToUtf8(base);
    }
}

}  // namespace

// What was accepted answers the whole run: a copy changed on disk after the
// fetch (by anyone who may write in the install directory) is never read.
TEST_F(ManifestTest, TheLocalCopyChangedAfterTheCheckIsNotUsed) {
    const std::string evil = "[TW]\r\nFILE_VERSION=6.6.6\r\n[GENERAL]\r\nBINARY_BASE=http://evil/\r\n";
    m.Args({L"/i", kUrl});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    m.WriteFile(kLocal, evil);
    EXPECT_EQ(ManifestValue(L"GENERAL", L"BINARY_BASE"), L"http://x/");
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    EXPECT_EQ(m.CountFor(kUrl), 1);
    // A run that reads the copy already there reads it once.
    ResetManifestFetchedForTest();
    m.WriteFile(kLocal, kOld);
    m.Args({L"/UNINSTALL"});
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.15");
    m.WriteFile(kLocal, evil);
    EXPECT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.15");
    EXPECT_EQ(m.CountFor(kUrl), 1);
}
