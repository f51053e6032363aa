// The service manager and the environment probes on Windows: a real service
// (tools/win/tidesvc.exe) started and stopped through TServiceManager, real
// sockets, the version record, the file-release wait.
//
//   sys_service_test.exe service NAME PORT   the service cases (NAME is an
//       installed tidesvc listening on PORT once started)
//   sys_service_test.exe probes              the probes on this system, and
//       the deletion of a registry key with subkeys
//   sys_service_test.exe xp                  ServerURL when Windows reports
//       a version before Vista
//   sys_service_test.exe open-missing        OpenServiceConnection of a name
//       that is not installed, real message boxes (for the dialog robot)
//   sys_service_test.exe message CODE        the system's text for CODE as
//       the robot prints box texts (513 characters at most)
// Prints "ok: case" or "FAIL: case: why" per case; exit code = failures.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/ArchAwareRegistry.h"
#include "core/settings.h"
#include "base/encoding.h"
#include "base/text.h"
#include "platform/message_box.h"
#include "platform/services.h"
#include "platform/win32/win32_util.h"
#include "system/ServiceManager.h"
#include "system/VariousTests.h"
#include "report.h"

using namespace tide;
using Clock = std::chrono::steady_clock;

namespace {

void Check(bool ok, const char* name, const std::wstring& why = L"") { Report(name, ok, why); }

long long MsSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

std::wstring Ms(long long ms) { return std::to_wstring(ms) + L" ms"; }

using Box = platform::ShownBox;
using RecordingBoxes = platform::RecordingMessageBoxes;

// Passes every call to the system and records which handles were closed.
class RecordingServices : public platform::ServiceControl {
public:
    platform::ServiceControl& real = platform::Port<platform::ServiceControl>::Default();
    std::vector<platform::ScHandle> managers, services, closed;

    platform::ScHandle OpenManager(const wchar_t* m, const wchar_t* d, uint32_t a) override {
        platform::ScHandle h = real.OpenManager(m, d, a);
        if (h) managers.push_back(h);
        return h;
    }
    platform::ScHandle Open(platform::ScHandle m, const wchar_t* n, uint32_t a) override {
        platform::ScHandle h = real.Open(m, n, a);
        if (h) services.push_back(h);
        return h;
    }
    bool Start(platform::ScHandle s, uint32_t c, const wchar_t** v) override { return real.Start(s, c, v); }
    bool Control(platform::ScHandle s, uint32_t c) override { return real.Control(s, c); }
    bool QueryState(platform::ScHandle s, uint32_t& st) override { return real.QueryState(s, st); }
    void Close(platform::ScHandle h) override {
        closed.push_back(h);
        real.Close(h);
    }
    uint32_t LastError() override { return real.LastError(); }
};

std::wstring RobotText(const std::wstring& t) {
    std::wstring out;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == L'\r' && i + 1 < t.size() && t[i + 1] == L'\n') continue;
        out += (t[i] == L'\r' || t[i] == L'\n') ? std::wstring(L"\\n") : std::wstring(1, t[i]);
    }
    return out;
}

