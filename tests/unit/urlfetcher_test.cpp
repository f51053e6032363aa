#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "base/error.h"
#include "base/text.h"
#include "download/URLFetcher2.h"
#include "download/md5.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_http.h"
#include "platform/fake/fake_ui.h"

using namespace tide;
using platform::ScopedPort;
using platform::fake::FakeClock;
using platform::fake::FakeHttp;
using platform::fake::RecordingMessageBoxes;
using platform::fake::TempFileSystem;

namespace {

const std::wstring kUrl = L"http://dl.example/bin/component.zip";
const std::wstring kLocal = L"C:\\dl\\component.zip";

std::string Body(size_t n, uint32_t seed = 7) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 24);
    }
    return s;
}

std::wstring Md5Hex(const std::string& s) {
    Md5State st;
    Md5Start(st);
    Md5Feed(st, s.data(), static_cast<uint32_t>(s.size()));
    return DigestToHex(Md5Finish(st));
}

class UrlDownloaderTest : public ::testing::Test {
protected:
    UrlDownloaderTest() : filesPort_(fs), httpPort_(http), boxPort_(boxes), clockPort_(clock) {
        fs.MakeDirectory(L"C:\\dl");
        dl.sb = &sb;
        dl.pb = &pb;
    }

    std::string ReadLocal() {
        std::ifstream in(fs.HostPath(kLocal), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void WriteLocal(const std::string& s) {
        std::ofstream out(fs.HostPath(kLocal), std::ios::binary | std::ios::trunc);
        out.write(s.data(), static_cast<std::streamsize>(s.size()));
    }
    bool LocalExists() { return fs.FileExists(kLocal); }
    std::vector<std::wstring> RangeHeaders() {
        std::vector<std::wstring> out;
        for (const auto& r : http.Requests()) out.push_back(r.headers);
        return out;
    }

    TempFileSystem fs;
    FakeHttp http;
    RecordingMessageBoxes boxes;
    FakeClock clock;
    platform::RecordingStatusLine sb;
    platform::RecordingProgressBar pb;
    TUrlDownloader dl{L"Tidewell Downloader V 1.2.3.4"};

private:
    ScopedPort<platform::FileSystem> filesPort_;
    ScopedPort<platform::Http> httpPort_;
    ScopedPort<platform::MessageBoxes> boxPort_;
    ScopedPort<platform::Clock> clockPort_;
};

}  // namespace

TEST(UrlDownloaderDefaults, BothConstructorsSetTheDefaults) {
    TUrlDownloader a;
    EXPECT_EQ(a.AgentName, L"TUrlDownloader");
    EXPECT_EQ(a.pb, nullptr);
    EXPECT_EQ(a.sb, nullptr);
    EXPECT_TRUE(a.AllowResume);
    EXPECT_TRUE(a.KeepPartialDownload);
    EXPECT_EQ(a.MaximumRetries, 10);
    EXPECT_FALSE(a.AbortFlag);
    EXPECT_FALSE(a.SilentFail);
    EXPECT_DOUBLE_EQ(a.UpdateInterval, 10.0);
    TUrlDownloader b(L"Agent X");
    EXPECT_EQ(b.AgentName, L"Agent X");
    EXPECT_EQ(b.MaximumRetries, 10);
    EXPECT_TRUE(b.AllowResume);
}

TEST_F(UrlDownloaderTest, FreshDownloadWithDigestInLowerCase) {
    std::string body = Body(700 * 1024);
    http.Serve(kUrl, body);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, LowerCase(Md5Hex(body)), static_cast<int32_t>(body.size())));
    EXPECT_EQ(ReadLocal(), body);
    ASSERT_EQ(http.Requests().size(), 1u);
    EXPECT_EQ(http.Requests()[0].agent, L"Tidewell Downloader V 1.2.3.4");
    EXPECT_EQ(http.Requests()[0].headers, L"");
    EXPECT_TRUE(boxes.Shown().empty());
    std::vector<std::wstring> texts = sb.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], L"Opening File URL: " + kUrl);
    EXPECT_EQ(texts[1], L"Verifying file integrity...");
    std::vector<int> pos = pb.Positions();
    ASSERT_FALSE(pos.empty());
    EXPECT_EQ(pos.back(), 100);
    EXPECT_TRUE(std::is_sorted(pos.begin(), pos.end()));
    EXPECT_EQ(http.LiveHandles(), 0);
}

