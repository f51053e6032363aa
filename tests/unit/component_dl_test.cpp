#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "core/manifest.h"
#include "core/settings.h"
#include "download/ComponentDL.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;
using tide::testing::Md5Hex;
using tide::testing::Pattern;
using namespace std::chrono_literals;

namespace {

const wchar_t kManifestUrl[] = L"http://dl.test/rel/downloader.ini";
const wchar_t kBase[] = L"http://dl.test/bin/";
const wchar_t kDir[] = L"C:\\Inst\\";
const wchar_t kAlt[] = L"E:\\cd\\";

struct Component {
    std::wstring section;
    std::wstring file;
    std::string bytes;
};

// A file system that reports every call to a hook before doing it; the
// abort tests use it to abort at each step of a run.
class HookedFs : public platform::fake::TempFileSystem {
public:
    std::function<void(const std::wstring& what)> hook;
    std::atomic<int> calls{0};

    std::wstring refuseWrites;  // a path that cannot be opened for writing

    std::unique_ptr<platform::File> Open(const std::wstring& p, platform::OpenMode m, platform::Share s) override {
        Call(L"open " + p);
        if (p == refuseWrites && m != platform::OpenMode::ReadExisting) return nullptr;
        return TempFileSystem::Open(p, m, s);
    }
    bool FileExists(const std::wstring& p) override {
        Call(L"exists " + p);
        return TempFileSystem::FileExists(p);
    }
    bool Copy(const std::wstring& a, const std::wstring& b, bool f) override {
        Call(L"copy " + a);
        bool ok = TempFileSystem::Copy(a, b, f);
        Call(L"copied " + a);
        return ok;
    }

private:
    void Call(const std::wstring& what) {
        ++calls;
        if (hook) hook(what);
    }
};

struct ComponentDLTest : ::testing::Test {
    FakeMachine m;
    HookedFs hfs;
    platform::ScopedPort<platform::FileSystem> hfsPort{hfs};
    platform::RecordingStatusLine sb;
    platform::RecordingProgressBar pb;
    std::vector<Component> comps = {
        {L"UNZIP", L"UNZIP.EXE", Pattern(3000, 'a')},
        {L"CATALINA_BASE", L"catalina_base.zip", Pattern(5000, 'b')},
        {L"TOMCAT", L"tomcat.zip", Pattern(7000, 'c')},
        {L"TW", L"tidewell.zip", Pattern(9000, 'd')},
    };

    void SetUp() override {
        SaveInstallDirectory(kDir);
        hfs.MakeDirectory(L"C:\\Inst");
        PublishRelease();
        m.Args({L"/i", kManifestUrl});
        // As the installation does: the manifest is fetched on the window
        // thread before the download thread starts.
        ASSERT_EQ(ManifestValue(L"TW", L"FILE_VERSION"), L"3.4.16");
    }

    std::string ManifestText(const std::vector<std::pair<std::wstring, std::string>>& extra = {}) {
        std::string t = "[GENERAL]\r\nBINARY_BASE=" + WideToUtf8(kBase) + "\r\n";
        for (const auto& c : comps) {
            t += "[" + WideToUtf8(c.section) + "]\r\nFILE_NAME=" + WideToUtf8(c.file) +
                 "\r\nFILE_SIZE=" + std::to_string(c.bytes.size()) + "\r\nFILE_MD5SUM=" + WideToUtf8(Md5Hex(c.bytes)) +
                 "\r\n";
            if (c.section == L"TW") t += "FILE_VERSION=3.4.16\r\n";
        }
        for (const auto& e : extra) t += "[" + WideToUtf8(e.first) + "]\r\n" + e.second;
        return t;
    }
    void PublishRelease(const std::string& manifest = "") {
        m.ServeManifest(kManifestUrl, manifest.empty() ? ManifestText() : manifest);
        for (const auto& c : comps) m.http.Serve(kBase + c.file, c.bytes);
    }
    // The release of the run says text instead: published, and fetched
    // anew as a run fetches it (a change of the local copy is never read).
    void LocalManifest(const std::string& text) {
        ResetManifestFetchedForTest();
        m.ServeManifest(kManifestUrl, text);
        ManifestValue(L"GENERAL", L"BINARY_BASE");
    }

