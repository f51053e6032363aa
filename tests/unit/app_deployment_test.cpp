// The application's install step against the fakes: the unpacking, the
// configuration by where it is taken from, the context file byte for byte,
// and the settings that are written only once everything else has run.
#include <gtest/gtest.h>

#include "core/InstallInfo.h"
#include "install/app_deployment.h"
#include "platform/fake/fake_system.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/downloader.ini";
const wchar_t kNew[] = L"C:\\Cal\\tidewell-3.4.1\\";
const wchar_t kLocalhost[] = L"C:\\Cal\\TCBase\\conf\\Catalina\\localhost\\";
const char kDefault[] = "DBObjectClass=x.MySQLDB\nURLBase=\n";
const char kAttachmentLines[] = "EnableAttachments=yes\r\nAttachmentDirectory=C\\:\\\\Cal\\\\UploadedAttachments\r\n";

struct DeploymentTest : ::testing::Test {
    FakeMachine m;
    platform::fake::FakeProcesses procs;
    platform::ScopedPort<platform::Processes> procPort{procs};
    platform::RecordingStatusLine sb;

    void SetUp() override {
        ResetInstallInfoForTest();
        SaveInstallDirectory(L"C:\\Cal");
        m.env.SetVariable(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
        m.ServeManifest(kUrl, "[TOMCAT]\r\nUNPACK_PATH=apache-tomcat\r\n"
                           "[TW]\r\nFILE_NAME=tidewell-3.4.1.zip\r\nFILE_VERSION=3.4.1\r\n");
        m.Args({L"/i", kUrl});
        m.MakeDirs(kLocalhost);
    }
    void TearDown() override { ResetInstallInfoForTest(); }
    std::wstring New(const std::wstring& rel) { return kNew + rel; }
    // What the archive leaves behind (the fake unzip unpacks nothing).
    void Unpacked() {
        m.MakeDirs(New(L"WEB-INF\\sql"));
        m.WriteFile(New(L"WEB-INF\\configuration.default"), kDefault);
        m.WriteFile(New(L"WEB-INF\\sql\\winupdate.bat"), "rem upgrade\r\n");
    }
};

TEST_F(DeploymentTest, FirstInstallation) {
    Unpacked();
    m.WriteFile(std::wstring(kLocalhost) + L"tidewell.xml", "<Context docBase=\"old\"/>\r\n");
    ASSERT_TRUE(InstallApplication(&sb));

    ASSERT_EQ(procs.Starts().size(), 1u);  // the unzip tool, no migration
    EXPECT_EQ(procs.Starts()[0].application, L"C:\\Cal\\UNZIP.EXE");
    EXPECT_EQ(procs.Starts()[0].commandLine, L"-o -o \"C:\\Cal\\tidewell-3.4.1.zip\"");
    EXPECT_EQ(procs.Starts()[0].workDir, L"C:\\Cal\\");
    EXPECT_EQ(sb.Texts().front(), L"Installing Tidewell");
    EXPECT_EQ(sb.Last(), L"Installation of Tidewell Completed");
    EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\configuration.properties")),
              std::string("DBObjectClass=x.MySQLDB\r\nURLBase=\r\n") + kAttachmentLines +
                  "URLBase=http\\://localhost\\:8080/calendar/\r\n");
    EXPECT_EQ(m.ReadFile(std::wstring(kLocalhost) + L"calendar.xml"),
              "<Context docBase=\"C:\\\\Cal\\\\tidewell-3.4.1\" reloadable=\"false\">\r\n</Context>\r\n");
    EXPECT_FALSE(platform::Files().FileExists(std::wstring(kLocalhost) + L"tidewell.xml"));
    EXPECT_TRUE(platform::Files().DirectoryExists(L"C:\\Cal\\UploadedAttachments"));
    EXPECT_EQ(ReadSetting(L"Version"), L"3.4.1");
    EXPECT_EQ(ReadSetting(L"Arch"), L"x64");
}

