// The server's service and its batch-wrapper fallback against fakes: the
// service-script rewrite, installation with the SQL Server dependency,
// removal through the ImagePath program, start and stop either way.
#include <gtest/gtest.h>

#include "core/ArchAwareRegistry.h"
#include "system/ServiceManager.h"
#include "system/server_service.h"
#include "system_fixture.h"

namespace tide {
namespace {

using platform::MbIcon;
using platform::fake::FakeProgram;
using testing::SystemFixture;

const wchar_t kScript[] = L"C:\\Apps\\Tidewell\\TCBase\\bin\\service.bat";
const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tidewell";
const wchar_t kConnectorKey[] = L"SOFTWARE\\Apache Software Foundation\\Jakarta Isapi Redirector\\1.0";

struct ServerServiceTest : SystemFixture {};

TEST_F(ServerServiceTest, ServiceScriptRewrite) {
    const std::string head = "set CATALINA_BASE=C:\\Apps\\Tidewell\\TCBase\r\nset CATALINA_HOME=C:\\H\r\n";
    struct Case {
        const char* what;
        std::string in, out;
    } cases[] = {
        {"remark first; lower-case set lines go, upper-case SET stays",
         "rem Tidewell service\r\nset CATALINA_HOME=C:\\old\r\nSET CATALINA_BASE=x\r\nsc create Tidewell\r\n",
         "rem Tidewell service\r\n" + head + "SET CATALINA_BASE=x\r\nsc create Tidewell\r\n"},
        {"a first line that sets CATALINA_ goes too; the next line leads",
         "set CATALINA_OPTS=-Xmx1g\r\n@echo off\r\nexit /b 0\r\n", "@echo off\r\n" + head + "exit /b 0\r\n"},
        {"only the exact prefix at the start of a line", " set CATALINA_HOME=a\r\nset catalina_home=b\r\nset CATALINA=c",
         " set CATALINA_HOME=a\r\n" + head + "set catalina_home=b\r\nset CATALINA=c\r\n"},
        {"empty script", "", head},
        {"nothing but set lines", "set CATALINA_BASE=a\nset CATALINA_HOME=b\n", head},
        {"LF, lone CR and a UTF-8 mark come out ANSI with CR LF",
         "\xEF\xBB\xBF@rem caf\xC3\xA9\nset CATALINA_HOME=x\rgo", "@rem caf\xE9\r\n" + head + "go\r\n"},
    };
    for (const auto& c : cases) {
        m.WriteFile(kScript, c.in);
        PrepareServiceScript(L"C:\\Apps\\Tidewell\\TCBase", L"C:\\H");
        EXPECT_EQ(m.ReadFile(kScript), c.out) << c.what;
    }
}

TEST_F(ServerServiceTest, MissingBaseDirectoryRaisesAndRunsNothing) {
    m.WriteFile(kScript, "@echo off\r\n");
    try {
        PrepareServiceScript(L"C:\\Nowhere\\TCBase", L"C:\\H");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.Message(), L"Directory C:\\Nowhere\\TCBase does not exist.");
    }
    SaveInstallDirectory(L"C:\\Nowhere");
    EXPECT_THROW(InstallServerService(), Error);
    EXPECT_TRUE(procs.Starts().empty());
    EXPECT_EQ(Setting(L"ServiceInstalled"), L"");
}

TEST_F(ServerServiceTest, InstallRunsTheScriptAndDependsOnAnAutomaticSqlServer) {
    const std::wstring sqlKey = L"SYSTEM\\CurrentControlSet\\Services\\MSSQLSERVER";
    struct Case {
        int sqlStart;  // 0: no SQL Server
        bool depends;
    } cases[] = {{2, true}, {3, false}, {0, false}};
    for (const auto& c : cases) {
        m.machine.registry.PutKey(L"HKLM\\" + std::wstring(kServiceKey));
        if (c.sqlStart) PutMachineInteger(sqlKey, L"Start", c.sqlStart);
        m.WriteFile(kScript, "@echo off\r\n");
        ASSERT_TRUE(InstallServerService());
        EXPECT_EQ(Setting(L"ServiceInstalled"), L"Y");
        uint32_t type = 0;
        std::vector<uint8_t> data;
        bool has = MachineValue(kServiceKey, L"DependOnService", type, data);
        EXPECT_EQ(has, c.depends) << c.sqlStart;
        if (has) {
            EXPECT_EQ(type, 7u);
            EXPECT_EQ(testing::MultiString(data), std::wstring(L"MSSQLSERVER\0\0", 13));
        }
        TArchAwareRegistry reg(KEY_ALL_ACCESS);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.DeleteKey(kServiceKey);
        reg.DeleteKey(sqlKey);
    }
    auto start = procs.Starts().back();
    EXPECT_EQ(*start.application, kComSpec);
    EXPECT_EQ(*start.commandLine, L"/C \"\"C:\\Apps\\Tidewell\\TCBase\\bin\\service.bat\"\"");
    EXPECT_EQ(*start.workDir, kHome);
    EXPECT_TRUE(m.boxes.Shown().empty());
    // The shortcuts now start and stop the service.
    EXPECT_TRUE(links.Saved(std::wstring(kFolder) + L"Start Tidewell Service.lnk"));
}

TEST_F(ServerServiceTest, FailedScriptIsReportedAndChangesNothing) {
    m.WriteFile(kScript, "@echo off\r\n");
    procs.Queue(FakeProgram{0, {}, 1});
    EXPECT_FALSE(InstallServerService());
    auto shown = m.boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"The service could not be created.");
    EXPECT_EQ(shown[0].caption, L"Notice");
    EXPECT_EQ(shown[0].icon, MbIcon::Error);
    EXPECT_EQ(Setting(L"ServiceInstalled"), L"");
    EXPECT_TRUE(links.SaveLog().empty());
}