TEST_F(UrlDownloaderTest, ResumeSendsBothRangeFormsAndCountsTheBytesAlreadyThere) {
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    WriteLocal(body.substr(0, 300));
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 1000));
    EXPECT_EQ(RangeHeaders(), std::vector<std::wstring>{L"Range: bytes=300-1000"});
    EXPECT_EQ(ReadLocal(), body);

    WriteLocal(body.substr(0, 300));
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), -1));
    EXPECT_EQ(RangeHeaders().back(), L"Range: bytes=300-");
    EXPECT_EQ(ReadLocal(), body);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UrlDownloaderTest, ResumeOffTruncatesAndCountsOnlyThisAttempt) {
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    WriteLocal(std::string(600, 'x'));
    dl.AllowResume = false;
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_EQ(RangeHeaders(), std::vector<std::wstring>{L""});
    EXPECT_EQ(ReadLocal(), body);
}

TEST_F(UrlDownloaderTest, ServerIgnoringRangeStartsTheFileAgainFromTheWholeAnswer) {
    // A 200 answer to a ranged request carries the whole file: it replaces
    // the partial one instead of being appended to it.
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    http.IgnoreRange(true);
    WriteLocal(body.substr(0, 300));
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 1000));
    EXPECT_EQ(RangeHeaders(), std::vector<std::wstring>{L"Range: bytes=300-1000"});
    EXPECT_EQ(ReadLocal(), body);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(pb.Positions().back(), 100);

    // The same without a digest.
    WriteLocal(body.substr(0, 300));
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_EQ(ReadLocal(), body);
}

TEST_F(UrlDownloaderTest, WholeAnswerToAResumeOfUnknownSizeReplacesThePartialFile) {
    // No size and no digest: nothing but the status tells that the answer
    // is not the rest of the file ("ABC" + "ABCDEFGHIJ" before).
    http.Serve(kUrl, "ABCDEFGHIJ");
    http.IgnoreRange(true);
    WriteLocal("ABC");
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", -1));
    EXPECT_EQ(RangeHeaders(), std::vector<std::wstring>{L"Range: bytes=3-"});
    EXPECT_EQ(ReadLocal(), "ABCDEFGHIJ");
    EXPECT_TRUE(boxes.Shown().empty());

    WriteLocal("ABC");
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 0));
    EXPECT_EQ(ReadLocal(), "ABCDEFGHIJ");
}

TEST_F(UrlDownloaderTest, WholeAnswerLongerThanExpectedFailsAtOnceWithoutRetry) {
    std::string body = Body(1200);
    http.Serve(kUrl, body);
    http.IgnoreRange(true);
    WriteLocal(body.substr(0, 300));
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_EQ(http.Requests().size(), 1u);
    EXPECT_FALSE(LocalExists()) << "nothing of an answer longer than announced stays";
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, L"Error Dowloading");

    // The next call cannot resume a file longer than expected: it starts
    // it again without a range.
    boxes.Clear();
    std::string right = Body(1000);
    http.Serve(kUrl, right);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(right), 1000));
    EXPECT_EQ(RangeHeaders().back(), L"");
    EXPECT_EQ(ReadLocal(), right);
}

TEST_F(UrlDownloaderTest, DroppedConnectionResumesOnTheNextAttempt) {
    std::string body = Body(64 * 1024);
    http.Serve(kUrl, body);
    http.DropAfter(32 * 1024, 2);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), static_cast<int32_t>(body.size())));
    EXPECT_EQ(RangeHeaders(),
              (std::vector<std::wstring>{L"", L"Range: bytes=32768-65536"}));
    EXPECT_EQ(ReadLocal(), body);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(http.Sessions(), 2);  // one session per attempt
    EXPECT_EQ(http.LiveHandles(), 0);
}

