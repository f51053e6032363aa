// The window system on Windows: one frame window of the program's own class
// with standard and common controls, driven by the logic through
// WindowSystem; the frame's procedure only passes events on.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/window.h"
#include "platform/win32/win32_util.h"

namespace tide::platform::win32 {
namespace {

constexpr UINT kWakeMessage = WM_APP + 1;
constexpr wchar_t kFrameClass[] = L"TidestartMainWindow";

struct FrameData {
    HWND hwnd = nullptr;
    WindowEvents* events = nullptr;
    std::map<int, HWND> controls;
    std::map<int, ControlKind> kinds;
    std::map<int, COLORREF> colours;
    std::map<int, HFONT> fonts;
    HBITMAP picture = nullptr;
    HICON bigIcon = nullptr, smallIcon = nullptr;
};

// Frames of this process that take dialog keys (Tab, Escape, accelerators).
std::set<HWND> gFrames;

FrameData* Data(FrameHandle frame) {
    HWND h = reinterpret_cast<HWND>(frame);
    if (!frame || !IsWindow(h)) return nullptr;
    return reinterpret_cast<FrameData*>(GetWindowLongPtrW(h, GWLP_USERDATA));
}

HWND Child(FrameHandle frame, int id) {
    FrameData* d = Data(frame);
    if (!d) return nullptr;
    auto it = d->controls.find(id);
    return it == d->controls.end() ? nullptr : it->second;
}

// Functions of newer Windows versions, looked up at run time.
template <class F>
F User32Function(const char* name) {
    HMODULE u = GetModuleHandleW(L"user32.dll");
    return u ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(u, name))) : nullptr;
}

int WindowDpi(HWND h) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi) {
        UINT dpi = getDpi(h);
        if (dpi) return static_cast<int>(dpi);
    }
    HDC dc = GetDC(h);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(h, dc);
    return dpi > 0 ? dpi : 96;
}

// No WS_CLIPCHILDREN: the group box paints only its frame, the frame the
// background inside it.
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kFrameExStyle = WS_EX_CONTROLPARENT;

SIZE FrameSizeFor(HWND h, int clientWidth, int clientHeight) {
    RECT r{0, 0, clientWidth, clientHeight};
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static auto adjust = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (!(h && adjust && adjust(&r, kFrameStyle, FALSE, kFrameExStyle, static_cast<UINT>(WindowDpi(h)))))
        AdjustWindowRectEx(&r, kFrameStyle, FALSE, kFrameExStyle);
    return {r.right - r.left, r.bottom - r.top};
}

HFONT MakeFont(const FontChoice& f) {
    return CreateFontW(-f.pixelHeight, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, f.underline ? TRUE : FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, f.face.c_str());
}

void FreeFrame(FrameData* d) {
    for (auto& f : d->fonts) DeleteObject(f.second);
    if (d->picture) DeleteObject(d->picture);
    if (d->bigIcon) DestroyIcon(d->bigIcon);
    if (d->smallIcon) DestroyIcon(d->smallIcon);
    delete d;
}

LRESULT CALLBACK FrameProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* d = reinterpret_cast<FrameData*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    WindowEvents* ev = d ? d->events : nullptr;
    switch (msg) {
        case WM_COMMAND:
            if (ev && HIWORD(wp) == BN_CLICKED) {  // also STN_CLICKED of a link, and Escape's IDCANCEL
                ev->OnClick(LOWORD(wp));
                return 0;
            }
            break;
        case WM_TIMER:
            if (ev) ev->OnTimer(static_cast<int>(wp));
            return 0;
        case kWakeMessage:
            if (ev) ev->OnWake();
            return 0;
        case WM_CTLCOLORSTATIC:
            if (d) {
                const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
                auto it = d->colours.find(id);
                if (it != d->colours.end()) {
                    HDC dc = reinterpret_cast<HDC>(wp);
                    SetTextColor(dc, it->second);
                    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
                }
            }
            break;
        case WM_SETCURSOR:
            if (d) {
                const int id = GetDlgCtrlID(reinterpret_cast<HWND>(wp));
                auto it = d->kinds.find(id);
                if (reinterpret_cast<HWND>(wp) != h && it != d->kinds.end() && it->second == ControlKind::LinkLabel) {
                    SetCursor(LoadCursorW(nullptr, IDC_HAND));
                    return TRUE;
                }
            }
            break;
        case WM_DPICHANGED: {
            const RECT* r = reinterpret_cast<const RECT*>(lp);
            SetWindowPos(h, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            if (ev) ev->OnDpiChanged(HIWORD(wp));
            return 0;
        }
        case WM_DESTROY:
            gFrames.erase(h);
            if (OwnerWindow() == h) SetOwnerWindow(nullptr);
            if (ev) ev->OnDestroyed();
            return 0;
        case WM_NCDESTROY:
            if (d) {
                SetWindowLongPtrW(h, GWLP_USERDATA, 0);
                FreeFrame(d);
            }
            break;
        default: break;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

// Dialog keys for the frames: accelerators go to the logic first (a label
// and a button may share a letter), then the dialog manager moves the
// focus on Tab and presses control 2 on Escape.
bool FilterFrameMessage(MSG* msg) {
    for (HWND f : gFrames) {
        if (msg->hwnd != f && !IsChild(f, msg->hwnd)) continue;
        if (msg->message == WM_SYSCHAR) {
            auto* d = reinterpret_cast<FrameData*>(GetWindowLongPtrW(f, GWLP_USERDATA));
            if (d && d->events && d->events->OnAccelerator(static_cast<wchar_t>(msg->wParam))) return true;
        }
        return IsDialogMessageW(f, msg) != 0;
    }
    return false;
}

void RegisterFrameClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFrameClass;
    done = RegisterClassExW(&wc) != 0;
    SetMessageFilter(FilterFrameMessage);
}

// The folder browser opens at the start item, when there is one.
int CALLBACK SelectStartItem(HWND dlg, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) SendMessageW(dlg, BFFM_SETSELECTIONW, FALSE, data);
    return 0;
}