TEST_F(ServerServiceTest, RemovalRunsTheImagePathProgramWithDS) {
    struct Case {
        const wchar_t* imagePath;
        const wchar_t* command;
    } cases[] = {
        {L"\"C:\\Apps\\Tidewell\\apache-tomcat\\bin\\tomcat7.exe\" //RS//Tidewell",
         L"\"C:\\Apps\\Tidewell\\apache-tomcat\\bin\\tomcat7.exe\" //DS//Tidewell"},
        {L"C:\\svc\\server.exe", L"\"C:\\svc\\server.exe\" //DS//Tidewell"},
        {L" \t\"C:\\a b\\s.exe\"  \t  //RS//Tidewell //x", L"\"C:\\a b\\s.exe\" //DS//Tidewell"},
        // Unquoted with a blank: never "C:\Program.exe".
        {L"C:\\Program Files\\Tidewell\\bin\\tomcat7.exe //RS//Tidewell",
         L"\"C:\\Program Files\\Tidewell\\bin\\tomcat7.exe\" //DS//Tidewell"},
    };
    for (const auto& c : cases) {
        SetSetting(L"ServiceInstalled", L"Y");
        PutMachineString(kServiceKey, L"ImagePath", c.imagePath);
        m.machine.registry.PutKey(L"HKLM\\" + std::wstring(kConnectorKey) + L"\\sub\\deeper");
        RemoveServerService(true);
        auto start = procs.Starts().back();
        EXPECT_FALSE(start.application.has_value());
        EXPECT_EQ(*start.commandLine, c.command);
        EXPECT_FALSE(start.workDir.has_value());
        EXPECT_EQ(Setting(L"ServiceInstalled"), L"N");
        EXPECT_FALSE(m.machine.registry.HasKey(L"HKLM\\" + std::wstring(kConnectorKey)));
    }
    EXPECT_TRUE(m.boxes.Shown().empty()) << "quiet";
    EXPECT_TRUE(links.Saved(std::wstring(kFolder) + L"Start Tidewell.lnk"));

    SetSetting(L"ServiceInstalled", L"Y");
    RemoveServerService(false);
    auto shown = m.boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"The service has been removed.");
    EXPECT_EQ(shown[0].icon, MbIcon::Information);
}