TEST_F(UrlDownloaderTest, NothingDeliveredFailsAfterMaximumRetriesWithTheFullMessage) {
    http.Serve(kUrl, "");
    dl.MaximumRetries = 4;
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", -1));
    EXPECT_EQ(http.Requests().size(), 4u);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    const auto box = boxes.Shown()[0];
    EXPECT_EQ(box.text, L"An error happened downloading " + kUrl + L"\nto " + kLocal +
                            L".\n\nYou can try to re-download the file.\n\nThe download will resume where this "
                            L"attempt left off.\n\nPlease check your internet connection.");
    EXPECT_EQ(box.caption, L"Error Dowloading");
    EXPECT_EQ(box.icon, platform::MbIcon::Warning);
    EXPECT_EQ(box.buttons, platform::MbButtons::Ok);
    EXPECT_TRUE(LocalExists());
}

TEST_F(UrlDownloaderTest, WithoutKeepPartialTheMessageOmitsResumeAndTheFileGoes) {
    http.Serve(kUrl, Body(1000));
    http.DropAfter(400, 100);  // two attempts bring 800 of 1000 bytes
    dl.KeepPartialDownload = false;
    dl.MaximumRetries = 2;
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, L"An error happened downloading " + kUrl + L"\nto " + kLocal +
                                         L".\n\nPlease check your internet connection.");
    EXPECT_FALSE(LocalExists());
}

TEST_F(UrlDownloaderTest, SilentFailShowsNothingAndKeepsTheFile) {
    http.Serve(kUrl, Body(1000));
    http.DropAfter(400, 100);
    dl.SilentFail = true;
    dl.KeepPartialDownload = false;
    dl.MaximumRetries = 2;
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(ReadLocal().size(), 800u);
    EXPECT_EQ(http.Requests().size(), 2u);
}

TEST_F(UrlDownloaderTest, NoSessionMeansNoFurtherAttempt) {
    http.FailSessions(true);
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_TRUE(http.Requests().empty());
    EXPECT_EQ(boxes.Shown().size(), 1u);
}

TEST_F(UrlDownloaderTest, UrlThatDoesNotOpenIsRetried) {
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    http.FailOpens(3);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_EQ(http.Requests().size(), 4u);
    EXPECT_EQ(ReadLocal(), body);
    EXPECT_EQ(http.LiveHandles(), 0);
}

TEST_F(UrlDownloaderTest, ErrorStatusPageIsNeverWrittenOrCounted) {
    for (int status : {404, 500}) {
        http.ServeStatus(kUrl, status, "<html>error page</html>");
        dl.MaximumRetries = 2;
        boxes.Clear();
        EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", -1)) << status;
        EXPECT_EQ(ReadLocal(), "") << status;
        EXPECT_EQ(boxes.Shown().size(), 1u);
    }
    // A partial file stays as it was.
    http.ServeStatus(kUrl, 500, "<html>error page</html>");
    WriteLocal("abc");
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_EQ(ReadLocal(), "abc");
}

TEST_F(UrlDownloaderTest, CompleteFileIsJudgedWithoutARequest) {
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    WriteLocal(body);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 1000));
    EXPECT_TRUE(http.Requests().empty());
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(ReadLocal(), body);
}

TEST_F(UrlDownloaderTest, UnsatisfiableRangeStartsTheFileAgain) {
    // Size unknown and the local file already as long as the remote one:
    // the server answers 416; the next attempt fetches the whole file.
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    WriteLocal(body);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), -1));
    EXPECT_EQ(RangeHeaders(), (std::vector<std::wstring>{L"Range: bytes=1000-", L""}));
    EXPECT_EQ(ReadLocal(), body);
}

TEST_F(UrlDownloaderTest, DigestMismatchShowsTheBoxEvenWhenSilentAndDeletesTheFile) {
    std::string body = Body(5000);
    http.Serve(kUrl, body);
    http.CorruptAt(4000);
    dl.SilentFail = true;
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 5000));
    EXPECT_FALSE(LocalExists());
    ASSERT_EQ(boxes.Shown().size(), 1u);
    std::string got = body;
    got[4000] = static_cast<char>(got[4000] ^ 0x5A);
    EXPECT_EQ(boxes.Shown()[0].text,
              L"It looks like the file you downloaded was corrupted during the transfer.\n\nThe computed MD5Sum is " +
                  Md5Hex(got) + L"\nThe expected MD5Sum is " + Md5Hex(body) +
                  L"\n\nYou will have to re-download the file.");
    EXPECT_EQ(boxes.Shown()[0].caption, L"Notice");
    EXPECT_EQ(boxes.Shown()[0].icon, platform::MbIcon::Error);
}