class Win32WindowSystem : public WindowSystem {
public:
    FrameHandle CreateFrame(const FrameLayout& layout, WindowEvents* events) override {
        RegisterFrameClass();
        SIZE s = FrameSizeFor(nullptr, layout.clientWidth, layout.clientHeight);
        HWND h = CreateWindowExW(kFrameExStyle, kFrameClass, layout.caption.c_str(), kFrameStyle, CW_USEDEFAULT,
                                 CW_USEDEFAULT, s.cx, s.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!h) return 0;
        auto* d = new FrameData;
        d->hwnd = h;
        d->events = events;
        SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(d));
        if (layout.iconResource) {
            HINSTANCE inst = GetModuleHandleW(nullptr);
            d->bigIcon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(layout.iconResource), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
            d->smallIcon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(layout.iconResource), IMAGE_ICON,
                                                         GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
            if (d->bigIcon) SendMessageW(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(d->bigIcon));
            if (d->smallIcon) SendMessageW(h, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(d->smallIcon));
        }
        // The frame with its client area sized for the DPI it got.
        SIZE real = FrameSizeFor(h, layout.clientWidth, layout.clientHeight);
        SetWindowPos(h, nullptr, 0, 0, real.cx, real.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        gFrames.insert(h);
        SetOwnerWindow(h);
        return reinterpret_cast<FrameHandle>(h);
    }

    int Dpi(FrameHandle frame) override { return WindowDpi(reinterpret_cast<HWND>(frame)); }

