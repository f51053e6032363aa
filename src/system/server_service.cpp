#include "system/server_service.h"

#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "core/ArchAwareRegistry.h"
#include "core/layout.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "system/CommandRunner.h"
#include "system/ServiceManager.h"
#include "system/VariousTests.h"
#include "system/shortcuts.h"

namespace tide {

const wchar_t kServerServiceName[] = L"Tidewell";

namespace {

const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tidewell";
const wchar_t kSqlServerKey[] = L"SYSTEM\\CurrentControlSet\\Services\\MSSQLSERVER";
const wchar_t kSqlServerName[] = L"MSSQLSERVER";
const wchar_t kConnectorKey[] = L"SOFTWARE\\Apache Software Foundation\\Jakarta Isapi Redirector\\1.0";
const wchar_t kScriptVariablePrefix[] = L"set CATALINA_";
constexpr int32_t kAutomaticStart = 2;

void Notice(const std::wstring& text, platform::MbIcon icon) { platform::ShowMessage(text, L"Notice", icon); }

// cmd.exe /C takes off the first and the last quote of the rest of its
// command line whenever the text between them holds a character such as
// "(" or "&" ("C:\Program Files (x86)\..."): the extra outer pair keeps
// the script's own quotes whatever the install directory is called.
std::wstring InterpreterCommand(const std::wstring& quotedScriptAndArgs) {
    return L"/C \"" + quotedScriptAndArgs + L"\"";
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

bool StartStopService(const std::wstring& action) {
    TServiceManager sm;
    if (!sm.Connect(nullptr, nullptr, kScManagerAllAccess)) return false;
    if (!sm.OpenServiceConnection(kServerServiceName)) return false;
    if (action == L"start") return sm.StartService();
    bool requested = sm.StopService();
    // A service that hangs in its stop must not hold the installer for
    // ever: after the bound the stop counts as failed and the user is told.
    if (!sm.WaitUntilStopped(kServiceStopTimeoutMs, kServiceStopPollMs)) {
        Notice(L"The Tidewell service did not stop within " + IntToStr(kServiceStopTimeoutMs / 1000) + L" seconds.",
               platform::MbIcon::Error);
        return false;
    }
    return requested;
}

// Service dependency on SQL Server's default instance when that starts
// automatically, so the calendar server does not come up before its
// database. Failures are silent.
void AddSqlServerDependency() {
    TArchAwareRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(kSqlServerKey)) return;
    bool automatic = reg.ValueExists(L"Start") && reg.ReadInteger(L"Start") == kAutomaticStart;
    reg.CloseKey();
    if (!automatic) return;
    TArchAwareRegistry service(KEY_SET_VALUE);
    service.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!service.OpenKey(kServiceKey, false)) return;
    WriteMultiString(service, L"DependOnService", {kSqlServerName});
    service.CloseKey();
}

// The service program of an ImagePath: the text before the first "//"
// (where the service's own switches begin), trimmed.
std::wstring ServiceProgram(const std::wstring& imagePath) {
    size_t switches = imagePath.find(L"//");
    if (switches == std::wstring::npos) return imagePath;
    std::wstring program = imagePath.substr(0, switches);
    size_t first = 0;
    while (first < program.size() && static_cast<unsigned>(program[first]) <= L' ') ++first;
    size_t last = program.size();
    while (last > first && program[last - 1] == L' ') --last;
    return program.substr(first, last - first);
}

}  // namespace

bool SetServerRunning(bool start) {
    bool running = ServerRunning();
    if (running == start) return false;
    return StartStopServer(CommandInterpreterPath(), start ? L"start" : L"stop");
}

bool StartStopServer(const std::wstring& interpreter, const std::wstring& action) {
    if (IsServiceInstalled()) return StartStopService(action);
    std::wstring wrapper = ServerBaseDir(true) + L"bin\\catalina.bat";
    return RunAndWait(interpreter, InterpreterCommand(Quoted(wrapper) + L" " + action), ServerBaseDir(false));
}

void PrepareServiceScript(const std::wstring& base, const std::wstring& home) {
    if (!platform::Files().DirectoryExists(base)) throw Error(L"Directory " + base + L" does not exist.");
    const std::wstring script = AddTrailingBackslash(base) + L"bin\\service.bat";
    std::vector<std::wstring> lines;
    for (const auto& line : ReadTextLines(script))
        if (!StartsWith(line, kScriptVariablePrefix)) lines.push_back(line);
    // After the first line that stays (a script with none gets the two
    // settings alone).
    auto at = lines.empty() ? lines.begin() : lines.begin() + 1;
    lines.insert(at, {L"set CATALINA_BASE=" + base, L"set CATALINA_HOME=" + home});
    WriteTextLines(script, lines);
}

bool InstallServerService() {
    TCommandRunner runner(true);
    const std::wstring base = ServerBaseDir(false);
    const std::wstring home = TomcatHomeDir(false);
    PrepareServiceScript(base, home);
    std::wstring comSpec = platform::Env().Variable(L"ComSpec");
    if (!runner.RunCommand(comSpec, InterpreterCommand(Quoted(base + L"\\bin\\service.bat")), home)) {
        Notice(L"The service could not be created.", platform::MbIcon::Error);
        return false;
    }
    WriteSetting(L"ServiceInstalled", L"Y");
    AddSqlServerDependency();
    CreateServiceShortcuts(InstallDirectory());
    return true;
}

bool ServiceOfThisInstallation() {
    const std::wstring dir = InstallDirectory();
    if (dir.empty()) return false;
    TArchAwareRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(kServiceKey)) return false;
    std::wstring program = ServiceProgram(reg.ReadString(L"ImagePath"));
    reg.CloseKey();
    if (!program.empty() && program[0] == L'"') program.erase(0, 1);
    return StartsWith(LowerCase(program), LowerCase(AddTrailingBackslash(dir)));
}

void RemoveServerService(bool quiet) {
    TArchAwareRegistry reg(KEY_WRITE);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.DeleteKey(kConnectorKey);  // a missing key is fine
    reg.SetAccess(KEY_READ);
    if (!reg.OpenKeyReadOnly(kServiceKey)) return;
    std::wstring imagePath = reg.ReadString(L"ImagePath");
    reg.CloseKey();
    if (imagePath.empty()) return;

    // The program is quoted whatever ImagePath held: an unquoted path with a
    // blank ("C:\Program Files\...") would otherwise start "C:\Program.exe".
    std::wstring program = ServiceProgram(imagePath);
    if (!program.empty() && program[0] == L'"') program = program.substr(1, program.find(L'"', 1) - 1);
    TCommandRunner runner(true);
    std::wstring command = Quoted(program) + L" //DS//" + kServerServiceName;
    if (!runner.RunCommand(L"", command, L"")) {
        Notice(L"The service could not be removed.", platform::MbIcon::Error);
        return;
    }
    WriteSetting(L"ServiceInstalled", L"N");
    CreateServiceShortcuts(InstallDirectory());
    if (!quiet) Notice(L"The service has been removed.", platform::MbIcon::Information);
}

}  // namespace tide
