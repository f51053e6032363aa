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
// Window commands act on the visible top-level window whose title is T (or,
// with --class C and no --title, the first of that class), waiting for it
// up to the timeout, and find its controls by their text as a person
// reads them ("&Install" and "Install" both name the Install button):
//
//   robot.exe window --title T [--class C] [--until COND] [--timeout S]
//       Prints the frame, "frame|CLASS|TITLE|L,T,W,H|CL,CT,CW,CH" (window
//       and client area on the screen), then one line per child control
//       in creation order, "control|ID|CLASS|TEXT|L,T,W,H|visible|enabled|
//       checked" (the rectangle in the client area; each state 1 or 0),
//       then "focus|TEXT" (the control with the keyboard focus). COND
//       waits first: visible:TEXT, hidden:TEXT, enabled:TEXT,
//       disabled:TEXT, checked:TEXT or focus:TEXT.
//   robot.exe click --title T --text TEXT      posts a click to the control (BM_CLICK; a
//                                              mouse press and release for a label)
//   robot.exe type --title T --class-of-control C --text TEXT
//       selects the whole text of the first control of class C (e.g.
//       Edit) and types TEXT into it character by character (WM_CHAR),
//       then waits until the control holds it.
//   robot.exe key --title T KEY...             keys to the focused control: tab, escape,
//                                              enter, space, alt+LETTER
//   robot.exe wait-gone --title T              exits 0 once the window is gone, 1 after the timeout
//   robot.exe watch --title T [--timeout S]
//       Watches the window every 100 ms until it is gone (or the timeout)
//       and prints what changed, each line led by the wall-clock time in
//       Unix milliseconds: "MS|control|ID|TEXT|WIDTH|visible|enabled" for
//       a control whose text, width or state changed, "MS|status|TEXT"
//       for the status bar's simple text and "MS|progress|POS|MAX" for
//       the progress bar, both read inside the program's process (a
//       buffer there, VirtualAllocEx and ReadProcessMemory, since those
//       messages carry pointers the window system does not marshal);
//       "MS|gone" at the end. Widths and states come from the window
//       system without a message, so they are seen even while the program
//       is busy; a control's text is read once, and the status bar and the
//       progress bar are asked with a short timeout (their last value
//       stands while the program does not answer).
//
// Clicks and keys are posted, as a person's would be queued, so a handler
// that opens a modal box does not block the robot. The window commands
// exit 1 when the window or control is not found in time.
//
// Box text is printed with line breaks written as \n (backslashes are left
// as they are). Icons: warning, information, error (also MB_ICONSTOP, the
// same icon), none, or unknown. Icons of another process cannot be read
// through the window system, so the robot looks at the screen pixels of the
// box's icon control. Output is UTF-8.
#include <windows.h>
#include <commctrl.h>

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

// --- windows and their controls ---

// A control's text as the control itself answers (another process's
// controls keep no caption of their own in the window manager, e.g. edits).
std::wstring ControlText(HWND h) {
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &n)) return WindowText(h);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, n + 1, reinterpret_cast<LPARAM>(&s[0]), SMTO_ABORTIFHUNG, 2000, &got);
    s.resize(static_cast<size_t>(got));
    return s;
}

std::wstring WithoutAmpersands(const std::wstring& s) {
    std::wstring r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'&' && i + 1 < s.size()) ++i;
        r += s[i];
    }
    return r;
}

bool NamedBy(HWND h, const std::wstring& text) {
    std::wstring t = ControlText(h);
    return t == text || WithoutAmpersands(t) == WithoutAmpersands(text);
}

struct FrameQuery {
    std::wstring title, cls;
    HWND found = nullptr;
};

BOOL CALLBACK FindFrame(HWND h, LPARAM lp) {
    auto* q = reinterpret_cast<FrameQuery*>(lp);
    if (!IsWindowVisible(h)) return TRUE;
    if (!q->title.empty() && WindowText(h) != q->title) return TRUE;
    if (!q->cls.empty() && ClassOf(h) != q->cls) return TRUE;
    q->found = h;
    return FALSE;
}

