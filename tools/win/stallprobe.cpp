// The responsiveness probe: measures how long a program's main window goes
// without answering.
//
//   stallprobe.exe --exe NAME [--title T] [--find-timeout S] [--duration S]
//                  [--report-over MS] [--while EXE]
//
// Finds the visible top-level window of the process whose image is NAME
// (e.g. Tidestart.exe; with --title, the one with that title; message
// boxes and other dialogs of the class "#32770" are never taken), then
// sends it WM_NULL with SendMessageTimeout every 50 ms until the window is
// gone (or --duration seconds have passed, or, with --while, no process of
// the image EXE is left: a peer measured for as long as the program runs). A send that is not answered at
// once waits for the answer (up to 30 s, which then counts as 30 s): the
// time from the send to the answer is how long the window did not answer.
//
// Time while a message box of the program is up does not count. A second
// thread looks every 5 ms for a visible window of the class "#32770" that
// belongs to the program (MessageBox makes exactly such a window) and keeps
// the spans in which one was there; each wait's overlap with them is taken
// off. A wait that began inside a box's span is a box's, not the window's.
//
// Prints "window|HWND|PID|TITLE" once the window is found, "stall|MS|AT_MS|
// UNIX_MS" for each wait longer than --report-over (default 100) ms (AT_MS:
// since the window was found; UNIX_MS: wall clock at the send), and at the
// end one line:
//   result|longest_ms=N|at_ms=N|unix_ms=N|probes=N|over_250=N|box_ms=N|seconds=S
// Exits 1 when no window was found within --find-timeout (default 60) s.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kProbeIntervalMs = 50;
constexpr UINT kAnswerLimitMs = 30000;
constexpr DWORD kBoxLookMs = 5;
const wchar_t kDialogClass[] = L"#32770";

double NowMs() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

long long UnixMs() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return static_cast<long long>(u.QuadPart / 10000ULL) - 11644473600000LL;
}

std::vector<DWORD> ProcessesNamed(const std::wstring& name) {
    std::vector<DWORD> pids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W e;
    e.dwSize = sizeof e;
    for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e))
        if (_wcsicmp(e.szExeFile, name.c_str()) == 0) pids.push_back(e.th32ProcessID);
    CloseHandle(snap);
    return pids;
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[64] = {};
    GetClassNameW(h, buf, 64);
    return buf;
}

std::wstring TitleOf(HWND h) {
    wchar_t buf[256] = {};
    GetWindowTextW(h, buf, 256);
    return buf;
}

struct Search {
    std::vector<DWORD> pids;
    std::wstring title;
    bool wantDialog = false;
    HWND found = nullptr;
};