    std::unique_ptr<TComponentDownloader> Make(const TComponentList& list, const std::wstring& alt = L"") {
        auto dl = std::make_unique<TComponentDownloader>(true);
        dl->AgentName = L"Tidewell Downloader V 1.2.3.4";
        dl->Alt_Path = alt;
        dl->pb = &pb;
        dl->sb = &sb;
        dl->SetComponents(list);
        return dl;
    }
    TComponentList Names(size_t n = 4) {
        TComponentList l;
        for (size_t i = 0; i < n; ++i) l.push_back(comps[i].section);
        return l;
    }
    // Runs to the end and returns the downloaded list.
    TComponentList RunToEnd(TComponentDownloader& dl) {
        dl.BeginDownload();
        EXPECT_TRUE(dl.WaitUntilFinished(20s));
        return *dl.getDownloadedComponents();
    }
    int ComponentRequests() {
        int n = 0;
        for (const auto& r : m.http.Requests()) n += r.url.rfind(kBase, 0) == 0;
        return n;
    }
    std::string Local(const std::wstring& file) { return m.ReadFile(kDir + file); }
    // Waits (at most 5 s) until the run's open hangs.
    bool OpenHangs() {
        auto until = std::chrono::steady_clock::now() + 5s;
        while (m.http.Hanging() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
        return m.http.Hanging() == 1;
    }
};

TEST_F(ComponentDLTest, FetchesEveryComponentInOrderThenNothingOnTheNextRun) {
    auto dl = Make(Names());
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED) << "initial status";
    TComponentList got = RunToEnd(*dl);
    EXPECT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(got, Names());
    for (const auto& c : comps) EXPECT_TRUE(Local(c.file) == c.bytes) << WideToUtf8(c.file);
    EXPECT_EQ(pb.Max(), 100);
    auto reqs = m.http.Requests();
    ASSERT_EQ(reqs.size(), 6u) << "the manifest, its signature and the four files";
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(reqs[i + 2].url, kBase + comps[i].file);
        EXPECT_EQ(reqs[i + 2].agent, L"Tidewell Downloader V 1.2.3.4");
    }
    EXPECT_TRUE(m.boxes.Shown().empty());

    auto second = Make(Names());
    EXPECT_TRUE(RunToEnd(*second).empty());
    EXPECT_EQ(second->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(m.http.Requests().size(), 6u) << "complete files are not fetched again";
}

TEST_F(ComponentDLTest, AltPathHoldingEveryFileIsCopiedWithoutNetwork) {
    m.MakeDirs(L"E:\\cd");
    for (const auto& c : comps) m.WriteFile(kAlt + c.file, c.bytes);
    auto dl = Make(Names(), kAlt);
    EXPECT_EQ(RunToEnd(*dl), Names());
    EXPECT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(ComponentRequests(), 0);
    for (const auto& c : comps) EXPECT_TRUE(Local(c.file) == c.bytes) << WideToUtf8(c.file);
    auto texts = sb.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        L"Copying file E:\\cd\\UNZIP.EXE to C:\\Inst\\UNZIP.EXE"),
              texts.end());
    auto pos = pb.Positions();
    EXPECT_EQ(std::count(pos.begin(), pos.end(), 100), 4);
}

