// TUrlDownloader over the real WinInet against two servers on 127.0.0.1:
// nginx (honours ranges) and the project's fault server. Run by
// tests/wine/urlfetcher.sh, which also reads both servers' logs.
//
//   urlfetcher_wine.exe NGINX_URL FAULT_URL SERVED_DIR WORK_DIR DEAF_URL
//
// SERVED_DIR holds c1.bin ... (1000 bytes each, same content) and big.bin;
// WORK_DIR is an empty folder; DEAF_URL a listener that never accepts.
// Prints "ok: CASE" or "FAIL: CASE: why" per case, and "measured: ..."
// lines with the abort and progress latencies; the exit code is the number
// of failed cases.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/error.h"
#include "download/URLFetcher2.h"
#include "download/md5.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/progress.h"
#include "report.h"

using namespace tide;
using platform::Files;

namespace {

using Box = platform::ShownBox;
using RecordingBoxes = platform::RecordingMessageBoxes;

std::wstring gNginx, gFault, gServed, gWork, gDeaf;
const std::wstring kAgent = L"Tidewell Downloader V 9.8.7.6";

std::string ReadAll(const std::wstring& path) {
    auto f = Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::ReadWrite);
    if (!f) return std::string("<missing>");
    std::string s(static_cast<size_t>(f->Size()), '\0');
    size_t got = 0;
    while (got < s.size()) {
        size_t n = f->Read(&s[got], s.size() - got);
        if (n == 0) break;
        got += n;
    }
    s.resize(got);
    return s;
}

void WriteAll(const std::wstring& path, const std::string& s) {
    auto f = Files().Open(path, platform::OpenMode::CreateAlways, platform::Share::None);
    if (!f) throw IoError(L"cannot create " + path);
    f->Write(s.data(), s.size());
}

std::wstring Hex(const std::string& s) {
    Md5State st;
    Md5Start(st);
    Md5Feed(st, s.data(), static_cast<uint32_t>(s.size()));
    return DigestToHex(Md5Finish(st));
}

std::wstring Num(long long v) { return std::to_wstring(v); }

// Notes the time of every progress call; the longest gap between two is how
// long the user may see no progress at all.
class TimedBar : public platform::ProgressBar {
public:
    void SetMax(int) override {}
    void SetPosition(int) override {
        std::lock_guard<std::mutex> lock(mu_);
        DWORD now = GetTickCount();
        if (calls_ > 0) maxGap_ = std::max<DWORD>(maxGap_, now - last_);
        last_ = now;
        ++calls_;
    }
    int Calls() {
        std::lock_guard<std::mutex> lock(mu_);
        return calls_;
    }
    DWORD MaxGap() {
        std::lock_guard<std::mutex> lock(mu_);
        return maxGap_;
    }

private:
    std::mutex mu_;
    int calls_ = 0;
    DWORD last_ = 0;
    DWORD maxGap_ = 0;
};

// Starts a download of url on a thread, waits ready() (at most 20 s), then
// aborts it (abort()) and measures how long the call takes to return
// (at most 30 s). Returns the milliseconds; result gets the call's result.
template <class Ready, class AbortFn>
DWORD AbortLatency(TUrlDownloader& dl, const std::wstring& url, const std::wstring& local, int32_t size,
                   Ready ready, AbortFn abort, bool& result) {
    std::atomic<bool> done{false};
    result = true;
    std::thread worker([&] {
        try {
            result = dl.downloadURL(url, local, L"", size);
        } catch (const Error&) {
            result = true;  // reported as a failure of the case
        }
        done = true;
    });
    DWORD t0 = GetTickCount();
    while (!ready() && !done && GetTickCount() - t0 < 20000) Sleep(10);
    DWORD abortAt = GetTickCount();
    abort();
    while (!done && GetTickCount() - abortAt < 30000) Sleep(2);
    DWORD took = GetTickCount() - abortAt;
    if (done)
        worker.join();
    else
        worker.detach();  // reported; the process ends soon
    return took;
}

