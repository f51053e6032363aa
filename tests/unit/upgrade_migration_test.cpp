// The upgrade migration against the fakes: the generated winupdate.bat and
// configuration.properties byte for byte for every database kind and pair
// of versions, the run in the sql folder, the files it needs checked before
// the Access data source goes, and a failing script reported.
#include <gtest/gtest.h>

#include "core/InstallInfo.h"
#include "install/upgrade_migration.h"
#include "platform/fake/fake_system.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/downloader.ini";
const char kTemplate[] = "rem Tidewell upgrade\r\nset JARPATH=..\\lib\\tidewell.jar\r\n";
const char kAccessShipped[] = "DBObjectClass=com.quorvanlabs.tidewell.db.AccessDB\r\n";
const char kEmbeddedShipped[] =
    "DBObjectClass=com.quorvanlabs.tidewell.db.DerbyDB\r\nJDBCDriver=org.apache.derby.jdbc.EmbeddedDriver\r\n";
const char kJavaLine[] =
    "java -cp %JARPATH%;..\\classes com.quorvanlabs.tidewell.support.update.WinUpdate \"%OLDINST%\" \"%NEWINST%\"";
const wchar_t kOdbcSources[] = L"HKLM\\Software\\WOW6432Node\\ODBC\\ODBC.INI\\ODBC Data Sources";
const wchar_t kOdbcTidewell[] = L"HKLM\\Software\\WOW6432Node\\ODBC\\ODBC.INI\\TIDEWELL";