HWND FindTopLevel(const std::wstring& title, const std::wstring& cls) {
    FrameQuery q{title, cls};
    EnumWindows(FindFrame, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

std::vector<HWND> Children(HWND frame) {
    std::vector<HWND> r;
    for (HWND c = GetWindow(frame, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) r.push_back(c);
    return r;
}

HWND ControlNamed(HWND frame, const std::wstring& text) {
    for (HWND c : Children(frame))
        if (NamedBy(c, text)) return c;
    return nullptr;
}

HWND FocusOf(HWND frame) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    DWORD tid = GetWindowThreadProcessId(frame, nullptr);
    if (!GetGUIThreadInfo(tid, &gti)) return nullptr;
    return gti.hwndFocus;
}

std::wstring RectText(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right - r.left) + L"," +
           std::to_wstring(r.bottom - r.top);
}

bool Checked(HWND c) {
    DWORD_PTR v = 0;
    return SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &v) && v == BST_CHECKED;
}

bool Holds(HWND frame, const std::wstring& cond) {
    size_t colon = cond.find(L':');
    if (colon == std::wstring::npos) return true;
    std::wstring what = cond.substr(0, colon), text = cond.substr(colon + 1);
    if (what == L"focus") {
        HWND f = FocusOf(frame);
        return f && NamedBy(f, text);
    }
    HWND c = ControlNamed(frame, text);
    if (!c) return false;
    if (what == L"visible") return IsWindowVisible(c) != 0;
    if (what == L"hidden") return !IsWindowVisible(c);
    if (what == L"enabled") return IsWindowEnabled(c) != 0;
    if (what == L"disabled") return !IsWindowEnabled(c);
    if (what == L"checked") return Checked(c);
    return false;
}

// Waits for the frame (and the condition); nullptr after the timeout.
HWND WaitFrame(const std::wstring& title, const std::wstring& cls, const std::wstring& until, double timeoutS) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
    for (;;) {
        HWND f = FindTopLevel(title, cls);
        // A frame is ready once its last control exists.
        if (f && !Children(f).empty() && Holds(f, until)) return f;
        if (GetTickCount64() > deadline) {
            Err(L"no window \"" + title + L"\"" + (until.empty() ? L"" : L" with " + until) + L" in time");
            return nullptr;
        }
        Sleep(50);
    }
}

int ListWindow(HWND f) {
    RECT wr, cr;
    GetWindowRect(f, &wr);
    GetClientRect(f, &cr);
    MapWindowPoints(f, nullptr, reinterpret_cast<POINT*>(&cr), 2);
    Out(L"frame|" + ClassOf(f) + L"|" + Escape(WindowText(f)) + L"|" + RectText(wr) + L"|" + RectText(cr));
    std::vector<HWND> kids = Children(f);
    // Windows keeps the first created child on top: creation order.
    for (HWND c : kids) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, f, reinterpret_cast<POINT*>(&r), 2);
        Out(L"control|" + std::to_wstring(GetDlgCtrlID(c)) + L"|" + ClassOf(c) + L"|" + Escape(ControlText(c)) + L"|" +
            RectText(r) + L"|" + (IsWindowVisible(c) ? L"1" : L"0") + L"|" + (IsWindowEnabled(c) ? L"1" : L"0") + L"|" +
            (Checked(c) ? L"1" : L"0"));
    }
    HWND focus = FocusOf(f);
    Out(L"focus|" + (focus ? Escape(ControlText(focus)) : std::wstring()));
    return 0;
}

void PostKey(HWND target, UINT msg, WPARAM key, bool alt) {
    UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    LPARAM lp = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? (1 << 29) : 0);
    PostMessageW(target, msg, key, lp);
}

int Keys(HWND f, const std::vector<std::wstring>& keys) {
    for (const std::wstring& k : keys) {
        HWND target = FocusOf(f);
        if (!target) target = f;
        if (k.size() == 5 && k.compare(0, 4, L"alt+") == 0) {
            PostKey(target, WM_SYSCHAR, static_cast<WPARAM>(k[4]), true);
        } else {
            static const struct { const wchar_t* name; WPARAM vk; } kKeys[] = {
                {L"tab", VK_TAB}, {L"escape", VK_ESCAPE}, {L"enter", VK_RETURN}, {L"space", VK_SPACE}};
            WPARAM vk = 0;
            for (auto& n : kKeys)
                if (k == n.name) vk = n.vk;
            if (!vk) {
                Err(L"unknown key " + k);
                return 64;
            }
            PostKey(target, WM_KEYDOWN, vk, false);
            if (vk == VK_SPACE) PostKey(target, WM_KEYUP, vk, false);  // a button clicks on the release
        }
        // One key at a time, as a person types: the next goes to where
        // this one left the focus.
        Sleep(150);
    }
    return 0;
}

