// Times one TUrlDownloader download with its MD5 check and reports the
// process's peak memory. Used by bench/download_bench.sh.
//
//   download_bench.exe URL LOCAL_FILE MD5 SIZE
//
// Prints: "ms=ELAPSED ok=0|1 peak_private_kib=N peak_ws_kib=N pieces=N"
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "base/error.h"
#include "download/URLFetcher2.h"
#include "platform/progress.h"

namespace {
// Counts progress calls (one per piece) without keeping them.
class CountingBar : public tide::platform::ProgressBar {
public:
    long pieces = 0;
    void SetMax(int) override {}
    void SetPosition(int) override { ++pieces; }
};
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::printf("usage: download_bench URL LOCAL_FILE MD5 SIZE\n");
        return 2;
    }
    DeleteFileW(argv[2]);
    tide::TUrlDownloader dl(L"Tidewell Downloader V 0.0.0.0");
    CountingBar bar;
    dl.pb = &bar;
    dl.SilentFail = true;
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    bool ok = false;
    try {
        ok = dl.downloadURL(argv[1], argv[2], argv[3], std::stoi(argv[4]));
    } catch (const tide::Error& e) {
        std::printf("error: %ls\n", e.Message().c_str());
    }
    QueryPerformanceCounter(&t1);
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    std::printf("ms=%.1f ok=%d peak_private_kib=%lu peak_ws_kib=%lu pieces=%ld\n",
                (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart, ok ? 1 : 0,
                static_cast<unsigned long>(pmc.PeakPagefileUsage / 1024),
                static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024), bar.pieces);
    return ok ? 0 : 1;
}