std::string Crlf(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

struct MigrationTest : ::testing::Test {
    FakeMachine m;
    platform::fake::FakeProcesses procs;
    platform::ScopedPort<platform::Processes> procPort{procs};
    std::wstring newDir;

    void SetUp() override {
        SaveInstallDirectory(L"C:\\Cal");
        WriteSetting(L"Arch", L"x64");
        m.env.SetVariable(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
        m.Args({L"/i", kUrl});
    }
    void TearDown() override { ResetInstallInfoForTest(); }
    // The new version unpacked, with the old one recorded.
    void Versions(const std::string& oldVersion, const std::string& newVersion) {
        ResetManifestFetchedForTest();
        ResetInstallInfoForTest();
        m.ServeManifest(kUrl, "[TOMCAT]\r\nUNPACK_PATH=apache-tomcat\r\n[TW]\r\nFILE_VERSION=" + newVersion + "\r\n");
        WriteSetting(L"Version", Utf8ToWide(oldVersion));
        newDir = L"C:\\Cal\\tidewell-" + Utf8ToWide(newVersion) + L"\\";
        for (const wchar_t* d : {L"Access", L"DERBY"}) m.MakeDirs(newDir + L"WEB-INF\\sql\\" + d);
    }
    void Unpacked(const std::string& configuration) {
        m.WriteFile(Sql(L"winupdate.bat"), kTemplate);
        m.WriteFile(newDir + L"WEB-INF\\configuration.properties", configuration);
        m.WriteFile(Sql(L"Access\\configuration.properties"), kAccessShipped);
        m.WriteFile(Sql(L"DERBY\\embedded_configuration.properties"), kEmbeddedShipped);
    }
    std::wstring Sql(const std::wstring& rel) { return newDir + L"WEB-INF\\sql\\" + rel; }
    void DataSource() {
        m.machine.registry.PutString(kOdbcSources, L"TIDEWELL", L"Microsoft Access Driver (*.mdb)");
        m.machine.registry.PutString(kOdbcTidewell, L"DBQ", L"C:\\Cal\\tidewell-3.0.2\\calendar.mdb");
    }
};

TEST(VersionNumberPart, EveryPartCountsTheLastOneToo) {
    struct Row { const wchar_t* version; int major, minor; };
    const Row rows[] = {
        {L"3.4.1", 3, 4}, {L"3.4", 3, 4}, {L"3", 3, 0}, {L"10.20.30.40", 10, 20}, {L"2.5.0", 2, 5},
        // A part is read by its digits; one without any digit is 0.
        {L"3.5-beta", 3, 5}, {L"4.0RC1", 4, 0}, {L"4RC1.2b", 4, 2}, {L"v3.4", 3, 4}, {L"3..1", 3, 0},
        {L"3.x", 3, 0}, {L"3.", 3, 0}, {L"beta", 0, 0}, {L"99999999999.7", 2147483647, 7},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(MajorVersion(r.version), r.major) << r.version;
        EXPECT_EQ(MinorVersion(r.version), r.minor) << r.version;
    }
}

TEST(DatabaseFolder, TheLastDBObjectClassLineDecidesByItsExactEnding) {
    struct Row { std::vector<std::wstring> lines; const wchar_t* folder; };
    const Row rows[] = {
        {{L"DBObjectClass=a.AccessDB"}, L"Access"},
        {{L"DBObjectClass=a.DerbyDB"}, L"DERBY"},
        {{L"DBObjectClass=a.IbmDB2DB"}, L"IBMDB2"},
        {{L"DBObjectClass=a.OracleDB"}, L"ORACLE"},
        {{L"DBObjectClass=a.MySQLDB"}, L"MYSQL"},
        {{L"DBObjectClass=a.PostgreSQLDB"}, L"PGSQL"},
        {{L"DBObjectClass=a.SQLServerDB"}, L"SQL2K"},
        {{L"DBObjectClass=a.SybaseSQLADB"}, L"SYB_SQLA"},
        {{L"DBObjectClass=a.MySQLDB", L"x=1", L"DBObjectClass=b=c.OracleDB"}, L"ORACLE"},
        {{L"DBObjectClass=a.DerbyDB "}, L"Access"},
        {{L"dbobjectclass=a.DerbyDB", L"# DBObjectClass=a.MySQLDB"}, L"Access"},
        {{L"DBObjectClass=a.mysqldb"}, L"Access"},
        {{}, L"Access"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(DatabaseFolder(r.lines), r.folder) << (r.lines.empty() ? L"" : r.lines.back());
        EXPECT_EQ(IsAccessDatabase(r.lines), std::wstring(r.folder) == L"Access");
        EXPECT_EQ(IsDerbyDatabase(r.lines), std::wstring(r.folder) == L"DERBY");
    }
}

TEST(EscapePropertyValue, ColonsEqualsAndBackslashesOnly) {
    EXPECT_EQ(EscapePropertyValue(L"a=b:c\\d"), L"a\\=b\\:c\\\\d");
    EXPECT_EQ(EscapePropertyValue(L"C:\\Program Files\\Caf\u00e9 #!"), L"C\\:\\\\Program Files\\\\Caf\u00e9 #!");
    EXPECT_EQ(EscapePropertyValue(L""), L"");
    EXPECT_EQ(ToForwardSlashes(L"C:\\a\\b/c"), L"C:/a/b/c");
    EXPECT_EQ(ArchiveNameForVersion(L"3.3.0"), L"Tidewell_3_3_0.ZIP");
}

TEST_F(MigrationTest, ScriptAndConfigurationOfEveryKindByteForByte) {
    const std::string derbyLine = "JDBCConnectString=jdbc\\:derby\\:C\\:/Cal/tidewell-3.4.1/WEB-INF/sql/DERBY/calendardb";
    const std::string convert = "call convert_to_derby.bat ..\\Access\\configuration.properties embedded_configuration.properties";
    const std::string copy = "copy \"%OLDINST%\\WEB-INF\\sql\\Access\\calendar.mdb\" /y";
    const std::string embedded(kEmbeddedShipped);
    struct Row {
        const char* name;
        const char* from;
        const char* to;
        const char* oldZip;
        std::string config;                 // the new configuration before
        std::vector<std::string> appended;  // script lines after the template
        std::string configAfter;            // the new configuration after
    };
    const Row rows[] = {
        {"MySQL 3.2.0 to 3.4.1", "3.2.0", "3.4.1", "Tidewell_3_2_0.ZIP", "a=1\nDBObjectClass=x.MySQLDB\n",
         {"call run330.bat \"C:\\Cal\\apache-tomcat\" MYSQL", "call run340.bat \"C:\\Cal\\apache-tomcat\" MYSQL"},
         "a=1\r\nDBObjectClass=x.MySQLDB\r\n"},
        {"Access 3.0.2 to 3.5.0", "3.0.2", "3.5.0", "Tidewell_3_0_2.ZIP", "DBObjectClass=x.AccessDB\r\n",
         {"cd Access", copy, "cscript 300_to_310.vbs", "cscript 310_to_320.vbs", "cscript 320_to_330.vbs",
          "cscript 330_to_340.vbs", "cd ..", "cd DERBY", "call make340.bat", "cd ..", "cd DERBY", convert, "cd .."},
         "DBObjectClass=x.AccessDB\r\n" + embedded +
             "JDBCConnectString=jdbc\\:derby\\:C\\:/Cal/tidewell-3.5.0/WEB-INF/sql/DERBY/calendardb\r\n"},
        {"Access 2.5.0 to 3.4.1", "2.5.0", "3.4.1", "Tidewell_2_5_0.ZIP", "DBObjectClass=x.AccessDB\r\n",
         {"cd Access", copy, "cscript 250_to_300.vbs", "cd ..", "cd DERBY", convert, "cd .."},
         "DBObjectClass=x.AccessDB\r\n" + embedded + derbyLine + "\r\n"},
        {"Access 3.4.0 to 3.4.1", "3.4.0", "3.4.1", "Tidewell_3_4_0.ZIP", "DBObjectClass=x.AccessDB\r\n",
         {"cd Access", copy, "cd ..", "cd DERBY", convert, "cd .."},
         "DBObjectClass=x.AccessDB\r\n" + embedded + derbyLine + "\r\n"},
        {"Derby 3.1.0 to 3.4.1", "3.1.0", "3.4.1", "Tidewell_3_1_0.ZIP", "DBObjectClass=x.DerbyDB\r\n",
         {"call run320.bat \"C:\\Cal\\apache-tomcat\" DERBY", "call run330.bat \"C:\\Cal\\apache-tomcat\" DERBY",
          "call run340.bat \"C:\\Cal\\apache-tomcat\" DERBY", "cd \"%NEWINST%\\WEB-INF\\sql\\DERBY\"",
          "rd calendardb /s /q", "mkdir calendardb",
          "xcopy \"%OLDINST%\\WEB-INF\\sql\\DERBY\\calendardb\" calendardb /e /c", "cd \"%NEWINST%\\WEB-INF\\sql\""},
         "DBObjectClass=x.DerbyDB\r\n" + derbyLine + "\r\n"},
        {"Oracle 3.3.5 to 3.4.1", "3.3.5", "3.4.1", "Tidewell_3_3_5.ZIP", "DBObjectClass=x.OracleDB\r\n",
         {"call run340.bat \"C:\\Cal\\apache-tomcat\" ORACLE"}, "DBObjectClass=x.OracleDB\r\n"},
        {"no DBObjectClass: Access", "3.3.0", "3.4.1", "Tidewell_3_3_0.ZIP", "a=1\r\n",
         {"cd Access", copy, "cscript 330_to_340.vbs", "cd ..", "cd DERBY", convert, "cd .."},
         "a=1\r\n" + embedded + derbyLine + "\r\n"},
        {"DerbyDB and a blank: Access", "3.4.0", "3.4.1", "Tidewell_3_4_0.ZIP", "DBObjectClass=x.DerbyDB \r\n",
         {"cd Access", copy, "cd ..", "cd DERBY", convert, "cd .."},
         "DBObjectClass=x.DerbyDB \r\n" + embedded + derbyLine + "\r\n"},
        // The last part counts: 3.4 is past every conversion, 3 before all
        // of them.
        {"Oracle from 3.4", "3.4", "3.4.1", "Tidewell_3_4.ZIP", "DBObjectClass=x.OracleDB\r\n", {},
         "DBObjectClass=x.OracleDB\r\n"},
        {"Oracle from 3", "3", "3.4.1", "Tidewell_3.ZIP", "DBObjectClass=x.OracleDB\r\n",
         {"call run320.bat \"C:\\Cal\\apache-tomcat\" ORACLE", "call run330.bat \"C:\\Cal\\apache-tomcat\" ORACLE",
          "call run340.bat \"C:\\Cal\\apache-tomcat\" ORACLE"},
         "DBObjectClass=x.OracleDB\r\n"},
        // A suffix does not stop the migration: the digits of a part count.
        {"Oracle from 3.2rc1", "3.2rc1", "3.4.1", "Tidewell_3_2rc1.ZIP", "DBObjectClass=x.OracleDB\r\n",
         {"call run330.bat \"C:\\Cal\\apache-tomcat\" ORACLE", "call run340.bat \"C:\\Cal\\apache-tomcat\" ORACLE"},
         "DBObjectClass=x.OracleDB\r\n"},
        {"Access 3.3-beta to 4.0RC1", "3.3-beta", "4.0RC1", "Tidewell_3_3-beta.ZIP", "DBObjectClass=x.AccessDB\r\n",
         {"cd Access", copy, "cscript 330_to_340.vbs", "cd ..", "cd DERBY", "call make340.bat", "cd ..", "cd DERBY",
          convert, "cd .."},
         "DBObjectClass=x.AccessDB\r\n" + embedded +
             "JDBCConnectString=jdbc\\:derby\\:C\\:/Cal/tidewell-4.0RC1/WEB-INF/sql/DERBY/calendardb\r\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Versions(r.from, r.to);
        Unpacked(r.config);
        DataSource();
        const size_t starts = procs.Starts().size();
        RunUpgradeMigration();

        std::vector<std::string> script = {"rem Tidewell upgrade",
                                           "set CATALINA_BASE=C:\\Cal\\TCBase",
                                           "set CATALINA_HOME=C:\\Cal\\apache-tomcat",
                                           std::string("set NEWINST=C:\\Cal\\tidewell-") + r.to,
                                           std::string("set OLDINST=C:\\Cal\\tidewell-") + r.from,
                                           std::string("set OLDZIP=C:\\Cal\\") + r.oldZip,
                                           "set JARPATH=..\\lib\\tidewell.jar"};
        script.insert(script.end(), r.appended.begin(), r.appended.end());
        script.push_back(kJavaLine);
        EXPECT_EQ(m.ReadFile(Sql(L"winupdate.bat")), Crlf(script));
        EXPECT_EQ(m.ReadFile(newDir + L"WEB-INF\\configuration.properties"), r.configAfter);

        const bool access = r.appended.size() > 0 && r.appended[0] == "cd Access";
        EXPECT_EQ(m.ReadFile(Sql(L"Access\\configuration.properties")),
                  access ? std::string(kAccessShipped) +
                               "JDBCConnectString=jdbc\\:odbc\\:Driver={Microsoft Access Driver (*.mdb)};DBQ=C\\:\\\\"
                               "Cal\\\\tidewell-" + r.to + "\\\\WEB-INF\\\\sql\\\\Access\\\\calendar.mdb\r\n"
                         : std::string(kAccessShipped));
        EXPECT_EQ(m.machine.registry.HasValue(kOdbcSources, L"TIDEWELL"), !access);
        EXPECT_EQ(m.machine.registry.HasKey(kOdbcTidewell), !access);

        ASSERT_EQ(procs.Starts().size(), starts + 1);
        const platform::ProcessStart run = procs.Starts().back();
        EXPECT_EQ(run.application, L"C:\\Windows\\system32\\cmd.exe");
        EXPECT_EQ(run.commandLine, L"/C winupdate.bat");
        EXPECT_EQ(run.workDir, newDir + L"WEB-INF\\sql");
        EXPECT_EQ(run.flags, platform::kCreateNewConsole);
        EXPECT_TRUE(m.boxes.Take().empty());
    }
}

TEST_F(MigrationTest, NothingHappensOnAFirstInstallationOrTheSameVersion) {
    for (const char* old : {"", "3.4.1"}) {
        SCOPED_TRACE(old);
        Versions(old, "3.4.1");
        Unpacked("DBObjectClass=x.AccessDB\r\n");
        DataSource();
        RunUpgradeMigration();
        EXPECT_EQ(m.ReadFile(Sql(L"winupdate.bat")), kTemplate);
        EXPECT_EQ(m.ReadFile(newDir + L"WEB-INF\\configuration.properties"), "DBObjectClass=x.AccessDB\r\n");
        EXPECT_TRUE(m.machine.registry.HasValue(kOdbcSources, L"TIDEWELL"));
        EXPECT_TRUE(procs.Starts().empty());
    }
}

TEST_F(MigrationTest, AMissingFileStopsItBeforeTheDataSourceGoes) {
    for (const wchar_t* missing : {L"C:\\Cal\\tidewell-3.4.1\\WEB-INF\\sql\\winupdate.bat",
                                   L"C:\\Cal\\tidewell-3.4.1\\WEB-INF\\configuration.properties",
                                   L"C:\\Cal\\tidewell-3.4.1\\WEB-INF\\sql\\Access\\configuration.properties",
                                   L"C:\\Cal\\tidewell-3.4.1\\WEB-INF\\sql\\DERBY\\embedded_configuration.properties"}) {
        SCOPED_TRACE(missing);
        Versions("3.3.0", "3.4.1");
        Unpacked("DBObjectClass=x.AccessDB\r\n");
        DataSource();
        ASSERT_TRUE(platform::Files().RemoveFile(missing));
        EXPECT_THROW(RunUpgradeMigration(), IoError);
        EXPECT_TRUE(m.machine.registry.HasValue(kOdbcSources, L"TIDEWELL"));
        EXPECT_TRUE(m.machine.registry.HasKey(kOdbcTidewell));
        if (platform::Files().FileExists(Sql(L"winupdate.bat"))) {
            EXPECT_EQ(m.ReadFile(Sql(L"winupdate.bat")), kTemplate);
        }
        if (platform::Files().FileExists(Sql(L"Access\\configuration.properties"))) {
            EXPECT_EQ(m.ReadFile(Sql(L"Access\\configuration.properties")), kAccessShipped);
        }
        EXPECT_TRUE(procs.Starts().empty());
    }
}

TEST_F(MigrationTest, AnEmptyTemplateChangesNothing) {
    Versions("3.3.0", "3.4.1");
    Unpacked("DBObjectClass=x.AccessDB\r\n");
    DataSource();
    m.WriteFile(Sql(L"winupdate.bat"), "");
    EXPECT_THROW(RunUpgradeMigration(), Error);
    EXPECT_EQ(m.ReadFile(Sql(L"winupdate.bat")), "");
    EXPECT_TRUE(m.machine.registry.HasValue(kOdbcSources, L"TIDEWELL"));
    EXPECT_TRUE(procs.Starts().empty());
}

TEST_F(MigrationTest, AScriptThatFailsIsReportedWithItsExitCode) {
    struct Row { uint32_t startError, exitCode; const wchar_t* caption; platform::MbIcon icon; const wchar_t* says; };
    const Row rows[] = {
        {0, 1, L"Notice", platform::MbIcon::Error,
         L"The upgrade script C:\\Cal\\tidewell-3.4.1\\WEB-INF\\sql\\winupdate.bat ended with exit code 1."},
        {0, 9009, L"Notice", platform::MbIcon::Error, L"ended with exit code 9009."},
        {2, 0, L"Notice", platform::MbIcon::Warning, L"Error 2."},  // the runner's own notice
        {0, 0, nullptr, platform::MbIcon::None, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.exitCode);
        Versions("3.3.0", "3.4.1");
        Unpacked("DBObjectClass=x.MySQLDB\r\n");
        procs.Queue({r.startError, {}, r.exitCode, 0});
        RunUpgradeMigration();
        auto boxes = m.boxes.Take();
        if (!r.caption) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, r.caption);
        EXPECT_EQ(boxes[0].icon, r.icon);
        EXPECT_NE(boxes[0].text.find(r.says), std::wstring::npos) << boxes[0].text;
        if (r.icon == platform::MbIcon::Error) {
            EXPECT_NE(boxes[0].text.find(L"still in C:\\Cal\\tidewell-3.3.0."), std::wstring::npos) << boxes[0].text;
        }
    }
}

}  // namespace