TEST_F(UrlDownloaderTest, DigestOfAResumedFileCoversTheWholeFile) {
    // Wrong bytes in the part already on disk (a shorter file of the same
    // name from an earlier release, say) must be caught although only the
    // rest travels now; the file is then fetched once more from its start.
    std::string body = Body(3000);
    http.Serve(kUrl, body);
    std::string prefix = body.substr(0, 1200);
    prefix[10] = static_cast<char>(prefix[10] ^ 1);
    WriteLocal(prefix);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 3000));
    EXPECT_EQ(RangeHeaders(), (std::vector<std::wstring>{L"Range: bytes=1200-3000", L""}));
    EXPECT_EQ(ReadLocal(), body);
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(UrlDownloaderTest, ProgressTextAtMostOncePerIntervalAcrossMidnight) {
    std::string body = Body(40 * 1024);
    http.Serve(kUrl, body);
    http.SetPieceLimit(1024);
    // 23:59:50 local-independent: the clock holds the date, so the interval
    // that crosses midnight is positive. Every piece takes 3 s.
    clock.Set(1767225590000);
    http.SetReadHook([this](size_t) { clock.Advance(3000); });
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", static_cast<int32_t>(body.size())));
    std::vector<std::wstring> texts = sb.Texts();
    // 40 pieces of 3 s: a text after pieces 4, 8, ... (12 s > 10 s), 10 in all.
    ASSERT_EQ(texts.size(), 11u);
    EXPECT_EQ(texts[1], L"downloaded 4K of 40K bytes 0.3KBytes/Second,   108.00 seconds remaining");
    EXPECT_EQ(texts[10], L"downloaded 40K of 40K bytes 0.3KBytes/Second,     0.00 seconds remaining");
    EXPECT_EQ(pb.Positions().size(), 40u);
    EXPECT_EQ(pb.Positions()[0], 2);
}

TEST_F(UrlDownloaderTest, AbortFromAnotherThreadStopsAfterThePieceAndKeepsTheFile) {
    std::string body = Body(200 * 1024);
    http.Serve(kUrl, body);
    http.SetPieceLimit(1024);
    std::atomic<int> pieces{0};
    http.SetReadHook([&](size_t) {
        ++pieces;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    bool result = true;
    std::thread worker([&] { result = dl.downloadURL(kUrl, kLocal, Md5Hex(body), 200 * 1024); });
    while (pieces < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    dl.AbortFlag = true;
    int atAbort = pieces;
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_LE(pieces, atAbort + 1);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(ReadLocal().size(), static_cast<size_t>(pieces) * 1024);
    EXPECT_EQ(http.Requests().size(), 1u);
    EXPECT_EQ(http.LiveHandles(), 0);

    // The flag is cleared by the next call, which resumes.
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 200 * 1024));
    EXPECT_EQ(ReadLocal(), body);
}

namespace {

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

TEST_F(UrlDownloaderTest, AbortEndsAnOpenThatHangsAtOnce) {
    // A host that accepts nothing, or accepts and never answers: the open
    // would block for as long as the network lets it.
    http.Serve(kUrl, Body(1000));
    http.HangOpens(true);
    std::atomic<bool> done{false};
    bool result = true;
    std::thread worker([&] {
        result = dl.downloadURL(kUrl, kLocal, L"", 1000);
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return http.Hanging() == 1; }));
    auto t0 = std::chrono::steady_clock::now();
    dl.Abort();
    bool returned = WaitFor([&] { return done.load(); }, std::chrono::milliseconds(1000));
    auto took = std::chrono::steady_clock::now() - t0;
    worker.join();
    EXPECT_TRUE(returned) << "the call returned "
                          << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                          << " ms after the abort";
    EXPECT_FALSE(result);
    EXPECT_EQ(http.AbortedSessions(), 1);
    EXPECT_EQ(http.Requests().size(), 1u) << "no further attempt after the abort";
    EXPECT_TRUE(boxes.Shown().empty()) << "an abort is not an error";
    EXPECT_EQ(http.LiveHandles(), 0);
}

TEST_F(UrlDownloaderTest, AbortEndsAReadThatHangsAtOnceAndKeepsWhatArrived) {
    std::string body = Body(10000);
    http.Serve(kUrl, body);
    http.HangReadsAfter(3000);
    std::atomic<bool> done{false};
    bool result = true;
    std::thread worker([&] {
        result = dl.downloadURL(kUrl, kLocal, Md5Hex(body), 10000);
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return http.Hanging() == 1; }));
    dl.Abort();
    bool returned = WaitFor([&] { return done.load(); }, std::chrono::milliseconds(1000));
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(result);
    EXPECT_EQ(ReadLocal(), body.substr(0, 3000));
    EXPECT_TRUE(boxes.Shown().empty());

    // The next call resumes.
    http.StopHangingReads();
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 10000));
    EXPECT_EQ(RangeHeaders().back(), L"Range: bytes=3000-10000");
    EXPECT_EQ(ReadLocal(), body);
}