    void SetClientSize(FrameHandle frame, int width, int height) override {
        HWND h = reinterpret_cast<HWND>(frame);
        RECT r;
        if (!Data(frame) || !GetWindowRect(h, &r)) return;
        SIZE s = FrameSizeFor(h, width, height);
        SetWindowPos(h, nullptr, r.left + (r.right - r.left - s.cx) / 2, r.top + (r.bottom - r.top - s.cy) / 2, s.cx,
                     s.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void Show(FrameHandle frame) override {
        HWND h = reinterpret_cast<HWND>(frame);
        if (!Data(frame)) return;
        RECT r;
        GetWindowRect(h, &r);
        MONITORINFO mi{};
        mi.cbSize = sizeof mi;
        if (GetMonitorInfoW(MonitorFromWindow(h, MONITOR_DEFAULTTOPRIMARY), &mi)) {
            const RECT& w = mi.rcWork;
            const int cx = r.right - r.left, cy = r.bottom - r.top;
            SetWindowPos(h, nullptr, w.left + (w.right - w.left - cx) / 2, w.top + (w.bottom - w.top - cy) / 2, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER);
        }
        ShowWindow(h, SW_SHOW);
        SetForegroundWindow(h);
        UpdateWindow(h);
    }

    void Close(FrameHandle frame) override {
        if (Data(frame)) PostMessageW(reinterpret_cast<HWND>(frame), WM_CLOSE, 0, 0);
    }

    void Destroy(FrameHandle frame) override {
        FrameData* d = Data(frame);
        if (!d) return;
        d->events = nullptr;
        DestroyWindow(d->hwnd);
    }

    uintptr_t NativeHandle(FrameHandle frame) override { return frame; }

    void MeasureText(FrameHandle frame, const std::wstring& text, const FontChoice& font, int& width,
                     int& height) override {
        HWND h = reinterpret_cast<HWND>(frame);
        HDC dc = GetDC(h);
        HFONT f = MakeFont(font);
        HGDIOBJ old = SelectObject(dc, f);
        RECT r{0, 0, 0, 0};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_LEFT);
        SelectObject(dc, old);
        DeleteObject(f);
        ReleaseDC(h, dc);
        width = r.right - r.left;
        height = r.bottom - r.top;
    }

    void AddControl(FrameHandle frame, const ControlLayout& c) override {
        FrameData* d = Data(frame);
        if (!d) return;
        const wchar_t* cls = WC_STATICW;
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS, ex = 0;
        switch (c.kind) {
            case ControlKind::Picture: style |= SS_BITMAP; break;
            case ControlKind::Label: style |= SS_LEFTNOWORDWRAP; break;
            case ControlKind::LinkLabel: style |= SS_LEFTNOWORDWRAP | SS_NOTIFY; break;
            case ControlKind::Edit:
                cls = WC_EDITW;
                style |= ES_AUTOHSCROLL | ES_LEFT;
                ex |= WS_EX_CLIENTEDGE;
                break;
            case ControlKind::Button: cls = WC_BUTTONW; style |= BS_PUSHBUTTON; break;
            case ControlKind::RadioButton: cls = WC_BUTTONW; style |= BS_RADIOBUTTON; break;
            case ControlKind::ProgressBar: cls = PROGRESS_CLASSW; break;
            case ControlKind::StatusBar:
                cls = STATUSCLASSNAMEW;
                style |= CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
                break;
            case ControlKind::GroupBox: cls = WC_BUTTONW; style |= BS_GROUPBOX; break;
        }
        if (c.visible) style |= WS_VISIBLE;
        if (!c.enabled) style |= WS_DISABLED;
        if (c.tabStop) style |= WS_TABSTOP | WS_GROUP;
        HWND w = CreateWindowExW(ex, cls, c.kind == ControlKind::StatusBar ? L"" : c.text.c_str(), style, c.rect.left,
                                 c.rect.top, c.rect.width, c.rect.height, d->hwnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), GetModuleHandleW(nullptr),
                                 nullptr);
        if (!w) return;
        d->controls[c.id] = w;
        d->kinds[c.id] = c.kind;
        if (c.textRgb >= 0)
            d->colours[c.id] = RGB((c.textRgb >> 16) & 0xFF, (c.textRgb >> 8) & 0xFF, c.textRgb & 0xFF);
        if (c.kind == ControlKind::StatusBar) {
            SendMessageW(w, SB_SIMPLE, TRUE, 0);
            SendMessageW(w, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(c.text.c_str()));
        }
        if (c.kind == ControlKind::ProgressBar) SendMessageW(w, PBM_SETRANGE32, 0, 100);
        SetFont(frame, c.id, c.font);
    }