TEST_F(ComponentDLTest, IncompleteCopyFromAltPathIsCompletedFromTheServer) {
    m.MakeDirs(L"E:\\cd");
    m.WriteFile(kAlt + comps[0].file, comps[0].bytes.substr(0, 100));  // a truncated file on the CD
    auto dl = Make(Names(1), kAlt);
    EXPECT_EQ(RunToEnd(*dl), Names(1)) << "listed once, when complete";
    EXPECT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_TRUE(Local(comps[0].file) == comps[0].bytes);
    // The local path is never handed to the internet layer as a URL.
    for (const auto& r : m.http.Requests()) EXPECT_EQ(r.url.find(kAlt), std::wstring::npos) << WideToUtf8(r.url);
    EXPECT_EQ(m.CountFor(kBase + comps[0].file), 1);
    EXPECT_TRUE(m.boxes.Shown().empty());
}

TEST_F(ComponentDLTest, IncompleteCopyIsNotListedWhenItsDownloadFails) {
    m.MakeDirs(L"E:\\cd");
    m.WriteFile(kAlt + comps[0].file, comps[0].bytes.substr(0, 100));
    m.http.ServeStatus(kBase + comps[0].file, 404, "<html>not found</html>");
    auto dl = Make(Names(2), kAlt);
    EXPECT_TRUE(RunToEnd(*dl).empty()) << "a copy that proved incomplete is not reported as obtained";
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_EQ(m.CountFor(kBase + comps[1].file), 0);
}

TEST_F(ComponentDLTest, CopiedComponentIsNotListedWhenItsDownloadRaises) {
    // The copy from Alt_Path is incomplete, and the download that should
    // complete it cannot write the file: an error, not a mere failure.
    m.MakeDirs(L"E:\\cd");
    m.WriteFile(kAlt + comps[0].file, comps[0].bytes.substr(0, 100));
    hfs.refuseWrites = kDir + comps[0].file;
    auto dl = Make(Names(2), kAlt);
    EXPECT_TRUE(RunToEnd(*dl).empty()) << "an incomplete file must not go to the install steps";
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_NE(dl->FailureMessage().find(comps[0].file), std::wstring::npos) << WideToUtf8(dl->FailureMessage());
}

TEST_F(ComponentDLTest, PartialFileInTheInstallDirectoryIsReplacedByTheCompleteCopyFromAltPath) {
    m.MakeDirs(L"E:\\cd");
    for (const auto& c : comps) m.WriteFile(kAlt + c.file, c.bytes);
    // An earlier run was interrupted in the second component.
    m.WriteFile(kDir + comps[0].file, comps[0].bytes);
    m.WriteFile(kDir + comps[1].file, comps[1].bytes.substr(0, 1234));
    auto dl = Make(Names(3), kAlt);
    EXPECT_EQ(RunToEnd(*dl), (TComponentList{L"CATALINA_BASE", L"TOMCAT"}));
    EXPECT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_TRUE(Local(comps[1].file) == comps[1].bytes);
    EXPECT_EQ(ComponentRequests(), 0) << "no network for a file that lies on the CD";
    EXPECT_TRUE(m.boxes.Shown().empty());
    auto texts = sb.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        L"Copying file E:\\cd\\catalina_base.zip to C:\\Inst\\catalina_base.zip"),
              texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), L"Copying file E:\\cd\\UNZIP.EXE to C:\\Inst\\UNZIP.EXE"),
              texts.end())
        << "a complete file is not copied again";
}

TEST_F(ComponentDLTest, FileOfTheRightSizeButNotTheReleasesIsDeletedAndDownloaded) {
    // Junk of the right size beside the installer (Alt_Path) and in the
    // install directory: neither is listed, copied on or kept; both are
    // fetched, and the fetched files are the release's.
    m.MakeDirs(L"E:\\cd");
    const std::string junk0(comps[0].bytes.size(), 'x'), junk1(comps[1].bytes.size(), 'y');
    m.WriteFile(kAlt + comps[0].file, junk0);
    m.WriteFile(kDir + comps[1].file, junk1);
    auto dl = Make(Names(2), kAlt);
    EXPECT_EQ(RunToEnd(*dl), Names(2));
    EXPECT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_TRUE(Local(comps[0].file) == comps[0].bytes);
    EXPECT_TRUE(Local(comps[1].file) == comps[1].bytes);
    EXPECT_EQ(m.CountFor(kBase + comps[0].file), 1);
    EXPECT_EQ(m.CountFor(kBase + comps[1].file), 1);
    for (const auto& r : m.http.Requests()) EXPECT_EQ(r.headers, L"") << "junk is never resumed";
    EXPECT_TRUE(m.boxes.Shown().empty());
    EXPECT_TRUE(m.ReadFile(kAlt + comps[0].file) == junk0) << "the file beside the installer is not ours to delete";
}