TEST_F(UrlDownloaderTest, AbortBeforeTheSessionExistsReachesItAndShowsNoBox) {
    // The abort arrives while the session is being made, and the session
    // then cannot be made at all.
    http.Serve(kUrl, Body(1000));
    http.FailSessions(true);
    http.SetSessionHook([&] { dl.Abort(); });
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_TRUE(boxes.Shown().empty());

    // The session is made: the abort reaches it before anything is asked.
    http.FailSessions(false);
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_TRUE(http.Requests().empty());
    EXPECT_EQ(http.AbortedSessions(), 1);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(http.LiveHandles(), 0);
}

TEST_F(UrlDownloaderTest, OwnerAbortSurvivesTheClearingOfAbortFlag) {
    // An owner's abort that came before the call: no attempt, no box.
    std::atomic<bool> ownerAbort{true};
    dl.OwnerAbort = &ownerAbort;
    http.Serve(kUrl, Body(1000));
    EXPECT_FALSE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    EXPECT_TRUE(http.Requests().empty());
    EXPECT_EQ(http.Sessions(), 0);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_FALSE(LocalExists());
    ownerAbort = false;
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 1000));
}

TEST_F(UrlDownloaderTest, SessionsAreOpenedWithBoundedTimeouts) {
    http.Serve(kUrl, Body(100));
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 100));
    const platform::HttpTimeouts t = http.LastTimeouts();
    EXPECT_EQ(t.connectMs, dl.ConnectTimeoutMs);
    EXPECT_EQ(t.receiveMs, dl.ReceiveTimeoutMs);
    EXPECT_GT(t.connectMs, 0u);
    EXPECT_LE(t.connectMs, 60000u);
    EXPECT_GT(t.receiveMs, 0u);
    EXPECT_LE(t.receiveMs, 120000u);
}

TEST_F(UrlDownloaderTest, LocalFileThatCannotBeCreatedRaisesAfterClosingHandles) {
    http.Serve(kUrl, Body(100));
    EXPECT_THROW(dl.downloadURL(kUrl, L"C:\\missing\\dir\\f.bin", L"", 100), IoError);
    EXPECT_EQ(http.LiveHandles(), 0);
}

