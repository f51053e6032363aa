// The dialog robot: drives a Windows program's message boxes the way a
// person would, so that tests under Wine can see what the program says.
//
//   robot.exe run [--timeout S] [--button NAME] [--answers A,B,...] -- PROGRAM [ARGS...]
//   robot.exe run [OPTIONS] --command-line TEXT
//       Starts PROGRAM (the arguments quoted for the C runtime's parser; or
//       TEXT given to CreateProcessW as it is, program path first), answers each message box it shows (the next name of
//       --answers, else --button, default OK) until the program ends, and
//       prints one line per box, "caption|text|icon". A visible top-level
//       window of the program that is not a message box is printed once as
//       "window|class|title". The last line is "exit|CODE". On timeout the
//       program is ended, "timeout" is printed and the robot exits with 2.
//
//   robot.exe expect --caption C [--button NAME] [--timeout S]
//       Waits for a message box of any program with caption C, prints its
//       line, presses the button and exits 0; exits 1 after the timeout.
//
// Box text is printed with line breaks written as \n (backslashes are left
// as they are). Icons: warning, information, error (also MB_ICONSTOP, the
// same icon), none, or unknown. Icons of another process cannot be read
// through the window system, so the robot looks at the screen pixels of the
// box's icon control. Output is UTF-8.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kTextId = 0xFFFF;      // the message text of a message box
constexpr int kIconIdWine = 0x440;   // the icon static under Wine
constexpr int kIconIdWindows = 20;   // the icon static on Windows

void Out(const std::wstring& line) {
    std::wstring l = line + L"\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, l.c_str(), static_cast<int>(l.size()), nullptr, 0, nullptr, nullptr);
    std::string u(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, l.c_str(), static_cast<int>(l.size()), &u[0], n, nullptr, nullptr);
    DWORD put = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), u.data(), static_cast<DWORD>(u.size()), &put, nullptr);
}

void Err(const std::wstring& line) { fwprintf(stderr, L"robot: %ls\n", line.c_str()); }

std::wstring WindowText(HWND h) {
    int n = GetWindowTextLengthW(h);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(h, &s[0], n + 1);
    s.resize(static_cast<size_t>(n > 0 ? n : 0));
    return s;
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {0};
    GetClassNameW(h, buf, 256);
    return buf;
}

std::wstring Escape(const std::wstring& s) {
    std::wstring r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'\r') {
            if (i + 1 < s.size() && s[i + 1] == L'\n') ++i;
            r += L"\\n";
        } else if (s[i] == L'\n') {
            r += L"\\n";
        } else {
            r += s[i];
        }
    }
    return r;
}

std::wstring BoxText(HWND box) {
    HWND t = GetDlgItem(box, kTextId);
    return t ? WindowText(t) : std::wstring();
}

// Classifies the icon by the colours the control shows on the screen.
std::wstring ReadIconOnce(HWND box) {
    HWND icon = GetDlgItem(box, kIconIdWine);
    if (!icon) icon = GetDlgItem(box, kIconIdWindows);
    if (!icon || !IsWindowVisible(icon)) return L"none";
    RECT r;
    if (!GetWindowRect(icon, &r)) return L"none";
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return L"none";

    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    int yellow = 0, blue = 0, red = 0;
    const auto* px = static_cast<const unsigned char*>(bits);
    for (int i = 0; px && i < w * h; ++i) {
        int b = px[4 * i], g = px[4 * i + 1], rr = px[4 * i + 2];
        if (rr > 180 && g > 140 && b < 110) ++yellow;
        else if (rr > 150 && g < 100 && b < 100) ++red;
        else if (b > 150 && rr < 110 && b > g) ++blue;
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);

    const int threshold = 12;
    if (yellow < threshold && blue < threshold && red < threshold) return L"none";
    if (yellow >= blue && yellow >= red) return L"warning";
    if (blue >= red) return L"information";
    return L"error";
}

// The icon is drawn a moment after the box appears: look a few times.
std::wstring ReadIcon(HWND box) {
    std::wstring kind;
    for (int i = 0; i < 4; ++i) {
        RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(150);
        kind = ReadIconOnce(box);
        if (kind != L"none") return kind;
    }
    return kind;
}

int ButtonId(const std::wstring& name) {
    static const struct { const wchar_t* name; int id; } kButtons[] = {
        {L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"abort", IDABORT}, {L"retry", IDRETRY},
        {L"ignore", IDIGNORE}, {L"yes", IDYES}, {L"no", IDNO}, {L"close", IDCLOSE},
        {L"tryagain", IDTRYAGAIN}, {L"continue", IDCONTINUE}};
    for (auto& b : kButtons)
        if (_wcsicmp(b.name, name.c_str()) == 0) return b.id;
    return 0;
}

// Presses the button as a click would. Posted, so a handler that opens
// another modal box does not block the robot.
bool Press(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    if (!button) return false;
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != 0;
}

