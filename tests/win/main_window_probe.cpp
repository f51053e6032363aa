// Reads the main window from inside its own process, where the window
// system answers what it will not tell another process (the font of a
// control, the status bar's simple text, the bitmap of the picture).
//
//   main_window_probe.exe [HOLD-SECONDS]
//
// Creates TfrmNewMainForm with the real adapters and the product's
// resources, shows it, and prints one line per control:
//   control|ID|CLASS|LEFT,TOP,WIDTH,HEIGHT|FACE|HEIGHT|WEIGHT|UNDERLINE|COLOUR
// (rectangle in the frame's client area; FACE is the face the font really
// got, GetTextFaceW; HEIGHT is lfHeight; WEIGHT the weight the font got,
// GetTextMetricsW; COLOUR the text colour the frame
// gives a static, or "-"), then:
//   client|WIDTH,HEIGHT|dpi|DPI
//   cursor|hand|YES-OR-NO (over the link, the frame sets the hand cursor)
//   picture|WIDTH,HEIGHT|PIXELS-THAT-MATCH-THE-DECODED-ARTWORK/CHECKED
//   status|TEXT          (after another thread set it and the window woke)
//   progress|MAX|POSITION
//   stage|ID|WEIGHT      (after SetStage(Configuring))
// and then keeps the window up for HOLD-SECONDS (default 0), for a
// screenshot, printing "holding" first.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "platform/window.h"
#include "ui/frmNewMain.h"
#include "ui/jpeg_picture.h"
#include "ui/resource_ids.h"

namespace {

void Out(const std::wstring& line) {
    std::wstring l = line + L"\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, l.c_str(), static_cast<int>(l.size()), nullptr, 0, nullptr, nullptr);
    std::string u(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, l.c_str(), static_cast<int>(l.size()), &u[0], n, nullptr, nullptr);
    fwrite(u.data(), 1, u.size(), stdout);
    fflush(stdout);
}

std::wstring Str(long v) { return std::to_wstring(v); }

void Pump(int ms) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
    while (GetTickCount64() < end) {
        tide::platform::Env().ProcessMessages();
        Sleep(10);
    }
}

std::wstring FontLine(HWND frame, HWND c) {
    HFONT f = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
    if (!f) return L"none|0|0|0";
    LOGFONTW lf{};
    GetObjectW(f, sizeof lf, &lf);
    HDC dc = GetDC(frame);
    HGDIOBJ old = SelectObject(dc, f);
    wchar_t face[LF_FACESIZE] = {0};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(frame, dc);
    return std::wstring(face) + L"|" + Str(lf.lfHeight) + L"|" + Str(tm.tmWeight) + L"|" + Str(lf.lfUnderline);
}

// The text colour the frame gives a static control when it paints.
std::wstring ColourOf(HWND frame, HWND c) {
    wchar_t cls[64] = {0};
    GetClassNameW(c, cls, 64);
    if (lstrcmpiW(cls, L"Static") != 0) return L"-";
    HDC dc = GetDC(c);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(frame, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(c));
    COLORREF col = GetTextColor(dc);
    ReleaseDC(c, dc);
    if (col == RGB(1, 2, 3)) return L"default";
    wchar_t buf[16];
    swprintf(buf, 16, L"#%02x%02x%02x", GetRValue(col), GetGValue(col), GetBValue(col));
    return buf;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace tide;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    CoInitialize(nullptr);
    TfrmNewMainForm form;
    form.Show();
    Pump(300);
    HWND frame = reinterpret_cast<HWND>(form.OwnerHandle());
    for (const auto& row : MainWindowLayout()) {
        HWND c = GetDlgItem(frame, row.id);
        if (!c) {
            Out(L"control|" + Str(row.id) + L"|missing");
            continue;
        }
        wchar_t cls[64] = {0};
        GetClassNameW(c, cls, 64);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
        Out(L"control|" + std::wstring(row.name) + L"|" + cls + L"|" + Str(r.left) + L"," + Str(r.top) + L"," +
            Str(r.right - r.left) + L"," + Str(r.bottom - r.top) + L"|" + FontLine(frame, c) + L"|" +
            ColourOf(frame, c));
    }
    RECT cr;
    GetClientRect(frame, &cr);
    Out(L"client|" + Str(cr.right) + L"," + Str(cr.bottom) + L"|dpi|" + Str(platform::Windows().Dpi(form.Frame())));

    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    HWND link = GetDlgItem(frame, idLabel3);
    SendMessageW(frame, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    Out(std::wstring(L"cursor|hand|") + (GetCursor() == LoadCursorW(nullptr, IDC_HAND) ? L"yes" : L"no"));

    // The picture: its bitmap against the artwork decoded and scaled here.
    HWND pic = GetDlgItem(frame, idImage1);
    HBITMAP bmp = reinterpret_cast<HBITMAP>(SendMessageW(pic, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP bm{};
    if (bmp && GetObjectW(bmp, sizeof bm, &bm)) {
        platform::Bitmap art, scaled;
        std::wstring why;
        DecodeJpeg(platform::Windows().ResourceData(kArtworkResource), art, why);
        scaled = ScaleBitmap(art, bm.bmWidth, bm.bmHeight);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = bm.bmWidth;
        bi.bmiHeader.biHeight = -bm.bmHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        std::vector<uint8_t> px(static_cast<size_t>(bm.bmWidth) * bm.bmHeight * 4);
        HDC dc = GetDC(frame);
        GetDIBits(dc, bmp, 0, bm.bmHeight, px.data(), &bi, DIB_RGB_COLORS);
        ReleaseDC(frame, dc);
        int same = 0, checked = 0;
        for (size_t i = 0; i + 3 < px.size() && i < scaled.bgrx.size(); i += 4 * 97) {
            ++checked;
            bool eq = true;
            for (int c = 0; c < 3; ++c) eq = eq && abs(px[i + c] - scaled.bgrx[i + c]) <= 2;
            same += eq;
        }
        Out(L"picture|" + Str(bm.bmWidth) + L"," + Str(bm.bmHeight) + L"|" + Str(same) + L"/" + Str(checked));
    } else {
        Out(L"picture|none");
    }

    // Status line and progress bar from another thread.
    form.ShowInstallProgress();
    std::thread t([&] {
        form.StatusLine().SetText(L"Downloading apache-tomcat-7.0.50.zip");
        form.Progress().SetMax(200);
        form.Progress().SetPosition(50);
    });
    t.join();
    Pump(300);
    Out(L"status|" + platform::Windows().Text(form.Frame(), idSbStatusBar));
    HWND pb = GetDlgItem(frame, idPb);
    Out(L"progress|" + Str(static_cast<long>(SendMessageW(pb, PBM_GETRANGE, FALSE, 0))) + L"|" +
        Str(static_cast<long>(SendMessageW(pb, PBM_GETPOS, 0, 0))));
    form.SetStage(InstallStage::Configuring);
    for (int id : {idLbStat1, idLbStat4}) {
        HFONT f = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(frame, id), WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        GetObjectW(f, sizeof lf, &lf);
        Out(L"stage|" + Str(id) + L"|" + Str(lf.lfWeight));
    }
    if (argc > 1) {
        Out(L"holding");
        Pump(_wtoi(argv[1]) * 1000);
    }
    return 0;
}