TEST_F(UrlDownloaderTest, ServerWhoseCertificateDoesNotHoldIsRefusedAtOnceAndNothingIsWritten) {
    using platform::HttpFailure;
    const std::wstring url = L"https://dl.example/bin/component.zip";
    const struct {
        HttpFailure why;
        const wchar_t* named;
    } cases[] = {
        {HttpFailure::UnknownAuthority, L"not issued by an authority this computer trusts"},
        {HttpFailure::WrongHost, L"issued for another host name"},
        {HttpFailure::CertificateDates, L"has expired or is not yet valid"},
        {HttpFailure::Revoked, L"has been revoked"},
        {HttpFailure::Unverified, L"could not be verified"},
        {HttpFailure::BadCertificate, L"certificate is not valid"},
        {HttpFailure::SecureChannel, L"No secure connection"},
    };
    for (const auto& c : cases) {
        for (bool partial : {false, true}) {
            SCOPED_TRACE(std::wstring(c.named) + (partial ? L", partial file" : L", no file"));
            FakeHttp refusing;
            ScopedPort<platform::Http> port(refusing);
            RecordingMessageBoxes shown;
            ScopedPort<platform::MessageBoxes> boxPort(shown);
            refusing.Serve(url, Body(1000));
            refusing.RefuseConnection(url, c.why);
            fs.RemoveFile(kLocal);
            if (partial) WriteLocal(Body(300));
            EXPECT_FALSE(dl.downloadURL(url, kLocal, L"", 1000));
            EXPECT_EQ(refusing.Requests().size(), 1u);
            ASSERT_EQ(shown.Shown().size(), 1u);
            const auto box = shown.Shown()[0];
            EXPECT_EQ(box.caption, L"Error Dowloading");
            EXPECT_EQ(box.text.rfind(L"An error happened downloading " + url + L"\nto " + kLocal + L".\n\n", 0), 0u);
            EXPECT_NE(box.text.find(c.named), std::wstring::npos) << box.text;
            EXPECT_EQ(box.text.find(L"resume"), std::wstring::npos) << box.text;
            if (partial)
                EXPECT_EQ(ReadLocal(), Body(300));
            else
                EXPECT_FALSE(LocalExists());
        }
    }
}

TEST_F(UrlDownloaderTest, AnswerBeyondTheLimitFailsAndNothingOfItIsWritten) {
    const size_t MiB = 1024 * 1024;
    struct Row {
        const char* what;
        size_t served;
        int32_t size;
        uint64_t maximum;
        bool want;
    } rows[] = {
        {"5 MiB for 1000 bytes", 5 * MiB, 1000, 0, false},
        {"one byte more than announced", 1001, 1000, 0, false},
        {"exactly as announced", 1000, 1000, 0, true},
        {"no size, beyond the bound", MiB + 1, -1, MiB, false},
        {"no size, at the bound", MiB, -1, MiB, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        fs.RemoveFile(kLocal);
        boxes.Clear();
        const size_t before = http.Requests().size();
        std::string body = Body(r.served);
        http.Serve(kUrl, body);
        dl.MaximumSize = r.maximum;
        EXPECT_EQ(dl.downloadURL(kUrl, kLocal, L"", r.size), r.want);
        EXPECT_EQ(http.Requests().size() - before, 1u) << "no second attempt";
        if (r.want) {
            EXPECT_EQ(ReadLocal(), body);
        } else {
            EXPECT_FALSE(LocalExists());
            ASSERT_EQ(boxes.Shown().size(), 1u);
            EXPECT_EQ(boxes.Shown()[0].caption, L"Error Dowloading");
            EXPECT_EQ(boxes.Shown()[0].text.find(L"resume"), std::wstring::npos) << "nothing is left to resume";
        }
    }
}

TEST_F(UrlDownloaderTest, LocalFileFourGiBLongerIsNotTakenAsComplete) {
    // Sparse: the low 32 bits of its size are the announced 1000.
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    WriteLocal("");
    std::filesystem::resize_file(fs.HostPath(kLocal), (uint64_t{1} << 32) + 1000);
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, L"", 1000));
    ASSERT_EQ(http.Requests().size(), 1u);
    EXPECT_EQ(RangeHeaders()[0], L"") << "started again, not resumed";
    EXPECT_EQ(ReadLocal(), body);
}

TEST_F(UrlDownloaderTest, CompleteLookingFileWhoseDigestDiffersIsFetchedAgain) {
    std::string body = Body(1000);
    http.Serve(kUrl, body);
    WriteLocal(std::string(1000, 'x'));
    EXPECT_TRUE(dl.downloadURL(kUrl, kLocal, Md5Hex(body), 1000));
    ASSERT_EQ(http.Requests().size(), 1u);
    EXPECT_EQ(RangeHeaders()[0], L"");
    EXPECT_EQ(ReadLocal(), body);
    EXPECT_TRUE(boxes.Shown().empty());
}
