// A small Windows service for tests: it listens on a TCP port of 127.0.0.1,
// answers every HTTP request with "200 OK" and a short text, and stops on
// SERVICE_CONTROL_STOP (or SHUTDOWN).
//
//   sc create NAME binPath= "C:\path\tidesvc.exe PORT" start= demand
//   tidesvc.exe PORT --console     runs the same server in the foreground
//                                  until Enter is pressed
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
SERVICE_STATUS gStatus = {};
HANDLE gStopEvent = nullptr;
int gPort = 0;

void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
    static DWORD checkPoint = 1;
    gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    gStatus.dwCurrentState = state;
    gStatus.dwWin32ExitCode = exitCode;
    gStatus.dwWaitHint = waitHint;
    gStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    gStatus.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPoint++;
    if (gStatusHandle) SetServiceStatus(gStatusHandle, &gStatus);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING, NO_ERROR, 3000);
            SetEvent(gStopEvent);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void Answer(SOCKET c) {
    // Read the request head (up to the blank line or 4 KB), then answer.
    char buf[4096];
    std::string req;
    DWORD until = GetTickCount() + 2000;
    while (req.find("\r\n\r\n") == std::string::npos && req.size() < sizeof buf && GetTickCount() < until) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(c, &r);
        timeval tv = {0, 100000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        int n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
    }
    const char body[] = "tidesvc answering\r\n";
    std::string resp = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                       std::to_string(sizeof body - 1) + "\r\nConnection: close\r\n\r\n" + body;
    send(c, resp.data(), static_cast<int>(resp.size()), 0);
    shutdown(c, SD_SEND);
    closesocket(c);
}

// Serves until the stop event is set. False when the port cannot be opened.
bool Serve() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(gPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 8) != 0) {
        closesocket(s);
        return false;
    }
    Report(SERVICE_RUNNING);
    while (WaitForSingleObject(gStopEvent, 0) == WAIT_TIMEOUT) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval tv = {0, 100000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        SOCKET c = accept(s, nullptr, nullptr);
        if (c != INVALID_SOCKET) Answer(c);
    }
    closesocket(s);
    WSACleanup();
    return true;
}

int PortFromCommandLine() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int port = argv && argc > 1 ? _wtoi(argv[1]) : 0;
    if (argv) LocalFree(argv);
    return port;
}

void WINAPI ServiceMain(DWORD, LPWSTR* argv) {
    gStatusHandle = RegisterServiceCtrlHandlerExW(argv && argv[0] ? argv[0] : L"", Control, nullptr);
    if (!gStatusHandle) return;
    Report(SERVICE_START_PENDING, NO_ERROR, 3000);
    gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gPort = PortFromCommandLine();
    bool ok = gPort > 0 && Serve();
    Report(SERVICE_STOPPED, ok ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

DWORD WINAPI WaitForEnter(LPVOID) {
    std::getchar();
    SetEvent(gStopEvent);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2 && std::wcscmp(argv[2], L"--console") == 0) {
        gPort = _wtoi(argv[1]);
        gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE waiter = CreateThread(nullptr, 0, WaitForEnter, nullptr, 0, nullptr);
        bool ok = Serve();
        if (waiter) CloseHandle(waiter);
        std::printf(ok ? "stopped\n" : "cannot listen\n");
        return ok ? 0 : 1;
    }
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(L""), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        std::printf("tidesvc: not started as a service (error %lu); try: tidesvc PORT --console\n",
                    GetLastError());
        return 1;
    }
    return 0;
}