TEST_F(ComponentDLTest, SecondOfThreeFailingStopsTheRun) {
    m.http.ServeStatus(kBase + comps[1].file, 404, "<html>not found</html>");
    auto dl = Make(Names(3));
    EXPECT_EQ(RunToEnd(*dl), TComponentList{L"UNZIP"});
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_EQ(m.CountFor(kBase + comps[2].file), 0) << "the third is never requested";
    EXPECT_GE(m.BoxesCaptioned(L"Error Dowloading"), 1) << "the URL downloader reported the failure";
}

TEST_F(ComponentDLTest, EmptyListFailsAtOnce) {
    auto dl = Make({});
    dl->BeginDownload();
    EXPECT_TRUE(dl->WaitUntilFinished(5s));
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_TRUE(dl->getDownloadedComponents()->empty());
    EXPECT_EQ(ComponentRequests(), 0);
}

TEST_F(ComponentDLTest, FileNameWithAFolderIsRefusedAndWritesNothingOutside) {
    LocalManifest(ManifestText({{L"EVIL", "FILE_NAME=..\\evil.exe\r\nFILE_SIZE=4\r\nFILE_MD5SUM=x\r\n"}}));
    m.http.Serve(std::wstring(kBase) + L"..\\evil.exe", "evil");
    auto dl = Make({L"UNZIP", L"EVIL", L"TW"});
    EXPECT_EQ(RunToEnd(*dl), TComponentList{L"UNZIP"});
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_NE(dl->FailureMessage().find(L"EVIL"), std::wstring::npos) << WideToUtf8(dl->FailureMessage());
    EXPECT_NE(dl->FailureMessage().find(L"..\\evil.exe"), std::wstring::npos);
    EXPECT_FALSE(hfs.FileExists(L"C:\\evil.exe"));
    EXPECT_EQ(ComponentRequests(), 1);
    EXPECT_EQ(m.BoxesCaptioned(L"Notice"), 1);
}

TEST_F(ComponentDLTest, MalformedSizeIsRefusedNotTakenAsZero) {
    std::string t = ManifestText();
    t.replace(t.find("FILE_SIZE=3000"), 14, "FILE_SIZE=3k");
    LocalManifest(t);
    m.MakeDirs(L"E:\\cd");
    m.WriteFile(kAlt + comps[0].file, comps[0].bytes);
    auto dl = Make(Names(2), kAlt);
    EXPECT_TRUE(RunToEnd(*dl).empty());
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_FALSE(hfs.FileExists(kDir + comps[0].file)) << "nothing is copied for a refused component";
    EXPECT_NE(dl->FailureMessage().find(L"[UNZIP]"), std::wstring::npos) << WideToUtf8(dl->FailureMessage());
    EXPECT_NE(dl->FailureMessage().find(L"\"3k\""), std::wstring::npos);
    EXPECT_EQ(ComponentRequests(), 0);
}

TEST_F(ComponentDLTest, LocalFileThatCannotBeWrittenEndsTheRunAsFailedNotACrash) {
    hfs.refuseWrites = kDir + comps[1].file;
    auto dl = Make(Names(3));
    EXPECT_EQ(RunToEnd(*dl), TComponentList{L"UNZIP"});
    EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    EXPECT_NE(dl->FailureMessage().find(comps[1].file), std::wstring::npos) << WideToUtf8(dl->FailureMessage());
    EXPECT_EQ(m.BoxesCaptioned(L"Notice"), 1);
    EXPECT_EQ(m.CountFor(kBase + comps[2].file), 0);
}