struct Found {
    DWORD pid = 0;  // 0: any process
    std::vector<HWND> boxes;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindows(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<Found*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (f->pid && pid != f->pid) return TRUE;
    if (!IsWindowVisible(h)) return TRUE;
    if (ClassOf(h) == L"#32770")
        f->boxes.push_back(h);
    else
        f->windows.push_back(h);
    return TRUE;
}

Found Scan(DWORD pid) {
    Found f;
    f.pid = pid;
    EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&f));
    return f;
}

std::wstring Quote(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
    std::wstring r = L"\"";
    size_t slashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"') r.append(slashes + 1, L'\\');
            slashes = 0;
        }
        r += c;
    }
    r.append(slashes, L'\\');
    return r + L"\"";
}

std::vector<std::wstring> Split(const std::wstring& s, wchar_t sep) {
    std::vector<std::wstring> r;
    size_t b = 0;
    for (;;) {
        size_t e = s.find(sep, b);
        r.push_back(s.substr(b, e == std::wstring::npos ? std::wstring::npos : e - b));
        if (e == std::wstring::npos) return r;
        b = e + 1;
    }
}

int Usage() {
    Err(L"usage: robot.exe run [--timeout S] [--button NAME] [--answers A,B,...] -- PROGRAM [ARGS...]\n"
        L"       robot.exe run [OPTIONS] --command-line TEXT\n"
        L"       robot.exe expect --caption C [--button NAME] [--timeout S]");
    return 64;
}

int Run(double timeoutS, const std::wstring& button, const std::vector<std::wstring>& answers,
        const std::wstring& line) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> buf(line.begin(), line.end());
    buf.push_back(0);
    if (!CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        Err(L"cannot start " + line + L" (error " + std::to_wstring(GetLastError()) + L")");
        return 3;
    }
    CloseHandle(pi.hThread);

    std::set<HWND> answered, reported;
    size_t next = 0;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
        if (GetTickCount64() > deadline) {
            Out(L"timeout");
            TerminateProcess(pi.hProcess, 1);
            CloseHandle(pi.hProcess);
            return 2;
        }
        Found f = Scan(pi.dwProcessId);
        for (HWND w : f.windows) {
            if (reported.insert(w).second) Out(L"window|" + ClassOf(w) + L"|" + Escape(WindowText(w)));
        }
        // Forget boxes that have gone, so a new box reusing a handle counts.
        for (auto it = answered.begin(); it != answered.end();)
            it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        for (HWND box : f.boxes) {
            if (answered.count(box)) continue;
            std::wstring caption = WindowText(box), text = BoxText(box), icon = ReadIcon(box);
            std::wstring name = next < answers.size() ? answers[next++] : button;
            Out(Escape(caption) + L"|" + Escape(text) + L"|" + icon);
            if (!Press(box, ButtonId(name))) {
                Err(L"the box has no button " + name + L"; pressing its first button");
                Press(box, IDOK) || Press(box, IDYES) || Press(box, IDCANCEL) || Press(box, IDNO);
            }
            answered.insert(box);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    Out(L"exit|" + std::to_wstring(code));
    return 0;
}

int Expect(double timeoutS, const std::wstring& caption, const std::wstring& button) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
    while (GetTickCount64() <= deadline) {
        for (HWND box : Scan(0).boxes) {
            if (WindowText(box) != caption) continue;
            std::wstring text = BoxText(box), icon = ReadIcon(box);
            Out(Escape(caption) + L"|" + Escape(text) + L"|" + icon);
            if (!Press(box, ButtonId(button))) {
                Err(L"the box has no button " + button);
                return 1;
            }
            return 0;
        }
        Sleep(50);
    }
    Err(L"no box with caption \"" + caption + L"\" appeared");
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring mode = argv[1];
    double timeoutS = 30;
    std::wstring button = L"OK", caption, commandLine;
    std::vector<std::wstring> answers, command;
    for (int i = 2; i < argc; ++i) {
        std::wstring a = argv[i];
        auto value = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
        if (a == L"--") {
            for (++i; i < argc; ++i) command.push_back(argv[i]);
        } else if (a == L"--timeout") {
            timeoutS = _wtof(value().c_str());
        } else if (a == L"--button") {
            button = value();
        } else if (a == L"--answers") {
            answers = Split(value(), L',');
        } else if (a == L"--caption") {
            caption = value();
        } else if (a == L"--command-line") {
            commandLine = value();
        } else {
            return Usage();
        }
    }
    if (ButtonId(button) == 0) return Usage();
    for (auto& a : answers)
        if (ButtonId(a) == 0) return Usage();
    for (auto& a : command) commandLine += (commandLine.empty() ? L"" : L" ") + Quote(a);
    if (mode == L"run" && !commandLine.empty()) return Run(timeoutS, button, answers, commandLine);
    if (mode == L"expect" && !caption.empty()) return Expect(timeoutS, caption, button);
    return Usage();
}