int Type(HWND f, const std::wstring& cls, const std::wstring& text, double timeoutS) {
    HWND target = nullptr;
    for (HWND c : Children(f))
        if (_wcsicmp(ClassOf(c).c_str(), cls.c_str()) == 0) {
            target = c;
            break;
        }
    if (!target) {
        Err(L"no control of class " + cls);
        return 1;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(target, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 2000, &ignored);
    for (wchar_t ch : text) PostMessageW(target, WM_CHAR, ch, 1);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
    while (ControlText(target) != text) {
        if (GetTickCount64() > deadline) {
            Err(L"the control holds \"" + ControlText(target) + L"\"");
            return 1;
        }
        Sleep(50);
    }
    Out(L"typed|" + text);
    return 0;
}

// --- watching a window ---

long long UnixMs() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return static_cast<long long>((u.QuadPart - 116444736000000000ULL) / 10000ULL);
}

// The simple text of a status bar of another process, through a buffer in
// that process. Windows answers it as part SB_SIMPLEID, Wine as part 0.
std::wstring StatusText(HWND sb, bool* answered) {
    *answered = true;
    DWORD pid = 0;
    GetWindowThreadProcessId(sb, &pid);
    HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!p) return L"";
    std::wstring text;
    const SIZE_T bytes = 8192;
    void* remote = VirtualAllocEx(p, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        for (WPARAM part : {static_cast<WPARAM>(SB_SIMPLEID), static_cast<WPARAM>(0)}) {
            DWORD_PTR n = 0;
            if (!SendMessageTimeoutW(sb, SB_GETTEXTLENGTHW, part, 0, SMTO_ABORTIFHUNG, 50, &n)) {
                *answered = false;
                break;
            }
            size_t len = LOWORD(n);
            if (len == 0 || (len + 1) * sizeof(wchar_t) > bytes) continue;
            DWORD_PTR r = 0;
            if (!SendMessageTimeoutW(sb, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 50, &r)) {
                *answered = false;
                break;
            }
            std::wstring s(len + 1, L'\0');
            SIZE_T got = 0;
            if (ReadProcessMemory(p, remote, &s[0], (len + 1) * sizeof(wchar_t), &got)) {
                s.resize(wcsnlen(s.c_str(), len));
                text = s;
                break;
            }
        }
        VirtualFreeEx(p, remote, 0, MEM_RELEASE);
    }
    CloseHandle(p);
    return text;
}

int Watch(const std::wstring& title, double timeoutS) {
    HWND f = WaitFrame(title, L"", L"", timeoutS);
    if (!f) return 1;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
    std::vector<std::wstring> last, texts;
    std::wstring lastStatus, lastProgress;
    bool first = true, firstStatus = true, firstProgress = true;
    while (IsWindow(f) && GetTickCount64() <= deadline) {
        std::vector<HWND> kids = Children(f);
        if (last.size() != kids.size()) {
            last.assign(kids.size(), L"");
            texts.assign(kids.size(), L"");
        }
        for (size_t i = 0; i < kids.size(); ++i) {
            HWND c = kids[i];
            const std::wstring cls = ClassOf(c);
            if (cls == L"msctls_statusbar32") {
                bool answered = false;
                std::wstring s = StatusText(c, &answered);
                if (!answered) continue;
                if (firstStatus || s != lastStatus) Out(std::to_wstring(UnixMs()) + L"|status|" + Escape(s));
                lastStatus = s;
                firstStatus = false;
                continue;
            }
            if (cls == L"msctls_progress32") {
                DWORD_PTR pos = 0, max = 0;
                if (!SendMessageTimeoutW(c, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 50, &pos) ||
                    !SendMessageTimeoutW(c, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 50, &max))
                    continue;
                std::wstring s = std::to_wstring(static_cast<int>(pos)) + L"|" + std::to_wstring(static_cast<int>(max));
                if (firstProgress || s != lastProgress) Out(std::to_wstring(UnixMs()) + L"|progress|" + s);
                lastProgress = s;
                firstProgress = false;
                continue;
            }
            // Texts are read once (asking a busy program would hold up the watch).
            if (texts[i].empty()) texts[i] = ControlText(c) + L"\x01";
            const std::wstring text = texts[i].substr(0, texts[i].size() - 1);
            RECT r;
            GetWindowRect(c, &r);
            std::wstring s = std::to_wstring(GetDlgCtrlID(c)) + L"|" + Escape(text) + L"|" +
                             std::to_wstring(r.right - r.left) + L"|" + (IsWindowVisible(c) ? L"1" : L"0") + L"|" +
                             (IsWindowEnabled(c) ? L"1" : L"0");
            if (s != last[i]) Out(std::to_wstring(UnixMs()) + L"|control|" + s);
            last[i] = s;
        }
        first = false;
        Sleep(100);
    }
    Out(std::to_wstring(UnixMs()) + L"|gone");
    return IsWindow(f) ? 1 : 0;
}