BOOL CALLBACK Look(HWND h, LPARAM p) {
    Search& s = *reinterpret_cast<Search*>(p);
    if (!IsWindowVisible(h)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    bool ours = false;
    for (DWORD q : s.pids) ours = ours || q == pid;
    if (!ours) return TRUE;
    if ((ClassOf(h) == kDialogClass) != s.wantDialog) return TRUE;
    if (!s.wantDialog && !s.title.empty() && TitleOf(h) != s.title) return TRUE;
    s.found = h;
    return FALSE;
}

HWND FindTopLevel(std::vector<DWORD> pids, const std::wstring& title, bool dialog) {
    Search s;
    s.pids = std::move(pids);
    s.title = title;
    s.wantDialog = dialog;
    EnumWindows(Look, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

void Print(const std::wstring& line) {
    std::string out;
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &out[0], n, nullptr, nullptr);
    std::printf("%s\n", out.c_str());
    std::fflush(stdout);
}

// The spans in which a message box of the program was up.
class BoxWatch {
public:
    explicit BoxWatch(DWORD pid) : pid_(pid), thread_([this] { Run(); }) {}
    ~BoxWatch() {
        stop_ = true;
        thread_.join();
    }
    // How much of [from, to] a box was up.
    double Overlap(double from, double to) {
        std::lock_guard<std::mutex> lock(mu_);
        double sum = 0;
        for (const auto& span : spans_) {
            double a = span.first > from ? span.first : from;
            double b = span.second < to ? span.second : to;
            if (b > a) sum += b - a;
        }
        return sum;
    }
    bool UpAt(double t) {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& span : spans_)
            if (span.first <= t && t <= span.second) return true;
        return false;
    }
    double Total() { return Overlap(0, 1e300); }

private:
    void Run() {
        bool up = false;
        while (!stop_) {
            const bool now = FindTopLevel({pid_}, L"", true) != nullptr;
            const double t = NowMs();
            {
                std::lock_guard<std::mutex> lock(mu_);
                if (now && !up) spans_.push_back({t, t});
                // A box seen at the last look lasted until this one.
                if (now || up) spans_.back().second = t;
            }
            up = now;
            Sleep(kBoxLookMs);
        }
    }
    DWORD pid_;
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::vector<std::pair<double, double>> spans_;
    std::thread thread_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring exe, title, whileExe;
    double findTimeoutS = 60, durationS = 0, reportOverMs = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring a = argv[i];
        if (a == L"--exe") exe = argv[i + 1];
        else if (a == L"--title") title = argv[i + 1];
        else if (a == L"--find-timeout") findTimeoutS = _wtof(argv[i + 1]);
        else if (a == L"--duration") durationS = _wtof(argv[i + 1]);
        else if (a == L"--report-over") reportOverMs = _wtof(argv[i + 1]);
        else if (a == L"--while") whileExe = argv[i + 1];
    }
    if (exe.empty()) {
        Print(L"usage: stallprobe.exe --exe NAME [--title T] [--find-timeout S] [--duration S] [--report-over MS] [--while EXE]");
        return 2;
    }

    HWND window = nullptr;
    const double lookStart = NowMs();
    while (!window && NowMs() - lookStart < findTimeoutS * 1000) {
        window = FindTopLevel(ProcessesNamed(exe), title, false);
        if (!window) Sleep(20);
    }
    if (!window) {
        Print(L"no window of " + exe + L" found");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t head[64];
    std::swprintf(head, 64, L"window|%p|%lu|", static_cast<void*>(window), static_cast<unsigned long>(pid));
    Print(head + TitleOf(window));

    BoxWatch boxes(pid);
    const double start = NowMs();
    double longest = 0, longestAt = 0;
    long long longestUnix = 0;
    long probes = 0, over250 = 0;
    double next = start;
    int beat = 0;
    while (IsWindow(window) && (durationS <= 0 || NowMs() - start < durationS * 1000)) {
        // The other program is looked for once a second.
        if (!whileExe.empty() && ++beat % 20 == 0 && ProcessesNamed(whileExe).empty()) break;
        const double sent = NowMs();
        const long long sentUnix = UnixMs();
        DWORD_PTR result = 0;
        const LRESULT ok = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerLimitMs, &result);
        const double answered = NowMs();
        if (!ok && !IsWindow(window)) break;  // gone while asked
        ++probes;
        // A wait that began with a box up is the box's; otherwise the box's
        // part of it is taken off.
        double waited = boxes.UpAt(sent) ? 0 : (answered - sent) - boxes.Overlap(sent, answered);
        if (waited > longest) {
            longest = waited;
            longestAt = sent - start;
            longestUnix = sentUnix;
        }
        if (waited > 250) ++over250;
        if (waited > reportOverMs) {
            wchar_t line[128];
            std::swprintf(line, 128, L"stall|%.0f|%.0f|%lld", waited, sent - start, sentUnix);
            Print(line);
        }
        next += kProbeIntervalMs;
        const double now = NowMs();
        if (next < now) next = now;  // after a stall the beat starts anew
        Sleep(static_cast<DWORD>(next - now));
    }
    wchar_t line[256];
    std::swprintf(line, 256, L"result|longest_ms=%.0f|at_ms=%.0f|unix_ms=%lld|probes=%ld|over_250=%ld|box_ms=%.0f|seconds=%.1f",
                  longest, longestAt, longestUnix, probes, over250, boxes.Total(), (NowMs() - start) / 1000);
    Print(line);
    return 0;
}