TEST_F(DeploymentTest, TheConfigurationComesFromTheRecordedVersionWhenItHasOne) {
    const std::string old = "DBObjectClass=x.MySQLDB\r\nJDBCConnectString=jdbc\\:mysql\\://db/cal\r\n"
                            "URLBase=http\\://cal.example\\:8080/calendar/\r\n";
    struct Row { const char* name; const char* recorded; const wchar_t* configOf; std::string expected; bool migrated; };
    const Row rows[] = {
        {"upgrade", "3.3.0", L"C:\\Cal\\tidewell-3.3.0\\", old + kAttachmentLines, true},
        {"upgrade, old folder without configuration", "3.3.0", nullptr,
         std::string("DBObjectClass=x.MySQLDB\r\nURLBase=\r\n") + kAttachmentLines, true},
        {"re-installation", "3.4.1", kNew, old + kAttachmentLines, false},
        {"re-installation without configuration", "3.4.1", nullptr,
         std::string("DBObjectClass=x.MySQLDB\r\nURLBase=\r\n") + kAttachmentLines +
             "URLBase=http\\://localhost\\:8080/calendar/\r\n",
         false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ResetInstallInfoForTest();
        for (const wchar_t* dir : {L"C:\\Cal\\tidewell-3.3.0\\", kNew})
            platform::Files().RemoveFile(std::wstring(dir) + L"WEB-INF\\configuration.properties");
        Unpacked();
        m.MakeDirs(L"C:\\Cal\\tidewell-3.3.0\\WEB-INF");
        m.WriteFile(L"C:\\Cal\\tidewell-3.3.0\\WEB-INF\\calendar.dat", "old data");
        if (r.configOf) m.WriteFile(std::wstring(r.configOf) + L"WEB-INF\\configuration.properties", old);
        WriteSetting(L"Version", Utf8ToWide(r.recorded));
        WriteSetting(L"Arch", L"x64");
        const size_t starts = procs.Starts().size();

        ASSERT_TRUE(InstallApplication(&sb));
        EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\configuration.properties")), r.expected);
        // The migration still saw the recorded version.
        EXPECT_EQ(procs.Starts().size(), starts + (r.migrated ? 2 : 1));
        if (r.migrated) {
            EXPECT_NE(m.ReadFile(New(L"WEB-INF\\sql\\winupdate.bat")).find("\r\nset OLDINST=C:\\Cal\\tidewell-3.3.0\r\n"),
                      std::string::npos);
        }
        EXPECT_EQ(m.ReadFile(L"C:\\Cal\\tidewell-3.3.0\\WEB-INF\\calendar.dat"), "old data");
        if (r.configOf && r.configOf != kNew) {
            EXPECT_EQ(m.ReadFile(std::wstring(r.configOf) + L"WEB-INF\\configuration.properties"), old);
        }
        EXPECT_EQ(ReadSetting(L"Version"), L"3.4.1");
    }
}

TEST_F(DeploymentTest, NothingIsConfiguredWhenUnpackingFails) {
    WriteSetting(L"Version", L"3.3.0");
    WriteSetting(L"Arch", L"x86");
    procs.Queue({0, {}, 9, 0});
    EXPECT_FALSE(InstallApplication(&sb));
    EXPECT_EQ(sb.Last(), L"Install of Tidewell Failed.");
    EXPECT_EQ(procs.Starts().size(), 1u);
    EXPECT_FALSE(platform::Files().FileExists(std::wstring(kLocalhost) + L"calendar.xml"));
    EXPECT_FALSE(platform::Files().DirectoryExists(L"C:\\Cal\\UploadedAttachments"));
    EXPECT_EQ(ReadSetting(L"Version"), L"3.3.0");
    EXPECT_EQ(ReadSetting(L"Arch"), L"x86");
}

TEST_F(DeploymentTest, AFileErrorLeavesTheVersionAsItWas) {
    Unpacked();
    WriteSetting(L"Version", L"3.3.0");
    platform::Files().RemoveFile(New(L"WEB-INF\\sql\\winupdate.bat"));
    EXPECT_THROW(InstallApplication(&sb), IoError);
    EXPECT_EQ(ReadSetting(L"Version"), L"3.3.0");
}

}  // namespace