    void SetText(FrameHandle frame, int id, const std::wstring& text) override {
        HWND w = Child(frame, id);
        if (!w) return;
        if (Data(frame)->kinds[id] == ControlKind::StatusBar)
            SendMessageW(w, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
        else
            SetWindowTextW(w, text.c_str());
    }

    std::wstring Text(FrameHandle frame, int id) override {
        HWND w = Child(frame, id);
        if (!w) return std::wstring();
        if (Data(frame)->kinds[id] == ControlKind::StatusBar) {
            // The simple text: Windows reads it as part SB_SIMPLEID, Wine
            // only as part 0.
            for (WPARAM part : {static_cast<WPARAM>(SB_SIMPLEID), static_cast<WPARAM>(0)}) {
                LRESULT n = SendMessageW(w, SB_GETTEXTLENGTHW, part, 0);
                if (LOWORD(n) == 0) continue;
                std::wstring s(static_cast<size_t>(LOWORD(n)) + 1, L'\0');
                SendMessageW(w, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(&s[0]));
                s.resize(LOWORD(n));
                return s;
            }
            return std::wstring();
        }
        int n = GetWindowTextLengthW(w);
        std::wstring s(static_cast<size_t>(n) + 1, L'\0');
        n = GetWindowTextW(w, &s[0], n + 1);
        s.resize(static_cast<size_t>(n > 0 ? n : 0));
        return s;
    }

    void SetRect(FrameHandle frame, int id, const PixelRect& r) override {
        if (HWND w = Child(frame, id)) MoveWindow(w, r.left, r.top, r.width, r.height, TRUE);
    }

    void SetFont(FrameHandle frame, int id, const FontChoice& font) override {
        HWND w = Child(frame, id);
        if (!w) return;
        FrameData* d = Data(frame);
        HFONT f = MakeFont(font);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
        auto it = d->fonts.find(id);
        if (it != d->fonts.end()) DeleteObject(it->second);
        d->fonts[id] = f;
    }

    void SetVisible(FrameHandle frame, int id, bool visible) override {
        if (HWND w = Child(frame, id)) ShowWindow(w, visible ? SW_SHOWNA : SW_HIDE);
    }
    void SetEnabled(FrameHandle frame, int id, bool enabled) override {
        if (HWND w = Child(frame, id)) EnableWindow(w, enabled ? TRUE : FALSE);
    }
    void SetChecked(FrameHandle frame, int id, bool checked) override {
        if (HWND w = Child(frame, id)) SendMessageW(w, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void SetFocus(FrameHandle frame, int id) override {
        if (HWND w = Child(frame, id)) ::SetFocus(w);
    }
    int Focused(FrameHandle frame) override {
        HWND f = GetFocus();
        FrameData* d = Data(frame);
        if (!d || !f || GetParent(f) != d->hwnd) return 0;
        return GetDlgCtrlID(f);
    }

    void SetPicture(FrameHandle frame, int id, const Bitmap& b) override {
        HWND w = Child(frame, id);
        if (!w || b.width <= 0 || b.height <= 0) return;
        FrameData* d = Data(frame);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = b.width;
        bi.bmiHeader.biHeight = -b.height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bmp || !bits) return;
        memcpy(bits, b.bgrx.data(), b.bgrx.size());
        RECT r;
        GetWindowRect(w, &r);
        MapWindowPoints(nullptr, d->hwnd, reinterpret_cast<POINT*>(&r), 2);
        HBITMAP old = reinterpret_cast<HBITMAP>(SendMessageW(w, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp)));
        // The control may have made its own copy of an earlier picture.
        if (old && old != d->picture) DeleteObject(old);
        if (d->picture) DeleteObject(d->picture);
        d->picture = bmp;
        MoveWindow(w, r.left, r.top, b.width, b.height, TRUE);
    }

    void SetProgressMax(FrameHandle frame, int id, int max) override {
        if (HWND w = Child(frame, id)) SendMessageW(w, PBM_SETRANGE32, 0, max);
    }
    void SetProgressPosition(FrameHandle frame, int id, int position) override {
        if (HWND w = Child(frame, id)) SendMessageW(w, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }

    void StartTimer(FrameHandle frame, int timerId, int intervalMs) override {
        if (Data(frame)) SetTimer(reinterpret_cast<HWND>(frame), static_cast<UINT_PTR>(timerId), static_cast<UINT>(intervalMs), nullptr);
    }
    void StopTimer(FrameHandle frame, int timerId) override {
        if (Data(frame)) KillTimer(reinterpret_cast<HWND>(frame), static_cast<UINT_PTR>(timerId));
    }
    void Wake(FrameHandle frame) override { PostMessageW(reinterpret_cast<HWND>(frame), kWakeMessage, 0, 0); }

    std::optional<std::wstring> BrowseForFolder(FrameHandle frame, const std::wstring& startPath) override {
        PIDLIST_ABSOLUTE start = nullptr;
        IShellFolder* desktop = nullptr;
        if (!startPath.empty() && SUCCEEDED(SHGetDesktopFolder(&desktop))) {
            std::vector<wchar_t> name(startPath.begin(), startPath.end());
            name.push_back(0);
            ULONG eaten = 0;
            PIDLIST_RELATIVE pidl = nullptr;
            if (SUCCEEDED(desktop->ParseDisplayName(reinterpret_cast<HWND>(frame), nullptr, name.data(), &eaten,
                                                    &pidl, nullptr)))
                start = reinterpret_cast<PIDLIST_ABSOLUTE>(pidl);
            desktop->Release();
        }
        BROWSEINFOW bi{};
        bi.hwndOwner = reinterpret_cast<HWND>(frame);
        bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        bi.lpfn = SelectStartItem;
        bi.lParam = reinterpret_cast<LPARAM>(start);
        PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
        if (start) CoTaskMemFree(start);
        if (!chosen) return std::nullopt;
        wchar_t path[MAX_PATH] = {0};
        const bool ok = SHGetPathFromIDListW(chosen, path) != 0;
        CoTaskMemFree(chosen);
        if (!ok) return std::nullopt;
        return std::wstring(path);
    }

    std::wstring ProgramFilesFolder(FrameHandle frame) override {
        wchar_t path[MAX_PATH] = {0};
        if (!SHGetSpecialFolderPathW(reinterpret_cast<HWND>(frame), path, CSIDL_PROGRAM_FILES, FALSE)) return std::wstring();
        return path;
    }

    std::vector<uint8_t> ResourceData(int id) override {
        HMODULE self = GetModuleHandleW(nullptr);
        HRSRC r = FindResourceW(self, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
        HGLOBAL g = r ? LoadResource(self, r) : nullptr;
        const auto* p = g ? static_cast<const uint8_t*>(LockResource(g)) : nullptr;
        if (!p) return {};
        return std::vector<uint8_t>(p, p + SizeofResource(self, r));
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
WindowSystem& Port<WindowSystem>::Default() {
    static win32::Win32WindowSystem instance;
    return instance;
}
}  // namespace tide::platform
