// Stand-in of Tomcat's server and service program (bin\tomcat7.exe in the
// stand-in Tomcat home). A test fixture, not Tomcat: it serves static files
// and nothing else.
//
//   tomcat7.exe run            serves in the foreground (catalina.bat start
//                              starts it so, in a console of its own)
//   tomcat7.exe stop           sends the shutdown command to a running server
//   tomcat7.exe //RS//NAME     runs as the Windows service NAME
//   tomcat7.exe //DS//NAME     stops and deletes the service NAME, exit 0 on success
//
// The instance is CATALINA_BASE (default: CATALINA_HOME, default: the folder
// above this program's bin folder). A service reads CatalinaBase and
// CatalinaHome from HKLM\SYSTEM\CurrentControlSet\Services\NAME\Parameters
// (bin\service.bat writes them) before the environment.
//
// From %CATALINA_BASE%\conf\server.xml (comments skipped) it takes the port
// and shutdown attributes of <Server> (the shutdown port and command), the
// port of the first <Connector> whose protocol is HTTP (no protocol, HTTP/...,
// or a class name with Http11) and that of the first AJP connector, and
// listens on 127.0.0.1 on each (AJP connections are accepted and closed).
// A GET or HEAD of /NAME/PATH serves the file PATH of the docBase of the
// context file conf\Catalina\localhost\NAME.xml, read at each request, so a
// context written while the server runs is deployed at once; ROOT.xml serves
// the paths no other context claims. A folder serves its index.html or
// index.htm; /NAME without the slash is redirected to /NAME/. A relative
// docBase lies under %CATALINA_BASE%\webapps. The command (SHUTDOWN unless
// server.xml says otherwise) sent to the shutdown port stops the server, as
// a service too. One line per event goes to %CATALINA_BASE%\logs\standin.log
// (and to the console when run in the foreground).
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

struct ServerConfig {
    int shutdownPort = -1;
    std::string shutdownCommand = "SHUTDOWN";
    int httpPort = -1;
    int ajpPort = -1;
};

std::wstring gBase;         // CATALINA_BASE, no trailing backslash
std::wstring gHome;         // CATALINA_HOME
bool gConsole = false;      // echo the log to stdout
HANDLE gStopEvent = nullptr;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
std::wstring gServiceName;

// ---- text ----------------------------------------------------------------

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Widen(const std::string& s, UINT codePage) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

bool ReadWholeFile(const std::wstring& path, std::string& out) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    out.clear();
    char buf[8192];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(f);
    return true;
}

// A text file as written by Windows tools: UTF-16 or UTF-8 by its byte-order
// mark, else the ANSI code page.
bool ReadTextFile(const std::wstring& path, std::wstring& text) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return false;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = Widen(bytes.substr(3), CP_UTF8);
    } else {
        text = Widen(bytes, CP_ACP);
    }
    return true;
}

// ---- log -----------------------------------------------------------------

