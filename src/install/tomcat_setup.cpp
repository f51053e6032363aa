#include "install/tomcat_setup.h"

#include "base/text.h"
#include "core/layout.h"
#include "core/process_arch.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "install/java_runtime.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "system/CommandRunner.h"
#include "system/VariousTests.h"

namespace tide {
namespace {

const int kStockShutdownPort = 8005;
const int kStockAjpPort = 8009;
const int kStockHttpPort = 8080;

// Tells the administrator that a role found no port; true when port is one.
bool PortFound(int port, const wchar_t* role, const wchar_t* tried) {
    if (port != kNoFreePort) return true;
    platform::ShowMessage(L"No free port was found for the server's " + std::wstring(role) + L": " + tried +
                              L" are all in use.\nThe server's configuration was not changed.",
                          L"Notice", platform::MbIcon::Error);
    return false;
}

std::wstring PortAttribute(int port) { return L"port=\"" + IntToStr(port) + L"\""; }

}  // namespace

bool ConfigureServerBase(TStatusBar* sb) {
    if (!UnzipArchive(ComponentFilePath(L"CATALINA_BASE"), InstallDirectory(), sb)) return false;
    const std::wstring base = ServerBaseDir(true);
    const std::wstring serverXml = base + L"conf\\server.xml";
    std::vector<std::wstring> lines = ReadTextLines(serverXml);

    // A series that runs out stops here, before anything is written: the
    // "Port" setting is only stored once the earlier roles have their port.
    int shutdown = ChooseShutdownPort();
    if (!PortFound(shutdown, L"shutdown port", L"8005, 8015, 8025 and on up to 65535")) return false;
    ReplacePortAttribute(lines, kStockShutdownPort, shutdown);
    int ajp = ChooseAjpPort();
    if (!PortFound(ajp, L"AJP connector port", L"8009, 8019, 8029 and on up to 65529")) return false;
    ReplacePortAttribute(lines, kStockAjpPort, ajp);
    int http = ChooseHttpPort();
    if (!PortFound(http, L"HTTP port", L"80, 8080, 9080, 10080 and on up to 65080")) return false;
    ReplacePortAttribute(lines, kStockHttpPort, http);

    WriteTextLines(serverXml, lines);
    WriteIsapiRedirectConfig(ajp);
    // The outcome is ignored: without a library for this processor the
    // redirector is simply not put in place.
    const std::wstring lib = base + L"bin\\native\\isapi_redirect.dll";
    platform::Files().Copy(lib + L"." + NativeArchString(), lib, false);
    return true;
}

bool InstallTomcat(TStatusBar* sb, const std::wstring& component) {
    std::wstring archive = ComponentFilePath(component);
    if (sb) sb->SetText(L"Unzipping Tomcat...");
    return UnpackTomcat(archive, sb);
}

bool UnpackTomcat(const std::wstring& archive, TStatusBar* sb) {
    bool unpacked = UnzipArchive(archive, InstallDirectory(), sb);
    WriteCatalinaWrapper();
    return unpacked;
}

void WriteCatalinaWrapper() {
    WriteTextLines(ServerBaseDir(true) + L"bin\\catalina.bat",
                   {L"@ECHO OFF", L"SET JRE_HOME=" + FindJavaHome(), L"SET CATALINA_BASE=" + ServerBaseDir(false),
                    L"SET CATALINA_HOME=" + TomcatHomeDir(false),
                    L"\"%CATALINA_HOME%\\bin\\catalina.bat\" %1 %2 %3 %4 %5 %6 %7 %8 %9"});
}

void WriteIsapiRedirectConfig(int ajpPort) {
    const std::wstring base = ServerBaseDir(true);
    WriteTextLines(base + L"bin\\native\\isapi_redirect.properties",
                   {L"extension_uri=/jakarta/isapi_redirect.dll", L"log_file=" + base + L"logs\\isapi_redirect.log",
                    L"# Log level (debug, info, warn, error or trace)", L"log_level=error",
                    L"worker_file=" + base + L"conf\\workers.properties",
                    L"worker_mount_file=" + base + L"conf\\uriworkermap.properties"});
    WriteTextLines(base + L"conf\\workers.properties",
                   {L"worker.list=ajp13", L"worker.ajp13.type=ajp13", L"worker.ajp13.host=localhost",
                    L"worker.ajp13.port=" + IntToStr(ajpPort)});
}

// Past 65535 a port number would wrap around to some other port, so the
// search ends there instead of probing the wrong one.
int FindFreePort(int first, int step) {
    for (int port = first; port >= 1 && port <= kLastPort; port += step) {
        if (!PortAnswering(port, kPortChoiceTimeoutMs)) return port;
        if (step <= 0) break;
    }
    return kNoFreePort;
}

int ChooseShutdownPort() { return FindFreePort(kStockShutdownPort, 10); }

int ChooseAjpPort() { return FindFreePort(kStockAjpPort, 10); }

int ChooseHttpPort() {
    int port = PortAnswering(80, kPortChoiceTimeoutMs) ? FindFreePort(kStockHttpPort, 1000) : 80;
    if (port != kNoFreePort) WriteSetting(L"Port", IntToStr(port));
    return port;
}

void ReplacePortAttribute(std::vector<std::wstring>& lines, int oldPort, int newPort) {
    if (oldPort == newPort) return;
    const std::wstring search = PortAttribute(oldPort);
    const std::wstring replacement = PortAttribute(newPort);
    for (auto& line : lines) {
        size_t at = line.find(search);
        if (at != std::wstring::npos) line.replace(at, search.size(), replacement);
    }
}

}  // namespace tide