TEST_F(ServerServiceTest, FailedRemovalIsShownEvenWhenQuiet) {
    SetSetting(L"ServiceInstalled", L"Y");
    PutMachineString(kServiceKey, L"ImagePath", L"\"C:\\x.exe\" //RS//Tidewell");
    procs.Queue(FakeProgram{0, {}, 3});
    RemoveServerService(true);
    auto shown = m.boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"The service could not be removed.");
    EXPECT_EQ(shown[0].caption, L"Notice");
    EXPECT_EQ(shown[0].icon, MbIcon::Error);
    EXPECT_EQ(Setting(L"ServiceInstalled"), L"Y");
}

TEST_F(ServerServiceTest, RemovalWithoutServiceKeyOrImagePathRunsAndShowsNothing) {
    m.machine.registry.PutKey(L"HKLM\\" + std::wstring(kConnectorKey));
    RemoveServerService(false);
    PutMachineString(kServiceKey, L"Other", L"x");
    RemoveServerService(false);
    EXPECT_TRUE(procs.Starts().empty());
    EXPECT_TRUE(m.boxes.Shown().empty());
    EXPECT_FALSE(m.machine.registry.HasKey(L"HKLM\\" + std::wstring(kConnectorKey)));
}

TEST_F(ServerServiceTest, WithTheServiceStartAndStopGoThroughTheServiceManager) {
    SetSetting(L"ServiceInstalled", L"Y");
    EXPECT_TRUE(SetServerRunning(true));
    EXPECT_EQ(scm.State(L"Tidewell"), kServiceRunning);
    net.answers = true;
    EXPECT_FALSE(SetServerRunning(true)) << "already answering";
    scm.QueueStates(L"Tidewell", {kServiceStopPending, kServiceStopPending});
    EXPECT_TRUE(SetServerRunning(false));
    EXPECT_EQ(scm.State(L"Tidewell"), kServiceStopped);
    net.answers = false;
    EXPECT_FALSE(SetServerRunning(false)) << "not answering";
    EXPECT_TRUE(procs.Starts().empty());
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST_F(ServerServiceTest, AServiceThatDoesNotStopFailsAfterTheBound) {
    SetSetting(L"ServiceInstalled", L"Y");
    ASSERT_TRUE(StartStopServer(kComSpec, L"start"));
    int64_t t0 = clock.NowMs();
    scm.QueueStates(L"Tidewell", std::vector<uint32_t>(1000, kServiceStopPending));
    EXPECT_FALSE(StartStopServer(kComSpec, L"stop"));
    int64_t waited = clock.NowMs() - t0;
    EXPECT_GE(waited, kServiceStopTimeoutMs);
    EXPECT_LT(waited, kServiceStopTimeoutMs + 1000);
    auto shown = m.boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"The Tidewell service did not stop within 60 seconds.");
    EXPECT_EQ(shown[0].icon, MbIcon::Error);
}

TEST_F(ServerServiceTest, WithoutTheServiceTheWrapperRunsInANewConsole) {
    SetSetting(L"ServiceInstalled", L"y");  // not "Y": no service
    EXPECT_TRUE(SetServerRunning(true));
    procs.Queue(FakeProgram{0, {}, 1});
    net.answers = true;
    EXPECT_FALSE(SetServerRunning(false)) << "exit code 1";
    auto starts = procs.Starts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(*starts[0].application, kComSpec);
    EXPECT_EQ(*starts[0].commandLine, L"/C \"\"C:\\Apps\\Tidewell\\TCBase\\bin\\catalina.bat\" start\"");
    EXPECT_EQ(*starts[1].commandLine, L"/C \"\"C:\\Apps\\Tidewell\\TCBase\\bin\\catalina.bat\" stop\"");
    EXPECT_EQ(*starts[0].workDir, kBase);
    EXPECT_EQ(starts[0].flags, platform::kCreateNewConsole);
    EXPECT_EQ(scm.State(L"Tidewell"), kServiceStopped);
}

}  // namespace
}  // namespace tide