void Log(const std::wstring& line) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    std::string text = stamp + Utf8(line) + "\r\n";
    if (gConsole) {
        std::fputs(text.c_str() + 20, stdout);
        std::fflush(stdout);
    }
    if (gBase.empty()) return;
    HANDLE f = CreateFileW((gBase + L"\\logs\\standin.log").c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

// ---- server.xml and context files ----------------------------------------

std::wstring WithoutComments(const std::wstring& text) {
    std::wstring out;
    size_t at = 0;
    for (;;) {
        size_t open = text.find(L"<!--", at);
        if (open == std::wstring::npos) {
            out.append(text, at, std::wstring::npos);
            return out;
        }
        out.append(text, at, open - at);
        size_t close = text.find(L"-->", open + 4);
        if (close == std::wstring::npos) return out;
        at = close + 3;
    }
}

std::wstring XmlUnescape(const std::wstring& v) {
    static const std::pair<const wchar_t*, wchar_t> entities[] = {
        {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}};
    std::wstring out;
    for (size_t i = 0; i < v.size(); ++i) {
        bool done = false;
        if (v[i] == L'&') {
            for (const auto& e : entities) {
                size_t n = std::wcslen(e.first);
                if (v.compare(i, n, e.first) == 0) {
                    out += e.second;
                    i += n - 1;
                    done = true;
                    break;
                }
            }
        }
        if (!done) out += v[i];
    }
    return out;
}

using Attributes = std::map<std::wstring, std::wstring>;

// The attributes of every start tag <NAME ...> in the text, in order.
std::vector<Attributes> Tags(const std::wstring& text, const std::wstring& name) {
    std::vector<Attributes> tags;
    std::wstring open = L"<" + name;
    size_t at = 0;
    while ((at = text.find(open, at)) != std::wstring::npos) {
        size_t p = at + open.size();
        at = p;
        if (p < text.size() && !iswspace(text[p]) && text[p] != L'>' && text[p] != L'/') continue;
        Attributes attrs;
        while (p < text.size() && text[p] != L'>') {
            while (p < text.size() && iswspace(text[p])) ++p;
            size_t nameStart = p;
            while (p < text.size() && text[p] != L'=' && text[p] != L'>' && !iswspace(text[p])) ++p;
            std::wstring attr = text.substr(nameStart, p - nameStart);
            while (p < text.size() && iswspace(text[p])) ++p;
            if (p >= text.size() || text[p] != L'=') {
                if (p < text.size() && text[p] != L'>') ++p;
                continue;
            }
            ++p;
            while (p < text.size() && iswspace(text[p])) ++p;
            if (p >= text.size() || (text[p] != L'"' && text[p] != L'\'')) continue;
            wchar_t quote = text[p++];
            size_t end = text.find(quote, p);
            if (end == std::wstring::npos) break;
            attrs[attr] = XmlUnescape(text.substr(p, end - p));
            p = end + 1;
        }
        tags.push_back(attrs);
    }
    return tags;
}

int PortOf(const Attributes& a) {
    auto it = a.find(L"port");
    return it == a.end() || it->second.empty() ? -1 : _wtoi(it->second.c_str());
}

bool LoadConfig(ServerConfig& config, std::wstring& error) {
    std::wstring path = gBase + L"\\conf\\server.xml";
    std::wstring text;
    if (!ReadTextFile(path, text)) {
        error = L"cannot read " + path;
        return false;
    }
    text = WithoutComments(text);
    std::vector<Attributes> servers = Tags(text, L"Server");
    if (!servers.empty()) {
        config.shutdownPort = PortOf(servers[0]);
        auto it = servers[0].find(L"shutdown");
        if (it != servers[0].end()) config.shutdownCommand = Utf8(it->second);
    }
    for (const Attributes& c : Tags(text, L"Connector")) {
        auto it = c.find(L"protocol");
        std::wstring protocol = it == c.end() ? L"" : it->second;
        bool ajp = protocol.compare(0, 4, L"AJP/") == 0 || protocol.find(L"Ajp") != std::wstring::npos;
        bool http = protocol.empty() || protocol.compare(0, 5, L"HTTP/") == 0 ||
                    protocol.find(L"Http11") != std::wstring::npos;
        if (ajp && config.ajpPort < 0) config.ajpPort = PortOf(c);
        if (http && config.httpPort < 0) config.httpPort = PortOf(c);
    }
    if (config.httpPort <= 0) {
        error = L"no HTTP connector port in " + path;
        return false;
    }
    return true;
}

// The docBase of context NAME as a folder path without a trailing separator;
// empty when the context file is missing or has no docBase.
std::wstring DocBase(const std::wstring& name) {
    std::wstring text;
    if (!ReadTextFile(gBase + L"\\conf\\Catalina\\localhost\\" + name + L".xml", text)) return std::wstring();
    std::vector<Attributes> contexts = Tags(WithoutComments(text), L"Context");
    if (contexts.empty()) return std::wstring();
    auto it = contexts[0].find(L"docBase");
    if (it == contexts[0].end() || it->second.empty()) return std::wstring();
    std::wstring raw = it->second;
    bool absolute = (raw.size() > 1 && raw[1] == L':') || raw[0] == L'\\' || raw[0] == L'/';
    if (!absolute) raw = gBase + L"\\webapps\\" + raw;
    // One separator between names, as the file system reads the path
    // (a context file may write C:\\Cal\\app); a UNC start stays.
    std::wstring path;
    for (size_t i = 0; i < raw.size(); ++i) {
        wchar_t c = raw[i] == L'/' ? L'\\' : raw[i];
        if (c == L'\\' && !path.empty() && path.back() == L'\\' && !(path.size() == 1 && i == 1)) continue;
        path += c;
    }
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// ---- HTTP ----------------------------------------------------------------

bool SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        int n = send(s, data, static_cast<int>(size), 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SendSimple(SOCKET s, const char* status, const std::string& body, bool head, const std::string& extra = "") {
    std::string resp = std::string("HTTP/1.1 ") + status + "\r\nServer: Tidewell-standin\r\nContent-Type: text/plain\r\n" +
                       extra + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!head) resp += body;
    SendAll(s, resp.data(), resp.size());
}

const char* ContentType(const std::wstring& path) {
    static const std::pair<const wchar_t*, const char*> types[] = {
        {L".html", "text/html"}, {L".htm", "text/html"}, {L".txt", "text/plain"}, {L".css", "text/css"},
        {L".js", "application/javascript"}, {L".xml", "application/xml"}, {L".png", "image/png"},
        {L".jpg", "image/jpeg"}, {L".gif", "image/gif"}};
    size_t dot = path.find_last_of(L'.');
    if (dot != std::wstring::npos && path.find(L'\\', dot) == std::wstring::npos) {
        for (const auto& t : types)
            if (_wcsicmp(path.c_str() + dot, t.first) == 0) return t.second;
    }
    return "application/octet-stream";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decoded path of a request target (query and fragment dropped).
bool DecodePath(const std::string& target, std::wstring& path) {
    std::string raw = target.substr(0, target.find_first_of("?#"));
    std::string bytes;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%') {
            if (i + 2 >= raw.size() || HexDigit(raw[i + 1]) < 0 || HexDigit(raw[i + 2]) < 0) return false;
            char c = static_cast<char>(HexDigit(raw[i + 1]) * 16 + HexDigit(raw[i + 2]));
            if (c == '\0') return false;
            bytes += c;
            i += 2;
        } else {
            bytes += raw[i];
        }
    }
    path = Widen(bytes, CP_UTF8);
    return !path.empty() && path[0] == L'/';
}

bool SafeContextName(const std::wstring& name) {
    if (name.empty() || name[0] == L'.') return false;
    for (wchar_t c : name)
        if (!(iswalnum(c) || c == L'-' || c == L'_' || c == L'.')) return false;
    return true;
}

// Sends the file or the folder's welcome file; false when there is none.
bool SendFile(SOCKET s, const std::wstring& url, std::wstring path, bool head, int& status) {
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return false;
    if (attr & FILE_ATTRIBUTE_DIRECTORY) {
        if (url.empty() || url.back() != L'/') {
            status = 302;
            SendSimple(s, "302 Found", "", head, "Location: " + Utf8(url) + "/\r\n");
            return true;
        }
        const wchar_t* welcome[] = {L"index.html", L"index.htm"};
        bool found = false;
        for (const wchar_t* w : welcome) {
            std::wstring candidate = path + L"\\" + w;
            DWORD a = GetFileAttributesW(candidate.c_str());
            if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY)) {
                path = candidate;
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    GetFileSizeEx(f, &size);
    std::string head_ = std::string("HTTP/1.1 200 OK\r\nServer: Tidewell-standin\r\nContent-Type: ") +
                        ContentType(path) + "\r\nContent-Length: " + std::to_string(size.QuadPart) +
                        "\r\nConnection: close\r\n\r\n";
    status = 200;
    if (SendAll(s, head_.data(), head_.size()) && !head) {
        char buf[65536];
        DWORD n = 0;
        while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0 && SendAll(s, buf, n)) {
        }
    }
    CloseHandle(f);
    return true;
}

void ServeRequest(SOCKET s, const std::string& method, const std::string& target) {
    bool head = method == "HEAD";
    int status = 404;
    std::wstring url;
    if (method != "GET" && !head) {
        status = 501;
        SendSimple(s, "501 Not Implemented", "only GET and HEAD\r\n", false);
    } else if (!DecodePath(target, url)) {
        status = 400;
        SendSimple(s, "400 Bad Request", "bad path\r\n", head);
    } else {
        // Split /NAME/REST; refuse any "." or ".." segment.
        std::vector<std::wstring> segments;
        bool bad = false;
        for (size_t at = 1; at <= url.size();) {
            size_t slash = url.find(L'/', at);
            if (slash == std::wstring::npos) slash = url.size();
            std::wstring seg = url.substr(at, slash - at);
            if (seg == L"." || seg == L".." || seg.find_first_of(L"\\:") != std::wstring::npos) bad = true;
            segments.push_back(seg);
            at = slash + 1;
        }
        std::wstring docBase;
        size_t first = 0;
        if (!bad && !segments.empty() && SafeContextName(segments[0]) && segments[0] != L"ROOT") {
            docBase = DocBase(segments[0]);
            first = 1;
        }
        if (docBase.empty()) {
            docBase = DocBase(L"ROOT");
            first = 0;
        }
        bool sent = false;
        if (!bad && !docBase.empty()) {
            std::wstring path = docBase;
            for (size_t i = first; i < segments.size(); ++i)
                if (!segments[i].empty()) path += L"\\" + segments[i];
            sent = SendFile(s, url, path, head, status);
        }
        if (!sent && !bad && url == L"/") {
            status = 200;
            SendSimple(s, "200 OK", "Tidewell stand-in server\r\n", head);
            sent = true;
        }
        if (!sent) {
            status = bad ? 400 : 404;
            SendSimple(s, bad ? "400 Bad Request" : "404 Not Found", bad ? "bad path\r\n" : "not found\r\n", head);
        }
    }
    Log(Widen(method + " " + target + " " + std::to_string(status), CP_UTF8));
}

// Reads until the end of the request head (or 2 s, or 16 KiB).
std::string ReadHead(SOCKET c, const char* end) {
    std::string data;
    DWORD until = GetTickCount() + 2000;
    char buf[4096];
    while (data.find(end) == std::string::npos && data.size() < 16384 &&
           static_cast<LONG>(until - GetTickCount()) > 0) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(c, &r);
        timeval tv = {0, 100000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        int n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

void HandleHttp(SOCKET c) {
    std::string head = ReadHead(c, "\r\n\r\n");
    std::string line = head.substr(0, head.find("\r\n"));
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) {
        SendSimple(c, "400 Bad Request", "bad request\r\n", false);
    } else {
        ServeRequest(c, line.substr(0, sp1), line.substr(sp1 + 1, sp2 - sp1 - 1));
    }
    shutdown(c, SD_SEND);
    closesocket(c);
}

// True when the connection delivered the shutdown command.
bool HandleShutdown(SOCKET c, const std::string& command) {
    std::string data = ReadHead(c, "\n");
    closesocket(c);
    size_t end = 0;
    while (end < data.size() && static_cast<unsigned char>(data[end]) >= 32) ++end;
    return data.substr(0, end) == command;
}

SOCKET Listen(int port, DWORD& error) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
        return s;
    }
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0) {
        error = WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void ReportService(DWORD state, DWORD exitCode = NO_ERROR) {
    if (!gStatusHandle) return;
    static DWORD checkPoint = 1;
    SERVICE_STATUS st = {};
    st.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    st.dwCurrentState = state;
    st.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    st.dwServiceSpecificExitCode = exitCode;
    st.dwWaitHint = 3000;
    st.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    st.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPoint++;
    SetServiceStatus(gStatusHandle, &st);
}

// Serves until the stop event is set or the shutdown command arrives.
// False when the configuration cannot be read or a port cannot be opened.
bool Serve() {
    ServerConfig config;
    std::wstring error;
    if (!LoadConfig(config, error)) {
        Log(L"cannot start: " + error);
        return false;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        Log(L"cannot start: no sockets");
        return false;
    }
    struct Listener {
        int port;
        SOCKET s;
        char role;  // 'h' http, 'a' ajp, 's' shutdown
    };
    std::vector<Listener> listeners;
    const std::pair<int, char> wanted[] = {
        {config.httpPort, 'h'}, {config.shutdownPort, 's'}, {config.ajpPort, 'a'}};
    for (const auto& w : wanted) {
        if (w.first <= 0) continue;
        DWORD err = 0;
        SOCKET s = Listen(w.first, err);
        if (s == INVALID_SOCKET) {
            Log(L"cannot start: cannot listen on 127.0.0.1:" + std::to_wstring(w.first) + L" (error " +
                std::to_wstring(err) + L")");
            for (auto& l : listeners) closesocket(l.s);
            WSACleanup();
            return false;
        }
        listeners.push_back({w.first, s, w.second});
    }
    ReportService(SERVICE_RUNNING);
    Log(L"started: http " + std::to_wstring(config.httpPort) + L", shutdown " +
        std::to_wstring(config.shutdownPort) + L", ajp " + std::to_wstring(config.ajpPort) + L", base " + gBase +
        (gServiceName.empty() ? L"" : L", service " + gServiceName));
    bool running = true;
    while (running && WaitForSingleObject(gStopEvent, 0) == WAIT_TIMEOUT) {
        fd_set r;
        FD_ZERO(&r);
        for (auto& l : listeners) FD_SET(l.s, &r);
        timeval tv = {0, 100000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        for (auto& l : listeners) {
            if (!FD_ISSET(l.s, &r)) continue;
            SOCKET c = accept(l.s, nullptr, nullptr);
            if (c == INVALID_SOCKET) continue;
            if (l.role == 'h') {
                HandleHttp(c);
            } else if (l.role == 's') {
                if (HandleShutdown(c, config.shutdownCommand)) {
                    Log(L"shutdown command received");
                    running = false;
                }
            } else {
                closesocket(c);
            }
        }
    }
    for (auto& l : listeners) closesocket(l.s);
    WSACleanup();
    Log(L"stopped");
    return true;
}

// ---- locations -----------------------------------------------------------

std::wstring Env(const wchar_t* name) {
    wchar_t buf[1024];
    DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

std::wstring Trimmed(std::wstring p) {
    while (!p.empty() && (p.back() == L'"' || p.back() == L' ')) p.pop_back();
    while (!p.empty() && (p.front() == L'"' || p.front() == L' ')) p.erase(0, 1);
    while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/')) p.pop_back();
    return p;
}

std::wstring ServiceParameter(const std::wstring& service, const wchar_t* value) {
    if (service.empty()) return std::wstring();
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + service + L"\\Parameters";
    wchar_t buf[1024];
    DWORD size = sizeof buf;
    DWORD type = 0;
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::wstring();
    LONG rc = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::wstring();
    return std::wstring(buf, size / sizeof(wchar_t)).c_str();
}

void FindLocations(const std::wstring& service) {
    gHome = Trimmed(ServiceParameter(service, L"CatalinaHome"));
    if (gHome.empty()) gHome = Trimmed(Env(L"CATALINA_HOME"));
    if (gHome.empty()) {
        // HOME\bin\tomcat7.exe
        wchar_t own[MAX_PATH];
        std::wstring p(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
        for (int up = 0; up < 2; ++up) {
            size_t slash = p.find_last_of(L'\\');
            p.resize(slash == std::wstring::npos ? 0 : slash);
        }
        gHome = p;
    }
    gBase = Trimmed(ServiceParameter(service, L"CatalinaBase"));
    if (gBase.empty()) gBase = Trimmed(Env(L"CATALINA_BASE"));
    if (gBase.empty()) gBase = gHome;
}

// ---- modes ---------------------------------------------------------------

DWORD WINAPI ServiceControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            ReportService(SERVICE_STOP_PENDING);
            SetEvent(gStopEvent);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    gStatusHandle = RegisterServiceCtrlHandlerExW(gServiceName.c_str(), ServiceControl, nullptr);
    if (!gStatusHandle) return;
    ReportService(SERVICE_START_PENDING);
    FindLocations(gServiceName);
    bool ok = Serve();
    ReportService(SERVICE_STOPPED, ok ? NO_ERROR : 1);
}

BOOL WINAPI ConsoleControl(DWORD) {
    SetEvent(gStopEvent);
    return TRUE;
}

int DeleteNamedService(const std::wstring& name) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm) {
        std::printf("cannot open the service manager (error %lu)\n", GetLastError());
        return 1;
    }
    SC_HANDLE svc = OpenServiceW(scm, name.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!svc) {
        DWORD err = GetLastError();
        CloseServiceHandle(scm);
        std::printf("cannot open service %s (error %lu)\n", Utf8(name).c_str(), err);
        return 1;
    }
    SERVICE_STATUS st = {};
    if (QueryServiceStatus(svc, &st) && st.dwCurrentState != SERVICE_STOPPED) {
        ControlService(svc, SERVICE_CONTROL_STOP, &st);
        for (int i = 0; i < 100 && QueryServiceStatus(svc, &st) && st.dwCurrentState != SERVICE_STOPPED; ++i)
            Sleep(100);
    }
    bool ok = DeleteService(svc) != 0;
    DWORD err = GetLastError();
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    if (!ok) {
        std::printf("cannot delete service %s (error %lu)\n", Utf8(name).c_str(), err);
        return 1;
    }
    std::printf("deleted service %s\n", Utf8(name).c_str());
    return 0;
}

int SendShutdown() {
    ServerConfig config;
    std::wstring error;
    if (!LoadConfig(config, error)) {
        std::printf("%s\n", Utf8(error).c_str());
        return 1;
    }
    if (config.shutdownPort <= 0) {
        std::printf("server.xml gives no shutdown port\n");
        return 1;
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(config.shutdownPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              SendAll(s, config.shutdownCommand.data(), config.shutdownCommand.size());
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    if (!ok) {
        std::printf("no server answers on the shutdown port %d\n", config.shutdownPort);
        return 1;
    }
    std::printf("sent %s to port %d\n", config.shutdownCommand.c_str(), config.shutdownPort);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"run";
    gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (mode.compare(0, 6, L"//RS//") == 0) {
        gServiceName = mode.substr(6);
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(gServiceName.c_str()), ServiceMain}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table)) {
            std::printf("//RS// runs the program as a service; it must be started by the service manager (error %lu)\n",
                        GetLastError());
            return 1;
        }
        return 0;
    }
    if (mode.compare(0, 6, L"//DS//") == 0) return DeleteNamedService(mode.substr(6));
    FindLocations(std::wstring());
    if (mode == L"stop") return SendShutdown();
    if (mode == L"run") {
        gConsole = true;
        SetConsoleCtrlHandler(ConsoleControl, TRUE);
        return Serve() ? 0 : 1;
    }
    std::printf("usage: tomcat7.exe run | stop | //RS//NAME | //DS//NAME\n");
    return 1;
}
