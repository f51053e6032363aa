// The server's install steps against the fakes: ports chosen against a
// scripted set of busy ports, the rewrite of server.xml, the generated
// files byte for byte, the redirector library per architecture, and what is
// left alone when unpacking fails or a port series runs out.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/InstallInfo.h"
#include "install/tomcat_setup.h"
#include "system/VariousTests.h"
#include "platform/fake/fake_system.h"
#include "platform/net.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://127.0.0.1:9/downloader.ini";
const wchar_t kBase[] = L"C:\\Cal\\TCBase\\";

class BusyPorts : public platform::Network {
public:
    std::function<bool(int)> busy = [](int) { return false; };
    std::vector<int> probed;
    std::vector<uint32_t> waited;
    bool ConnectLocal(int port, uint32_t timeoutMs) override {
        probed.push_back(port);
        waited.push_back(timeoutMs);
        return busy(port);
    }
};

std::function<bool(int)> Busy(std::vector<int> ports) {
    return [ports](int p) { return std::find(ports.begin(), ports.end(), p) != ports.end(); };
}

// The stock attributes as the instance archive carries them (UTF-8 with a
// byte-order mark, LF line ends).
const std::string kStockXml =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<Server port=\"8005\" shutdown=\"SHUTDOWN\">\n"
    "  <Connector port=\"8080\" protocol=\"HTTP/1.1\" redirectPort=\"8443\" />\n"
    "  <Connector port=\"8009\" protocol=\"AJP/1.3\" redirectPort=\"8443\" />\n"
    "</Server>\n";

struct TomcatSetupTest : ::testing::Test {
    FakeMachine m;
    platform::fake::FakeProcesses procs;
    BusyPorts net;
    platform::ScopedPort<platform::Processes> procPort{procs};
    platform::ScopedPort<platform::Network> netPort{net};
    platform::RecordingStatusLine sb;

    void SetUp() override {
        ResetInstallInfoForTest();
        SaveInstallDirectory(L"C:\\Cal");
        m.MakeDirs(L"C:\\Cal");
        m.ServeManifest(kUrl,
                     "[GENERAL]\r\nMIN_JRE_VERSION=1.6\r\n[CATALINA_BASE]\r\nFILE_NAME=catalina_base.zip\r\n"
                     "[TOMCAT]\r\nFILE_NAME=apache-tomcat.zip\r\nUNPACK_PATH=apache-tomcat\r\n"
                     "[TOMCATx64]\r\nFILE_NAME=apache-tomcat-x64.zip\r\n");
        m.Args({L"/i", kUrl});
    }
    void TearDown() override { ResetInstallInfoForTest(); }
    std::string Base(const std::wstring& rel) { return m.ReadFile(kBase + rel); }
    bool BaseHas(const std::wstring& rel) { return platform::Files().FileExists(kBase + rel); }
    // What unpacking the instance archive leaves behind.
    void Unpacked(const std::string& serverXml = kStockXml) {
        for (const wchar_t* d : {L"conf", L"bin\\native", L"logs"}) m.MakeDirs(kBase + std::wstring(d));
        m.WriteFile(kBase + std::wstring(L"conf\\server.xml"), serverXml);
        for (const char* arch : {"x86", "x64", "ia64"})
            m.WriteFile(kBase + std::wstring(L"bin\\native\\isapi_redirect.dll.") + Utf8ToWide(arch),
                        std::string("redirector for ") + arch);
    }
};

TEST(ReplacePortAttribute, OnlyTheFirstExactAttributeOfEachLine) {
    struct Row { const wchar_t* line; int from, to; const wchar_t* expected; };
    const Row rows[] = {
        {L"<Connector port=\"8009\" protocol=\"AJP/1.3\" redirectPort=\"8443\" />", 8009, 8019,
         L"<Connector port=\"8019\" protocol=\"AJP/1.3\" redirectPort=\"8443\" />"},
        {L"port=\"8009\" port=\"8009\"", 8009, 8019, L"port=\"8019\" port=\"8009\""},
        {L"<Connector port=\"8080\" redirectPort=\"8443\"/>", 8080, 80, L"<Connector port=\"80\" redirectPort=\"8443\"/>"},
        {L"<Server port=\"8005\" shutdown=\"SHUTDOWN\">", 8005, 8005, L"<Server port=\"8005\" shutdown=\"SHUTDOWN\">"},
        {L"redirectPort=\"8009\" proxyPort=\"8009\"", 8009, 8019, L"redirectPort=\"8009\" proxyPort=\"8009\""},
        {L"PORT=\"8009\" port='8009' port=\"80090\" port=8009", 8009, 8019,
         L"PORT=\"8009\" port='8009' port=\"80090\" port=8009"},
        {L"", 8009, 8019, L""},
    };
    for (const Row& r : rows) {
        std::vector<std::wstring> lines{r.line, r.line};
        ReplacePortAttribute(lines, r.from, r.to);
        EXPECT_EQ(lines, (std::vector<std::wstring>{r.expected, r.expected})) << r.line;
    }
}