TEST_F(ComponentDLTest, MissingFileWithoutSizeIsFetchedNotTakenAsComplete) {
    std::string t = ManifestText();
    t.replace(t.find("FILE_SIZE=3000\r\n"), 16, "");
    LocalManifest(t);
    auto dl = Make(Names(1));
    EXPECT_EQ(RunToEnd(*dl), Names(1));
    EXPECT_TRUE(Local(L"UNZIP.EXE") == comps[0].bytes);
}

TEST_F(ComponentDLTest, EmptyFileThatAFailedRunLeftWithoutSizeIsFetchedAgain) {
    std::string t = ManifestText();
    t.replace(t.find("FILE_SIZE=3000\r\n"), 16, "");
    LocalManifest(t);
    // The first run fails: the server has no such file.
    m.http.ServeStatus(kBase + comps[0].file, 404, "<html>not found</html>");
    {
        auto dl = Make(Names(1));
        EXPECT_TRUE(RunToEnd(*dl).empty());
        EXPECT_EQ(dl->Status(), DOWNLOAD_FAILED);
    }
    ASSERT_TRUE(hfs.FileExists(kDir + comps[0].file)) << "the failed run leaves the file it created";
    // The next run must not take that empty file for the component.
    m.http.Serve(kBase + comps[0].file, comps[0].bytes);
    m.boxes.Clear();
    auto dl = Make(Names(1));
    EXPECT_EQ(RunToEnd(*dl), Names(1));
    EXPECT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_TRUE(Local(comps[0].file) == comps[0].bytes);
    EXPECT_TRUE(m.boxes.Shown().empty());

    // Now complete, as its digest proves: not fetched again.
    const int before = m.CountFor(kBase + comps[0].file);
    auto third = Make(Names(1));
    EXPECT_TRUE(RunToEnd(*third).empty());
    EXPECT_EQ(third->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(m.CountFor(kBase + comps[0].file), before);
}

TEST_F(ComponentDLTest, FileWithoutSizeOrDigestIsAlwaysFetchedAgain) {
    std::string t = ManifestText();
    t.replace(t.find("FILE_SIZE=3000\r\n"), 16, "");
    const size_t md5At = t.find("FILE_MD5SUM=", t.find("[UNZIP]"));
    t.erase(md5At, t.find("\r\n", md5At) + 2 - md5At);
    LocalManifest(t);
    m.WriteFile(kDir + comps[0].file, "");  // what a failed run leaves
    auto dl = Make(Names(1));
    EXPECT_EQ(RunToEnd(*dl), Names(1));
    EXPECT_TRUE(Local(comps[0].file) == comps[0].bytes);
    // Even a whole file cannot be proved complete: fetched again.
    auto second = Make(Names(1));
    EXPECT_EQ(RunToEnd(*second), Names(1));
    EXPECT_TRUE(Local(comps[0].file) == comps[0].bytes);
}

TEST_F(ComponentDLTest, AbortDuringATransferKeepsThePartialFileAndTheNextRunResumes) {
    m.http.SetPieceLimit(500);
    TComponentDownloader* live = nullptr;
    m.OnRead([&](const std::wstring& url, size_t delivered) {
        if (url == kBase + comps[1].file && delivered == 1500) live->AbortDownload();
    });
    auto dl = Make(Names(3));
    live = dl.get();
    EXPECT_EQ(RunToEnd(*dl), TComponentList{L"UNZIP"});
    EXPECT_EQ(dl->Status(), DOWNLOAD_ABORTED);
    EXPECT_EQ(sb.Last(), L"Download aborted");
    EXPECT_TRUE(Local(comps[1].file) == comps[1].bytes.substr(0, 1500)) << "the pieces read are kept, no more";
    EXPECT_EQ(m.CountFor(kBase + comps[2].file), 0);
    EXPECT_TRUE(m.boxes.Shown().empty()) << "an abort is not an error";

    m.OnRead(nullptr);
    auto next = Make(Names(3));
    EXPECT_EQ(RunToEnd(*next), (TComponentList{L"CATALINA_BASE", L"TOMCAT"}));
    EXPECT_EQ(next->Status(), DOWNLOAD_SUCCEEDED);
    EXPECT_TRUE(Local(comps[1].file) == comps[1].bytes);
    const auto reqs = m.http.Requests();
    bool resumed = false;
    for (const auto& r : reqs) resumed = resumed || (r.url == kBase + comps[1].file && r.headers == L"Range: bytes=1500-5000");
    EXPECT_TRUE(resumed);
}

TEST_F(ComponentDLTest, StatusMovesThroughAbortPendingToAborted) {
    std::atomic<bool> release{false};
    m.http.SetPieceLimit(100);
    m.OnRead([&](const std::wstring&, size_t) {
        while (!release) std::this_thread::sleep_for(1ms);
    });
    auto dl = Make(Names(2));
    dl->BeginDownload();
    EXPECT_EQ(dl->Status(), DOWNLOAD_IN_PROGRESS) << "never the initial FAILED once started";
    dl->AbortDownload();
    EXPECT_EQ(dl->Status(), ABORT_PENDING);
    release = true;
    ASSERT_TRUE(dl->WaitUntilFinished(5s));
    EXPECT_EQ(dl->Status(), DOWNLOAD_ABORTED);
    EXPECT_TRUE(dl->getDownloadedComponents()->empty());
}

TEST_F(ComponentDLTest, AbortBeforeStartAndAfterTheEnd) {
    auto early = Make(Names(2));
    early->AbortDownload();
    EXPECT_TRUE(RunToEnd(*early).empty());
    EXPECT_EQ(early->Status(), DOWNLOAD_ABORTED);
    EXPECT_EQ(ComponentRequests(), 0);

    auto done = Make(Names(1));
    RunToEnd(*done);
    ASSERT_EQ(done->Status(), DOWNLOAD_SUCCEEDED);
    done->AbortDownload();
    EXPECT_EQ(done->Status(), DOWNLOAD_SUCCEEDED) << "a finished run must not look busy again";
}

TEST_F(ComponentDLTest, DestroyingARunningDownloaderStopsIt) {
    m.http.SetPieceLimit(10);
    m.OnRead([&](const std::wstring&, size_t) { std::this_thread::sleep_for(1ms); });
    auto start = std::chrono::steady_clock::now();
    {
        auto dl = Make(Names());
        dl->BeginDownload();
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(ComponentDLTest, AbortWhileTheSessionIsMadeShowsNoBox) {
    TComponentDownloader* live = nullptr;
    m.http.SetSessionHook([&] {
        live->AbortDownload();
        m.http.FailSessions(true);
    });
    auto dl = Make(Names(2));
    live = dl.get();
    EXPECT_TRUE(RunToEnd(*dl).empty());
    m.http.SetSessionHook(nullptr);
    EXPECT_EQ(dl->Status(), DOWNLOAD_ABORTED);
    EXPECT_EQ(sb.Last(), L"Download aborted");
    EXPECT_TRUE(m.boxes.Shown().empty()) << "no failure box after an abort";
    EXPECT_EQ(ComponentRequests(), 0);
}

TEST_F(ComponentDLTest, AbortEndsAHangingOpenAtOnceAndTheDestructorDoesNotWait) {
    // The server accepts nothing (or never answers): the open hangs.
    m.http.HangOpens(true);
    auto dl = Make(Names(2));
    dl->BeginDownload();
    ASSERT_TRUE(OpenHangs());
    auto t0 = std::chrono::steady_clock::now();
    dl->AbortDownload();
    EXPECT_TRUE(dl->WaitUntilFinished(1s)) << "the run must end within a second of the abort";
    EXPECT_EQ(dl->Status(), DOWNLOAD_ABORTED);
    dl.reset();  // as the window does: joins the thread
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_TRUE(m.boxes.Shown().empty());
    EXPECT_EQ(m.http.Hanging(), 0);
}

TEST_F(ComponentDLTest, DestroyingADownloaderInAHangingOpenReturnsAtOnce) {
    m.http.HangOpens(true);
    auto dl = Make(Names(1));
    dl->BeginDownload();
    ASSERT_TRUE(OpenHangs());
    auto t0 = std::chrono::steady_clock::now();
    dl.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_TRUE(m.boxes.Shown().empty());
}

// The abort is requested at every file-system step of a whole run in turn:
// before and after each copy, at every existence check, at the size
// comparisons, at the manifest reads between components and at the opens
// inside the URL downloader (right after it has cleared its own abort flag).
// Each time the run must end ABORTED, fetch no component after that point,
// and deliver at most one more piece of the transfer it was in.
TEST_F(ComponentDLTest, AbortAtEveryStepIsNeverLost) {
    m.MakeDirs(L"E:\\cd");
    m.WriteFile(kAlt + comps[1].file, comps[1].bytes);  // copied
    m.http.SetPieceLimit(1000);

    auto prepare = [&] {
        for (const auto& c : comps) hfs.RemoveFile(kDir + c.file);
        m.WriteFile(kDir + comps[2].file, comps[2].bytes);  // already complete
    };

    // Count the steps of an undisturbed run.
    prepare();
    hfs.calls = 0;
    {
        auto dl = Make(Names(), kAlt);
        EXPECT_EQ(RunToEnd(*dl), (TComponentList{L"UNZIP", L"CATALINA_BASE", L"TW"}));
        ASSERT_EQ(dl->Status(), DOWNLOAD_SUCCEEDED);
    }
    const int steps = hfs.calls;
    ASSERT_GT(steps, 20);

    for (int at = 0; at < steps; ++at) {
        SCOPED_TRACE("abort at step " + std::to_string(at));
        prepare();
        platform::RecordingStatusLine texts;
        TComponentDownloader* live = nullptr;
        std::atomic<int> seen{0};
        std::atomic<size_t> requestsAtAbort{0}, bytesAtAbort{0};
        auto dl = Make(Names(), kAlt);
        dl->sb = &texts;
        live = dl.get();
        hfs.hook = [&](const std::wstring&) {
            if (seen++ == at) {
                requestsAtAbort = m.http.Requests().size();
                bytesAtAbort = m.BytesDelivered();
                live->AbortDownload();
            }
        };
        TComponentList got = RunToEnd(*dl);
        hfs.hook = nullptr;
        ASSERT_GT(seen.load(), at) << "the run took a different path";
        EXPECT_EQ(dl->Status(), DOWNLOAD_ABORTED);
        EXPECT_EQ(texts.Last(), L"Download aborted");
        EXPECT_TRUE(m.boxes.Shown().empty()) << "no failure box after an abort";
        EXPECT_LE(m.http.Requests().size(), requestsAtAbort + 1);
        EXPECT_LE(m.BytesDelivered(), bytesAtAbort + 1000);
        auto reqs = m.http.Requests();
        if (reqs.size() > requestsAtAbort) {
            // The one request after the abort belongs to the component in hand,
            // never to a later one: no component after it is in the list.
            const std::wstring url = reqs.back().url;
            size_t idx = 0;
            while (idx < comps.size() && kBase + comps[idx].file != url) ++idx;
            ASSERT_LT(idx, comps.size());
            for (const auto& name : got) {
                size_t k = 0;
                while (comps[k].section != name) ++k;
                EXPECT_LT(k, idx) << "listed a component after the aborted one";
            }
        }
    }
}

}  // namespace
