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
    // The unzip tool unpacks the stand-in archive of 3.4.1 (as
    // tools/fixtures/tidewell/make_tw.sh makes it) into its working folder:
    // program files, the template, and the empty databases it ships.
    void QueueArchive() {
        platform::fake::FakeProgram unzip;
        unzip.effect = [this](const platform::ProcessStart& start) {
            const std::wstring app = *start.workDir + L"tidewell-3.4.1\\";
            m.MakeDirs(app + L"WEB-INF\\sql\\Access");
            m.MakeDirs(app + L"WEB-INF\\sql\\DERBY\\calendardb");
            m.WriteFile(app + L"index.html", "<html>Tidewell 3.4.1</html>\r\n");
            m.WriteFile(app + L"WEB-INF\\configuration.default", kDefault);
            m.WriteFile(app + L"WEB-INF\\sql\\winupdate.bat", "rem upgrade\r\n");
            m.WriteFile(app + L"WEB-INF\\sql\\Access\\calendar.mdb", "stand-in empty Access database\r\n");
            m.WriteFile(app + L"WEB-INF\\sql\\DERBY\\calendardb\\service.properties", "stand-in empty Derby\r\n");
        };
        procs.Queue(unzip);
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
        QueueArchive();
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

// An archive ships empty databases: unpacked over the folder that serves the
// calendar, it would replace its data. Only an upgrade's new folder (whose
// data the migration brings over from the old one) is unpacked over.
TEST_F(DeploymentTest, TheArchiveNeverReplacesTheDataOrConfigurationOfTheFolderInUse) {
    const std::string config = "DBObjectClass=x.DerbyDB\r\nJDBCConnectString=jdbc\\:derby\\:C\\:/Cal/db\r\n";
    struct Row { const char* name; const wchar_t* recorded; bool live; };
    const Row rows[] = {
        {"re-installation of the recorded version", L"3.4.1", true},
        {"its folder there, no version recorded", L"", true},
        {"upgrade, the new folder left by an earlier attempt", L"3.3.0", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ResetInstallInfoForTest();
        WriteSetting(L"Version", r.recorded);
        m.MakeDirs(New(L"WEB-INF\\sql\\Access"));
        m.MakeDirs(New(L"WEB-INF\\sql\\DERBY\\calendardb\\seg0"));
        m.WriteFile(New(L"index.html"), "<html>an older build</html>\r\n");
        m.WriteFile(New(L"WEB-INF\\configuration.properties"), config);
        m.WriteFile(New(L"WEB-INF\\sql\\Access\\calendar.mdb"), "calendar data\r\n");
        m.WriteFile(New(L"WEB-INF\\sql\\DERBY\\calendardb\\service.properties"), "calendar data\r\n");
        m.WriteFile(New(L"WEB-INF\\sql\\DERBY\\calendardb\\seg0\\c10.dat"), "calendar data\r\n");
        platform::Files().RemoveFile(New(L"WEB-INF\\sql\\winupdate.bat"));
        std::vector<platform::DirEntry> before, after;
        ASSERT_TRUE(platform::Files().ListDirectory(L"C:\\Cal", before));
        QueueArchive();

        ASSERT_TRUE(InstallApplication(&sb));
        const std::string data = r.live ? "calendar data\r\n" : "stand-in empty Access database\r\n";
        EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\sql\\Access\\calendar.mdb")), data);
        EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\sql\\DERBY\\calendardb\\service.properties")),
                  r.live ? data : "stand-in empty Derby\r\n");
        EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\sql\\DERBY\\calendardb\\seg0\\c10.dat")), "calendar data\r\n");
        if (r.live) {
            EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\configuration.properties")), config + kAttachmentLines);
        }
        // Program files and what was missing come from the archive.
        EXPECT_EQ(m.ReadFile(New(L"index.html")), "<html>Tidewell 3.4.1</html>\r\n");
        EXPECT_EQ(m.ReadFile(New(L"WEB-INF\\configuration.default")), kDefault);
        EXPECT_TRUE(platform::Files().FileExists(New(L"WEB-INF\\sql\\winupdate.bat")));
        // Nothing is left beside it but the attachment folder (and the
        // manifest copy the step read).
        ASSERT_TRUE(platform::Files().ListDirectory(L"C:\\Cal", after));
        for (const auto& e : after) {
            bool seen = e.name == L"UploadedAttachments" || e.name == L"downloader.ini";
            for (const auto& b : before) seen = seen || b.name == e.name;
            EXPECT_TRUE(seen) << WideToUtf8(e.name);
        }
        EXPECT_EQ(ReadSetting(L"Version"), L"3.4.1");
    }
}

// Until its data is migrated the new version is not put into service: the
// context keeps pointing at the previous version's folder, which is still
// the recorded one, and one notice (the step's box, or the text of the
// error it raises, which the installation shows) says so.
TEST_F(DeploymentTest, AFailedMigrationLeavesThePreviousVersionServing) {
    const std::string context = "<Context docBase=\"C:\\\\Cal\\\\tidewell-3.3.0\" reloadable=\"false\">\r\n</Context>\r\n";
    struct Row { const char* name; uint32_t startError, exitCode; bool templateMissing; };
    const Row rows[] = {
        {"the script fails", 0, 1, false},
        {"the script cannot be started", 2, 0, false},
        {"the script template is missing", 0, 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ResetInstallInfoForTest();
        WriteSetting(L"Version", L"3.3.0");
        WriteSetting(L"Arch", L"x86");
        m.WriteFile(std::wstring(kLocalhost) + L"calendar.xml", context);
        Unpacked();
        if (r.templateMissing) platform::Files().RemoveFile(New(L"WEB-INF\\sql\\winupdate.bat"));
        procs.Queue({});  // the unzip tool
        procs.Queue({r.startError, {}, r.exitCode, 0});

        std::wstring said;
        try {
            EXPECT_FALSE(InstallApplication(&sb));
        } catch (const Error& e) {
            said = e.Message();
        }
        const auto boxes = m.boxes.Take();
        if (said.empty()) {
            ASSERT_EQ(boxes.size(), 1u);
            said = boxes[0].text;
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_NE(said.find(L"The server goes on serving version 3.3.0"), std::wstring::npos) << said;
        EXPECT_EQ(m.ReadFile(std::wstring(kLocalhost) + L"calendar.xml"), context);
        EXPECT_EQ(ReadSetting(L"Version"), L"3.3.0");
        EXPECT_EQ(ReadSetting(L"Arch"), L"x86");
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