TEST_F(TomcatSetupTest, PortsFollowTheirSeriesAndTheHttpPortIsStored) {
    struct Row { const char* name; std::function<bool(int)> busy; int shutdown, ajp, http; const wchar_t* setting; };
    const Row rows[] = {
        {"all free", Busy({}), 8005, 8009, 80, L"80"},
        {"80 busy", Busy({80}), 8005, 8009, 8080, L"8080"},
        {"80 and 8080 busy", Busy({80, 8080}), 8005, 8009, 9080, L"9080"},
        {"8005, 8015, 8009 busy", Busy({8005, 8015, 8009}), 8025, 8019, 80, L"80"},
        {"only the last candidates free", [](int p) { return p != 65535 && p != 65529 && p != 65080; }, 65535, 65529,
         65080, L"65080"},
        {"everything busy", [](int) { return true; }, kNoFreePort, kNoFreePort, kNoFreePort, L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        WriteSetting(L"Port", L"");
        net.busy = r.busy;
        net.probed.clear();
        net.waited.clear();
        EXPECT_EQ(ChooseShutdownPort(), r.shutdown);
        EXPECT_EQ(ChooseAjpPort(), r.ajp);
        EXPECT_EQ(ChooseHttpPort(), r.http);
        EXPECT_EQ(ReadSetting(L"Port"), r.setting);
        EXPECT_LE(*std::max_element(net.probed.begin(), net.probed.end()), kLastPort);
        // A slow answer on a loaded machine must not read as a free port.
        EXPECT_EQ(*std::min_element(net.waited.begin(), net.waited.end()), kPortChoiceTimeoutMs);
    }
}

TEST_F(TomcatSetupTest, ServerBaseIsUnpackedAndConfigured) {
    Unpacked();
    net.busy = Busy({8009});
    ASSERT_TRUE(ConfigureServerBase(&sb));

    ASSERT_EQ(procs.Starts().size(), 1u);
    EXPECT_EQ(procs.Starts()[0].application, L"C:\\Cal\\UNZIP.EXE");
    EXPECT_EQ(procs.Starts()[0].commandLine, L"-o -o \"C:\\Cal\\catalina_base.zip\"");
    EXPECT_EQ(procs.Starts()[0].workDir, L"C:\\Cal\\");
    EXPECT_EQ(Base(L"conf\\server.xml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
              "<Server port=\"8005\" shutdown=\"SHUTDOWN\">\r\n"
              "  <Connector port=\"80\" protocol=\"HTTP/1.1\" redirectPort=\"8443\" />\r\n"
              "  <Connector port=\"8019\" protocol=\"AJP/1.3\" redirectPort=\"8443\" />\r\n"
              "</Server>\r\n");
    EXPECT_EQ(Base(L"conf\\workers.properties"),
              "worker.list=ajp13\r\nworker.ajp13.type=ajp13\r\nworker.ajp13.host=localhost\r\n"
              "worker.ajp13.port=8019\r\n");
    EXPECT_EQ(Base(L"bin\\native\\isapi_redirect.properties"),
              "extension_uri=/jakarta/isapi_redirect.dll\r\n"
              "log_file=C:\\Cal\\TCBase\\logs\\isapi_redirect.log\r\n"
              "# Log level (debug, info, warn, error or trace)\r\n"
              "log_level=error\r\n"
              "worker_file=C:\\Cal\\TCBase\\conf\\workers.properties\r\n"
              "worker_mount_file=C:\\Cal\\TCBase\\conf\\uriworkermap.properties\r\n");
    EXPECT_EQ(ReadSetting(L"Port"), L"80");
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST_F(TomcatSetupTest, RedirectorLibraryOfTheMachinesProcessor) {
    using W = platform::Wow64Probes::Wow64;
    struct Row { platform::fake::MachineKind kind; W wow64; uint16_t cpu; const char* copied; };
    const Row rows[] = {
        {platform::fake::MachineKind::Windows32, W::No, platform::kProcessorX86, "redirector for x86"},
        {platform::fake::MachineKind::Wow64Process, W::Yes, platform::kProcessorAmd64, "redirector for x64"},
        {platform::fake::MachineKind::Wow64Process, W::Yes, platform::kProcessorIa64, "redirector for ia64"},
        {platform::fake::MachineKind::Wow64Process, W::Yes, platform::kProcessorArm64, nullptr},  // none: ignored
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.cpu);
        m.machine.Set(r.kind);
        m.machine.probes.Set(r.wow64, r.cpu);
        SaveInstallDirectory(L"C:\\Cal");
        platform::Files().RemoveFile(kBase + std::wstring(L"bin\\native\\isapi_redirect.dll"));
        Unpacked();
        EXPECT_TRUE(ConfigureServerBase(&sb));
        EXPECT_EQ(BaseHas(L"bin\\native\\isapi_redirect.dll"), r.copied != nullptr);
        if (r.copied) {
            EXPECT_EQ(Base(L"bin\\native\\isapi_redirect.dll"), r.copied);
        }
    }
}

TEST_F(TomcatSetupTest, AFileWithoutStockAttributesKeepsItsTextAndTheConnectorStillGetsItsPort) {
    Unpacked("<Server>\r<Connector port=\"9999\"/>\n</Server>");
    ASSERT_TRUE(ConfigureServerBase(&sb));
    EXPECT_EQ(Base(L"conf\\server.xml"), "<Server>\r\n<Connector port=\"9999\"/>\r\n</Server>\r\n");
    EXPECT_EQ(ReadSetting(L"Port"), L"80");
    EXPECT_TRUE(EndsWith(Utf8ToWide(Base(L"conf\\workers.properties")), L"\r\nworker.ajp13.port=8009\r\n"));
}

TEST_F(TomcatSetupTest, NothingIsTouchedWhenUnpackingFailsOrASeriesRunsOut) {
    struct Row { const char* name; int unzipExit; std::function<bool(int)> busy; const wchar_t* role; };
    const Row rows[] = {
        {"unzip fails", 9, Busy({}), nullptr},
        {"no shutdown port", 0, [](int p) { return p % 10 == 5; }, L"shutdown port"},
        {"no AJP port", 0, [](int p) { return p % 10 == 9; }, L"AJP connector port"},
        {"no HTTP port", 0, [](int p) { return p == 80 || p % 1000 == 80; }, L"HTTP port"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Unpacked();
        procs.Queue({0, {}, static_cast<uint32_t>(r.unzipExit), 0});
        net.busy = r.busy;
        EXPECT_FALSE(ConfigureServerBase(&sb));
        EXPECT_EQ(Base(L"conf\\server.xml"), kStockXml);
        EXPECT_FALSE(BaseHas(L"conf\\workers.properties"));
        EXPECT_FALSE(BaseHas(L"bin\\native\\isapi_redirect.properties"));
        EXPECT_FALSE(BaseHas(L"bin\\native\\isapi_redirect.dll"));
        EXPECT_EQ(ReadSetting(L"Port"), L"");
        auto boxes = m.boxes.Take();
        if (!r.role) {
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Notice");
        EXPECT_EQ(boxes[0].icon, platform::MbIcon::Error);
        EXPECT_NE(boxes[0].text.find(L"server's " + std::wstring(r.role) + L":"), std::wstring::npos) << boxes[0].text;
    }
}

TEST_F(TomcatSetupTest, AMissingServerXmlIsAFileError) {
    EXPECT_THROW(ConfigureServerBase(&sb), IoError);
}

TEST_F(TomcatSetupTest, TomcatIsUnpackedAndTheWrapperAlwaysWritten) {
    m.machine.registry.PutString(L"HKLM\\Software\\JavaSoft\\Java Runtime Environment", L"CurrentVersion", L"1.7");
    m.machine.registry.PutString(L"HKLM\\Software\\JavaSoft\\Java Runtime Environment\\1.7", L"JavaHome",
                                 L"C:\\Program Files\\Java\\jre7");
    m.MakeDirs(L"C:\\Cal\\TCBase\\bin");
    struct Row { const wchar_t* component; const wchar_t* archive; uint32_t unzipExit; bool result; };
    const Row rows[] = {
        {L"TOMCAT", L"C:\\Cal\\apache-tomcat.zip", 0, true},
        {L"TOMCATx64", L"C:\\Cal\\apache-tomcat-x64.zip", 9, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.component);
        platform::Files().RemoveFile(kBase + std::wstring(L"bin\\catalina.bat"));
        procs.Queue({0, {}, r.unzipExit, 0});
        platform::RecordingStatusLine status;
        EXPECT_EQ(InstallTomcat(&status, r.component), r.result);
        EXPECT_EQ(status.Texts().at(0), L"Unzipping Tomcat...");
        EXPECT_EQ(procs.Starts().back().commandLine, L"-o -o \"" + std::wstring(r.archive) + L"\"");
        EXPECT_EQ(procs.Starts().back().workDir, L"C:\\Cal\\");
        // The home is named by [TOMCAT] for both archives.
        EXPECT_EQ(Base(L"bin\\catalina.bat"),
                  "@ECHO OFF\r\n"
                  "SET JRE_HOME=C:\\Program Files\\Java\\jre7\r\n"
                  "SET CATALINA_BASE=C:\\Cal\\TCBase\r\n"
                  "SET CATALINA_HOME=C:\\Cal\\apache-tomcat\r\n"
                  "\"%CATALINA_HOME%\\bin\\catalina.bat\" %1 %2 %3 %4 %5 %6 %7 %8 %9\r\n");
    }
}

}  // namespace