bool StartWinsock() {
    WSADATA wsa;
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

// GET / on 127.0.0.1:port; the whole answer, or empty text.
std::string HttpGet(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string got;
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const char req[] = "GET /calendar/ HTTP/1.0\r\nHost: localhost\r\n\r\n";
        send(s, req, sizeof req - 1, 0);
        char buf[1024];
        int n;
        while ((n = recv(s, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<size_t>(n));
    }
    closesocket(s);
    return got;
}

// A listening socket on a free port of 127.0.0.1.
struct Listener {
    SOCKET s = INVALID_SOCKET;
    int port = 0;
    explicit Listener(int backlog = 4) {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(s, backlog);
        int len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { closesocket(s); }
};

void ServiceCases(const std::wstring& name, int port) {
    RecordingServices rec;
    platform::ScopedPort<platform::ServiceControl> recPort(rec);
    RecordingBoxes boxes;
    platform::ScopedPort<platform::MessageBoxes> boxPort(boxes);
    {
        TServiceManager sm;
        Check(sm.Connect(nullptr, nullptr, kScManagerAllAccess), "connect to the service manager");
        Check(sm.OpenServiceConnection(name.c_str()), "open the test service");
        Check(sm.ServiceStopped() && !sm.ServiceRunning(), "installed service is stopped",
              std::to_wstring(sm.GetStatus()));
        Check(!PortAnswering(port), "nothing answers on the service's port yet");

        auto t0 = Clock::now();
        Check(sm.StartService(), "StartService accepted", Ms(MsSince(t0)));
        long long accepted = MsSince(t0);
        while (!sm.ServiceRunning() && MsSince(t0) < 10000) Sleep(10);
        long long running = MsSince(t0);
        Check(sm.ServiceRunning(), "ServiceRunning becomes true",
              L"state " + std::to_wstring(sm.GetStatus()) + L" after " + Ms(running));
        std::printf("  start accepted after %lld ms, running after %lld ms\n", accepted, running);
        Check(PortAnswering(port), "the service's port answers");
        std::string answer = HttpGet(port);
        Check(answer.rfind("HTTP/1.0 200 OK", 0) == 0, "the service answers HTTP", Utf8ToWide(answer));
        Check(!sm.StartService(), "a second start is refused");

        t0 = Clock::now();
        Check(sm.StopService(), "StopService accepted");
        bool stopped = sm.WaitUntilStopped(10000, 20);
        long long stopMs = MsSince(t0);
        Check(stopped && sm.ServiceStopped(), "ServiceStopped becomes true", Ms(stopMs));
        std::printf("  stopped after %lld ms\n", stopMs);
        Check(!PortAnswering(port), "the port is free again after the stop");
        Check(!sm.StopService(), "stopping a stopped service is refused");
        Check(sm.ServiceStopped(), "and it still reads as stopped");
        Check(boxes.Shown().empty(), "no boxes on the way");
    }
    Check(rec.managers.size() == 1 && rec.services.size() == 1 && rec.closed.size() == 2 &&
              rec.closed[0] == rec.services[0] && rec.closed[1] == rec.managers[0],
          "destruction closes the service, then the manager");

    rec.managers.clear();
    rec.services.clear();
    rec.closed.clear();
    {
        TServiceManager sm;
        sm.Connect(nullptr, nullptr, kScManagerAllAccess);
        bool ok = sm.OpenServiceConnection(L"TidestartNoSuchService");
        std::wstring expected = platform::win32::SystemMessage(1060, 513);
        Check(!ok, "opening a service that is not installed fails");
        Check(boxes.Shown().size() == 1 && boxes.Shown()[0].caption == L"Notice" &&
                  boxes.Shown()[0].icon == platform::MbIcon::Warning && boxes.Shown()[0].text == expected &&
                  !expected.empty(),
              "one Notice box with the text for error 1060",
              boxes.Shown().empty() ? L"none" : boxes.Shown()[0].text);
        Check(sm.GetStatus() == kServiceStateUnknown && !sm.ServiceStopped() && !sm.ServiceRunning(),
              "no service open: state unknown, neither stopped nor running");
    }
    Check(rec.closed.size() == 1 && rec.managers.size() == 1 && rec.closed[0] == rec.managers[0],
          "then only the manager connection is closed");

    rec.closed.clear();
    {
        // A database that does not exist: the connection fails quietly.
        TServiceManager sm;
        bool ok = sm.Connect(nullptr, L"NoSuchDatabase", kScManagerAllAccess);
        Check(!ok, "connect to an unknown database fails");
    }
    Check(rec.closed.empty() && boxes.Shown().size() == 1, "a failed connect closes nothing and shows nothing");
}

void ProbeCases() {
    TOSVersionInfo info;
    GetOSVersion(info);
    Check(info.dwOSVersionInfoSize == 276 && info.dwPlatformId == 2 && info.dwMajorVersion >= 6,
          "version record of an NT system from Vista on",
          std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion));
    Check(IsWindowsNT(), "IsWindowsNT");
    Check(IsAdministrator(), "IsAdministrator (the prefix's user is an administrator)");

    wchar_t comspec[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ComSpec", comspec, MAX_PATH);
    Check(n > 0 && CommandInterpreterPath() == std::wstring(comspec, n),
          "CommandInterpreterPath of a 64-bit process is ComSpec", CommandInterpreterPath());

    int port = ServerPort();
    std::wstring url = ServerURL();
    std::wstring expected = L"http://localhost" + (port == 80 ? std::wstring() : L":" + std::to_wstring(port)) +
                            L"/calendar/";
    Check(url == expected, "ServerURL from Vista on names localhost", url);

    {
        Listener l;
        Check(PortAnswering(l.port), "PortAnswering: any listener answers");
        Check(PortAnswering(l.port), "PortAnswering: again");
    }
    int freePort;
    {
        Listener l;
        freePort = l.port;
    }
    auto t0 = Clock::now();
    bool answered = PortAnswering(freePort);
    long long ms = MsSince(t0);
    Check(!answered && ms < 100, "PortAnswering: a free port is refused in under 100 ms", Ms(ms));
    std::printf("  refused after %lld ms\n", ms);
    {
        // A listener that never accepts, its queue full after one probe: the
        // next probe gets no answer and gives up after its time-out.
        Listener l(0);
        bool first = PortAnswering(l.port);
        t0 = Clock::now();
        answered = PortAnswering(l.port);
        ms = MsSince(t0);
        Check(first && !answered && ms < 600, "PortAnswering: a silent listener is given up in under 600 ms", Ms(ms));
        std::printf("  given up after %lld ms\n", ms);
    }

    // The file-release wait on real files.
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring path = std::wstring(tmp) + L"tidestart-release-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    t0 = Clock::now();
    Check(!WaitForFileRelease(path + L".none") && MsSince(t0) < 100, "WaitForFileRelease: missing file at once");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    Check(h != INVALID_HANDLE_VALUE, "test file created");
    std::thread releaser([h] {
        Sleep(700);
        CloseHandle(h);
    });
    t0 = Clock::now();
    bool released = WaitForFileRelease(path);
    ms = MsSince(t0);
    releaser.join();
    Check(released && ms >= 700 && ms < 1500, "WaitForFileRelease: true once the holder closes", Ms(ms));
    HANDLE h2 = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    t0 = Clock::now();
    released = WaitForFileRelease(path, 600);
    ms = MsSince(t0);
    CloseHandle(h2);
    Check(!released && ms >= 600 && ms < 1300, "WaitForFileRelease: the bound ends the wait", Ms(ms));
    t0 = Clock::now();
    released = WaitForFileRelease(path);
    ms = MsSince(t0);
    Check(released && ms >= 250 && ms < 600, "WaitForFileRelease: free file after one 250 ms sleep", Ms(ms));
    // Nobody holds a read-only file: it cannot be opened for writing, and
    // waiting does not change that. (Wine run as root opens it all the same.)
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE w = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (w != INVALID_HANDLE_VALUE) {
        CloseHandle(w);
        std::printf("skipped: WaitForFileRelease of a read-only file (this system opens it for writing)\n");
    } else {
        t0 = Clock::now();
        released = WaitForFileRelease(path, 1500);
        ms = MsSince(t0);
        Check(!released && ms < 600, "WaitForFileRelease: a read-only file ends the wait after one sleep", Ms(ms));
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

// A write-only accessor deletes a key with subkeys, through the base
// deletion and through RegDeleteKeyExW in the 64-bit view.
void RegistryCases() {
    const std::wstring key = L"Software\\TidestartTest" + std::to_wstring(GetCurrentProcessId());
    const struct {
        uint32_t access;
        const char* name;
    } cases[] = {
        {KEY_WRITE, "DeleteKey with KEY_WRITE removes subkeys"},
        {KEY_WRITE | KEY_WOW64_64KEY, "DeleteKey with KEY_WRITE in the 64-bit view removes subkeys"},
    };
    for (const auto& c : cases) {
        HKEY h = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, (key + L"\\A\\B").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                        nullptr);
        RegCloseKey(h);
        TArchAwareRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        reg.TRegistry::SetAccess(c.access);  // the view flag as under WOW64
        bool ok = reg.DeleteKey(L"\\" + key);
        bool gone = RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &h) == ERROR_FILE_NOT_FOUND;
        if (!gone) {
            RegCloseKey(h);
            RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        }
        Check(ok && gone, c.name);
    }
}

void XpCases() {
    TOSVersionInfo info;
    GetOSVersion(info);
    Check(info.dwMajorVersion == 5, "the system reports Windows XP", std::to_wstring(info.dwMajorVersion));
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD len = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &len);
    int port = ServerPort();
    std::wstring expected = L"http://" + std::wstring(name, len) +
                            (port == 80 ? std::wstring() : L":" + std::to_wstring(port)) + L"/calendar/";
    Check(len > 0 && ServerURL() == expected, "ServerURL before Vista names the computer", ServerURL());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!StartWinsock()) return 99;
    if (mode == L"message" && argc > 2) {
        std::printf("%s\n", WideToUtf8(RobotText(platform::win32::SystemMessage(std::stoul(argv[2]), 513))).c_str());
        return 0;
    }
    if (mode == L"open-missing") {
        TServiceManager sm;
        sm.Connect(nullptr, nullptr, kScManagerAllAccess);
        return sm.OpenServiceConnection(L"TidestartNoSuchService") ? 0 : 1;
    }
    if (mode == L"service" && argc > 3) {
        ServiceCases(argv[2], std::stoi(argv[3]));
    } else if (mode == L"probes") {
        ProbeCases();
        RegistryCases();
    } else if (mode == L"xp") {
        XpCases();
    } else {
        std::printf("usage: sys_service_test service NAME PORT | probes | xp | open-missing | message CODE\n");
        return 2;
    }
    std::printf("%d failure(s)\n", gFailures);
    return gFailures;
}
