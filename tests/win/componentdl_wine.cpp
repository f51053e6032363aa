// The component downloader with the real ports (files, registry, WinInet,
// std::thread on Windows). Run by tests/wine/componentdl.sh.
//
//   componentdl_wine.exe /i MANIFEST_URL INSTALL_DIR ALT_PATH COMPONENTS ABORT_MS [PROXY CREDENTIALS]
//
// ALT_PATH "-" for none; COMPONENTS comma-separated; ABORT_MS the delay
// after BeginDownload before AbortDownload, or -1 for no abort; then
// "/proxyuser=" and "/proxypassword=" as the program takes them. Message
// boxes are recorded and printed, not shown. Prints "key=value" lines:
// manifest, status, downloaded, last-text, abort-latency-ms (abort to a
// final status), destroyed-ms (abort to the end of the destructor, which
// joins the thread, as the window does), box.
#include <windows.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Tidestart.h"
#include "base/error.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/proxy_options.h"
#include "platform/environment.h"
#include "base/text.h"
#include "download/ComponentDL.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "download/manifest_download.h"
#include "release_test_support.h"

using namespace tide;
using namespace tide::wintest;

namespace {

class PrintedBoxes : public platform::MessageBoxes {
public:
    int Show(const std::wstring& text, const std::wstring& caption, platform::MbButtons, platform::MbIcon) override {
        std::lock_guard<std::mutex> lock(mu_);
        lines_.push_back(caption + L"|" + text.substr(0, text.find(L'\n')));
        return platform::kIdOk;
    }
    std::vector<std::wstring> Lines() {
        std::lock_guard<std::mutex> lock(mu_);
        return lines_;
    }

private:
    std::mutex mu_;
    std::vector<std::wstring> lines_;
};

const wchar_t* StatusName(TDownloadStatus s) {
    switch (s) {
        case DOWNLOAD_IN_PROGRESS: return L"DOWNLOAD_IN_PROGRESS";
        case DOWNLOAD_SUCCEEDED: return L"DOWNLOAD_SUCCEEDED";
        case DOWNLOAD_FAILED: return L"DOWNLOAD_FAILED";
        case ABORT_PENDING: return L"ABORT_PENDING";
        case DOWNLOAD_ABORTED: return L"DOWNLOAD_ABORTED";
    }
    return L"?";
}

bool Running(TDownloadStatus s) { return s == DOWNLOAD_IN_PROGRESS || s == ABORT_PENDING; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetManifestFetcher(&ManifestDownload());
    if (argc < 7) {
        fwprintf(stderr, L"usage: componentdl_wine.exe /i MANIFEST_URL INSTALL_DIR ALT_PATH COMPONENTS ABORT_MS "
                         L"[/proxyuser=NAME /proxypassword=SECRET]\n");
        return 2;
    }
    ApplyProxyCredentials(platform::Env().Arguments());
    ResultFile out(L"");
    const std::wstring dir = argv[3];
    const std::wstring alt = std::wstring(argv[4]) == L"-" ? L"" : argv[4];
    TComponentList list;
    for (std::wstring rest = argv[5]; !rest.empty();) {
        size_t comma = rest.find(L',');
        list.push_back(rest.substr(0, comma));
        rest = comma == std::wstring::npos ? L"" : rest.substr(comma + 1);
    }
    const int abortMs = StrToIntDef(argv[6], -1);

    PrintedBoxes boxes;
    platform::ScopedPort<platform::MessageBoxes> boxPort(boxes);
    if (!CreateDirectoryTree(dir)) {
        out.Line(L"error=cannot create " + dir);
        return 1;
    }
    AppPathGuard guard(dir);
    try {
        out.Line(L"manifest=" + ManifestValue(L"TW", L"FILE_VERSION"));
    } catch (const Error& e) {
        out.Line(L"error=" + e.Message());
        return 1;
    }

    platform::RecordingStatusLine sb;
    platform::RecordingProgressBar pb;
    auto dl = std::make_unique<TComponentDownloader>(true);
    dl->AgentName = AgentName();
    dl->Alt_Path = alt;
    dl->pb = &pb;
    dl->sb = &sb;
    dl->SetComponents(list);
    dl->BeginDownload();

    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::seconds(120);
    Clock::time_point abortAt{};
    if (abortMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(abortMs));
        out.Line(std::wstring(L"status-before-abort=") + StatusName(dl->Status()));
        auto t0 = Clock::now();
        abortAt = t0;
        dl->AbortDownload();
        out.Line(std::wstring(L"status-after-abort=") + StatusName(dl->Status()));
        while (Running(dl->Status()) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        out.Line(L"abort-latency-ms=" +
                 IntToStr(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count()));
    }
    // The window polls every 500 ms; the test polls faster.
    while (Running(dl->Status()) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    out.Line(std::wstring(L"status=") + StatusName(dl->Status()));
    std::unique_ptr<TComponentList> got = dl->getDownloadedComponents();
    dl.reset();
    if (abortMs >= 0)
        out.Line(L"destroyed-ms=" +
                 IntToStr(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - abortAt).count()));
    std::wstring joined;
    for (const auto& n : *got) joined += (joined.empty() ? L"" : L",") + n;
    out.Line(L"downloaded=" + joined);
    out.Line(L"last-text=" + sb.Last());
    for (const auto& b : boxes.Lines()) out.Line(L"box=" + b);
    return 0;
}
