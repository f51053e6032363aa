// Manifest lookups with every real port (files, registry, WinInet, message
// boxes, the message loop). Run by tests/wine/manifest.sh.
//
//   manifest_wine.exe [ARGUMENTS AS THE INSTALLER GETS THEM]
//
// The command line is the one the lookups scan ("/i URL", "/UNINSTALL"),
// with the proxy credentials the program takes from it ("/proxyuser=").
// Environment: TIDETEST_APPDIR the install directory to use, TIDETEST_LOOKUPS
// how many lookups of TW FILE_VERSION (default 1), TIDETEST_OUT a file for
// the result lines. After the lookups the program runs a message loop for at
// most 3 seconds and says whether a quit request ended it.
#include <windows.h>

#include "base/error.h"
#include "core/manifest.h"
#include "core/proxy_options.h"
#include "base/text.h"
#include "platform/environment.h"
#include "download/manifest_download.h"
#include "release_test_support.h"

using namespace tide;
using namespace tide::wintest;

int wmain(int, wchar_t**) {
    SetManifestFetcher(&ManifestDownload());
    ApplyProxyCredentials(platform::Env().Arguments());
    ResultFile out(EnvVar(L"TIDETEST_OUT"));
    AppPathGuard guard(EnvVar(L"TIDETEST_APPDIR"));
    int lookups = StrToIntDef(EnvVar(L"TIDETEST_LOOKUPS"), 1);
    for (int i = 1; i <= lookups; ++i) {
        try {
            out.Line(L"lookup " + IntToStr(i) + L": TW FILE_VERSION=" + ManifestValue(L"TW", L"FILE_VERSION"));
        } catch (const Error& e) {
            out.Line(L"lookup " + IntToStr(i) + L": error: " + e.Message());
        }
    }
    out.Line(std::wstring(L"quit requested: ") + (platform::Env().QuitRequested() ? L"yes" : L"no"));

    UINT_PTR timer = SetTimer(nullptr, 0, 3000, nullptr);
    MSG msg;
    BOOL r;
    bool byQuit = false;
    while ((r = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (r == -1) break;
        if (msg.message == WM_TIMER && msg.wParam == timer) break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    byQuit = r == 0;
    KillTimer(nullptr, timer);
    out.Line(std::wstring(L"message loop: ") + (byQuit ? L"ended by the quit request" : L"timer, no quit"));
    return 0;
}