void Measured(const char* what, DWORD ms) {
    std::printf("measured: %s %lu ms\n", what, static_cast<unsigned long>(ms));
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::printf("usage: urlfetcher_wine NGINX_URL FAULT_URL SERVED_DIR WORK_DIR DEAF_URL\n");
        return 100;
    }
    gNginx = argv[1];
    gFault = argv[2];
    gServed = std::wstring(argv[3]) + L"\\";
    gWork = std::wstring(argv[4]) + L"\\";
    gDeaf = argv[5];
    RecordingBoxes boxes;
    platform::ScopedPort<platform::MessageBoxes> boxPort(boxes);

    const std::string body = ReadAll(gServed + L"c1.bin");
    const std::wstring md5 = Hex(body);
    if (body.size() != 1000) {
        std::printf("FAIL: setup: c1.bin has %u bytes\n", static_cast<unsigned>(body.size()));
        return 100;
    }

    try {
        {   // Resume of a 300-byte partial file, size given: "bytes=300-1000".
            WriteAll(gWork + L"c1.bin", body.substr(0, 300));
            TUrlDownloader dl(kAgent);
            bool ok = dl.downloadURL(gNginx + L"/c1.bin", gWork + L"c1.bin", md5, 1000);
            Report("resume_with_size", ok && ReadAll(gWork + L"c1.bin") == body && boxes.Take().empty(),
                   L"result " + Num(ok));
        }
        {   // The same without a size: "bytes=300-"; digest in lower case.
            WriteAll(gWork + L"c2.bin", body.substr(0, 300));
            TUrlDownloader dl(kAgent);
            std::wstring lower = md5;
            for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
            bool ok = dl.downloadURL(gNginx + L"/c2.bin", gWork + L"c2.bin", lower, -1);
            Report("resume_without_size", ok && ReadAll(gWork + L"c2.bin") == body && boxes.Take().empty(),
                   L"result " + Num(ok));
        }
        {   // A server that ignores the range answers 200 with the whole
            // file: it replaces the partial one, in the same attempt.
            WriteAll(gWork + L"c3.bin", body.substr(0, 300));
            TUrlDownloader dl(kAgent);
            bool ok = dl.downloadURL(gFault + L"/ignore-range/c3.bin", gWork + L"c3.bin", md5, 1000);
            std::vector<Box> b = boxes.Take();
            std::string got = ReadAll(gWork + L"c3.bin");
            Report("ignored_range_starts_again", ok && got == body && b.empty(),
                   L"result " + Num(ok) + L", size " + Num(got.size()) + L", boxes " + Num(b.size()));
        }
        {   // The same with no size and no digest: only the status tells.
            WriteAll(gWork + L"c9.bin", body.substr(0, 300));
            TUrlDownloader dl(kAgent);
            bool ok = dl.downloadURL(gFault + L"/ignore-range/c9.bin", gWork + L"c9.bin", L"", -1);
            std::string got = ReadAll(gWork + L"c9.bin");
            Report("ignored_range_unknown_size_starts_again", ok && got == body && boxes.Take().empty(),
                   L"result " + Num(ok) + L", size " + Num(got.size()));
        }
        {   // A server that answers 5 MiB for a file announced as 1000 bytes:
            // the call fails on its first attempt and leaves nothing on
            // disk; the same with no size but a bound of 1 MiB.
            for (int32_t size : {1000, -1}) {
                const std::wstring local = gWork + L"huge" + Num(size) + L".bin";
                TUrlDownloader dl(kAgent);
                dl.SilentFail = true;
                if (size < 1) dl.MaximumSize = 1024 * 1024;
                bool ok = dl.downloadURL(gNginx + L"/huge.bin", local, L"", size);
                bool left = GetFileAttributesW(local.c_str()) != INVALID_FILE_ATTRIBUTES;
                Report(size > 0 ? "longer_than_announced_leaves_nothing" : "longer_than_the_bound_leaves_nothing",
                       !ok && !left && boxes.Take().empty(), L"result " + Num(ok) + L", file left " + Num(left));
            }
        }
        {   // The connection closes after half the file: the next attempt of
            // the same call resumes and the call succeeds.
            TUrlDownloader dl(kAgent);
            dl.MaximumRetries = 3;
            bool ok = dl.downloadURL(gFault + L"/drop-once/500/c4.bin", gWork + L"c4.bin", md5, 1000);
            Report("interrupted_transfer_resumes",
                   ok && ReadAll(gWork + L"c4.bin") == body && boxes.Take().empty(), L"result " + Num(ok));
        }
        {   // Abort from a second thread while the server trickles; progress
            // and status arrive through the thread-safe recorders.
            platform::RecordingStatusLine sb;
            platform::RecordingProgressBar pb;
            TUrlDownloader dl(kAgent);
            dl.sb = &sb;
            dl.pb = &pb;
            const std::string big = ReadAll(gServed + L"big.bin");
            std::atomic<bool> done{false};
            bool result = true;
            std::thread worker([&] {
                result = dl.downloadURL(gFault + L"/trickle/1024/20/big.bin", gWork + L"big.bin", Hex(big),
                                        static_cast<int32_t>(big.size()));
                done = true;
            });
            DWORD t0 = GetTickCount();
            while (pb.Positions().size() < 5 && GetTickCount() - t0 < 20000) Sleep(10);
            DWORD abortAt = GetTickCount();
            dl.AbortFlag = true;
            while (!done && GetTickCount() - abortAt < 10000) Sleep(5);
            DWORD took = GetTickCount() - abortAt;
            worker.join();
            size_t size = ReadAll(gWork + L"big.bin").size();
            std::vector<std::wstring> texts = sb.Texts();
            bool firstText = !texts.empty() && texts[0] == L"Opening File URL: " + gFault + L"/trickle/1024/20/big.bin";
            Report("abort_during_trickle",
                   !result && took < 1000 && size > 0 && size < big.size() && boxes.Take().empty() && firstText &&
                       texts.size() == 1,
                   L"result " + Num(result) + L", " + Num(took) + L" ms after the abort, size " + Num(size) +
                       L", texts " + Num(texts.size()));
        }
        {   // A medium-rate line (bursts of 10 KiB at about 20 KB/s): progress
            // arrives with every burst and the abort flag is seen within a
            // second, as each read takes only what is waiting.
            TimedBar pb;
            TUrlDownloader dl(kAgent);
            dl.pb = &pb;
            const std::string big = ReadAll(gServed + L"big.bin");
            bool result = true;
            DWORD took = AbortLatency(
                dl, gFault + L"/medium/big.bin", gWork + L"medium.bin", static_cast<int32_t>(big.size()),
                [&] { return pb.Calls() >= 6; }, [&] { dl.AbortFlag = true; }, result);
            size_t size = ReadAll(gWork + L"medium.bin").size();
            Measured("medium-line progress gap", pb.MaxGap());
            Measured("medium-line abort (AbortFlag)", took);
            Report("medium_line_progress_and_abort",
                   !result && took < 1000 && pb.MaxGap() < 1000 && pb.Calls() >= 6 && size > 0 && size < big.size() &&
                       boxes.Take().empty(),
                   L"result " + Num(result) + L", abort " + Num(took) + L" ms, longest progress gap " +
                       Num(pb.MaxGap()) + L" ms, " + Num(pb.Calls()) + L" progress calls, size " + Num(size));
        }
        // An open that blocks, until Abort ends it: a server that accepts
        // and never answers, and a listener that never accepts.
        struct Blocked {
            const char* name;
            const char* what;
            std::wstring url;
        };
        for (const Blocked& c : {Blocked{"abort_open_never_answered", "open never answered, abort", gFault + L"/hang/c1.bin"},
                                 Blocked{"abort_connect_never_accepted", "connect never accepted, abort",
                                         gDeaf + L"/c1.bin"}}) {
            TUrlDownloader dl(kAgent);
            bool result = true;
            DWORD t0 = GetTickCount();
            DWORD took = AbortLatency(
                dl, c.url, gWork + L"blocked.bin", 1000, [&] { return GetTickCount() - t0 > 1500; },
                [&] { dl.Abort(); }, result);
            Measured(c.what, took);
            Report(c.name, !result && took < 1000 && boxes.Take().empty(),
                   L"result " + Num(result) + L", " + Num(took) + L" ms after the abort");
        }
        {   // Wrong bytes: the corruption box even with SilentFail, file gone.
            TUrlDownloader dl(kAgent);
            dl.SilentFail = true;
            bool ok = dl.downloadURL(gFault + L"/wrong/c5.bin", gWork + L"c5.bin", md5, 1000);
            std::vector<Box> b = boxes.Take();
            bool gone = GetFileAttributesW((gWork + L"c5.bin").c_str()) == INVALID_FILE_ATTRIBUTES;
            Report("digest_mismatch_box_even_when_silent",
                   !ok && gone && b.size() == 1 && b[0].caption == L"Notice" && b[0].icon == platform::MbIcon::Error &&
                       b[0].text.find(L"corrupted during the transfer") != std::wstring::npos &&
                       b[0].text.find(L"The expected MD5Sum is " + md5) != std::wstring::npos,
                   L"result " + Num(ok) + L", gone " + Num(gone) + L", boxes " + Num(b.size()));
        }
        {   // Error answers are never written into the file.
            bool all = true;
            std::wstring why;
            for (const std::wstring& url : {gFault + L"/status/404/c6.bin", gFault + L"/status/500/c6.bin",
                                            gNginx + L"/no-such-file.bin"}) {
                TUrlDownloader dl(kAgent);
                dl.MaximumRetries = 2;
                dl.SilentFail = true;
                bool ok = dl.downloadURL(url, gWork + L"c6.bin", L"", -1);
                size_t size = ReadAll(gWork + L"c6.bin").size();
                if (ok || size != 0) {
                    all = false;
                    why += url + L": result " + Num(ok) + L", size " + Num(size) + L"; ";
                }
            }
            Report("error_status_not_written", all && boxes.Take().empty(), why);
        }
        {   // A file already complete: judged so without a request.
            WriteAll(gWork + L"c7.bin", body);
            TUrlDownloader dl(kAgent);
            bool ok = dl.downloadURL(gNginx + L"/c7.bin", gWork + L"c7.bin", md5, 1000);
            Report("complete_file_no_request", ok && boxes.Take().empty(), L"result " + Num(ok));
        }
        {   // Size unknown, local file as long as the remote one: 416, then
            // the whole file again.
            WriteAll(gWork + L"c8.bin", body);
            TUrlDownloader dl(kAgent);
            bool ok = dl.downloadURL(gNginx + L"/c8.bin", gWork + L"c8.bin", md5, -1);
            Report("unsatisfiable_range_restarts", ok && ReadAll(gWork + L"c8.bin") == body && boxes.Take().empty(),
                   L"result " + Num(ok));
        }
    } catch (const Error& e) {
        std::printf("FAIL: exception: %ls\n", e.Message().c_str());
        return 100;
    }
    return gFailures;
}