int Usage() {
    Err(L"usage: robot.exe run [--timeout S] [--button NAME] [--answers A,B,...] -- PROGRAM [ARGS...]\n"
        L"       robot.exe run [OPTIONS] --command-line TEXT\n"
        L"       robot.exe expect --caption C [--button NAME] [--timeout S]\n"
        L"       robot.exe window --title T [--class C] [--until COND] [--timeout S]\n"
        L"       robot.exe click --title T --text TEXT [--timeout S]\n"
        L"       robot.exe type --title T --class-of-control C --text TEXT [--timeout S]\n"
        L"       robot.exe key --title T KEY... [--timeout S]\n"
        L"       robot.exe wait-gone --title T [--timeout S]\n"
        L"       robot.exe watch --title T [--timeout S]");
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
    std::wstring button = L"OK", caption, commandLine, title, cls, until, text, controlClass;
    bool haveText = false;
    std::vector<std::wstring> answers, command, keys;
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
        } else if (a == L"--title") {
            title = value();
        } else if (a == L"--class") {
            cls = value();
        } else if (a == L"--until") {
            until = value();
        } else if (a == L"--text") {
            text = value();
            haveText = true;
        } else if (a == L"--class-of-control") {
            controlClass = value();
        } else if (mode == L"key" && a.compare(0, 2, L"--") != 0) {
            keys.push_back(a);
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
    if (title.empty() && cls.empty()) return Usage();
    if (mode == L"wait-gone") {
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
        while (FindTopLevel(title, cls)) {
            if (GetTickCount64() > deadline) {
                Err(L"the window \"" + title + L"\" is still there");
                return 1;
            }
            Sleep(50);
        }
        return 0;
    }
    if (mode == L"watch") return Watch(title, timeoutS);
    HWND frame = nullptr;
    if (mode == L"window" || mode == L"click" || mode == L"type" || mode == L"key") {
        frame = WaitFrame(title, cls, until, timeoutS);
        if (!frame) return 1;
    }
    if (mode == L"window") return ListWindow(frame);
    if (mode == L"click" && haveText) {
        HWND c = nullptr;
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutS * 1000);
        while (!(c = ControlNamed(frame, text)) && GetTickCount64() <= deadline) Sleep(50);
        if (!c) {
            Err(L"no control \"" + text + L"\"");
            return 1;
        }
        // A label that reacts to clicks (a link) is pressed with the mouse;
        // buttons take BM_CLICK, which presses and releases them.
        if (ClassOf(c) == L"Static")
            return PostMessageW(c, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2)) &&
                           PostMessageW(c, WM_LBUTTONUP, 0, MAKELPARAM(2, 2))
                       ? 0
                       : 1;
        return PostMessageW(c, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (mode == L"type" && haveText && !controlClass.empty()) return Type(frame, controlClass, text, timeoutS);
    if (mode == L"key" && !keys.empty()) return Keys(frame, keys);
    return Usage();
}
