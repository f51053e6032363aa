#include <gtest/gtest.h>

#include "app/logging_ports.h"
#include "base/text.h"
#include "core/run_log.h"
#include "core/run_options.h"
#include "core/text_file.h"
#include "download/URLFetcher2.h"
#include "platform/fake/fake_clock.h"
#include "release_fixture.h"

using namespace tide;
using platform::MbButtons;

TEST(Unattended, ParsesItsWordsAnywhereInAnyCase) {
    const struct {
        std::vector<std::wstring> args;
        bool silent, accept, bad;
        const wchar_t* dir;  // nullptr: none given
        const wchar_t* log;
    } kCases[] = {
        {{L"T.exe", L"/silent", L"/acceptlicense", L"/dir=C:\\Tidewell\\", L"/log=C:\\t.log"}, true, true, false,
         L"C:\\Tidewell\\", L"C:\\t.log"},
        {{L"T.exe", L"/i", L"http://h/d.ini", L"/SILENT", L"/AcceptLicense", L"/DIR=D:\\a b\\"}, true, true, false,
         L"D:\\a b\\", nullptr},
        // The mode word stays first; the value keeps its letters and any "=".
        {{L"T.exe", L"/UNINSTALL", L"/SILENT", L"/log=C:\\x=y.log"}, true, false, false, nullptr, L"C:\\x=y.log"},
        {{L"T.exe"}, false, false, false, nullptr, nullptr},
        // Unattended runs refuse what they cannot act on ...
        {{L"T.exe", L"/silent", L"/acceptlicense", L"/dri=C:\\x\\"}, true, true, true, nullptr, nullptr},
        {{L"T.exe", L"/silent", L"/dir="}, true, false, true, L"", nullptr},
        {{L"T.exe", L"/silent", L"/log="}, true, false, true, nullptr, L""},
        {{L"T.exe", L"/silent", L"/dir=C:\\a\\", L"/dir=C:\\b\\"}, true, false, true, L"C:\\b\\", nullptr},
        // ... but take the proxy credentials, which the downloads use.
        {{L"T.exe", L"/silent", L"/proxyuser=u", L"/PROXYPASSWORD=s"}, true, false, false, nullptr, nullptr},
        {{L"T.exe", L"/silent", L"/proxy=p:3128"}, true, false, true, nullptr, nullptr},
        // The window ignores what it does not use, as before.
        {{L"T.exe", L"/dri=C:\\x\\", L"/dir="}, false, false, false, L"", nullptr},
    };
    for (const auto& c : kCases) {
        const RunOptions o = ParseRunOptions(c.args);
        const std::wstring line = c.args.back();
        EXPECT_EQ(o.silent, c.silent) << line;
        EXPECT_EQ(o.acceptLicense, c.accept) << line;
        EXPECT_EQ(o.bad, c.bad) << line << " " << o.badReason;
        EXPECT_EQ(o.bad, !o.badReason.empty()) << line;
        EXPECT_EQ(o.dir.has_value(), c.dir != nullptr) << line;
        if (o.dir && c.dir) {
            EXPECT_EQ(*o.dir, c.dir) << line;
        }
        EXPECT_EQ(o.log.has_value(), c.log != nullptr) << line;
        if (o.log && c.log) {
            EXPECT_EQ(*o.log, c.log) << line;
        }
    }
}

// The mark a self-update gives the installer it starts, which is often an
// unattended one.
TEST(Unattended, TakesTheSelfUpdateMark) {
    const struct {
        std::vector<std::wstring> args;
        bool updated, bad;
    } kCases[] = {
        {{L"T.exe", L"/silent", L"/acceptlicense", L"/i", L"http://h/d.ini", L"/updated"}, true, false},
        {{L"T.exe", L"/UPDATED", L"/Silent"}, true, false},
        {{L"T.exe", L"/i", L"http://h/d.ini", L"/updated"}, true, false},
        {{L"T.exe", L"/silent", L"/acceptlicense"}, false, false},
        {{L"T.exe", L"/silent", L"/updated=yes"}, false, true},
    };
    for (const auto& c : kCases) {
        const RunOptions o = ParseRunOptions(c.args);
        EXPECT_EQ(o.updated, c.updated) << c.args.back();
        EXPECT_EQ(o.bad, c.bad) << c.args.back() << " " << o.badReason;
    }
}

TEST(Unattended, MasksTheProxyPasswordOnly) {
    const struct {
        const wchar_t* line;
        const wchar_t* masked;
    } kCases[] = {
        {L"T.exe /silent /proxyuser=bob /proxypassword=s3cret /dir=C:\\x\\",
         L"T.exe /silent /proxyuser=bob /proxypassword=***** /dir=C:\\x\\"},
        {L"T.exe \"/ProxyPassword=a b\" /log=C:\\l", L"T.exe \"/ProxyPassword=*****\" /log=C:\\l"},
        {L"T.exe /proxypassword=\"a b\"c d", L"T.exe /proxypassword=***** d"},
        {L"T.exe /proxypassword=x /proxypassword=y", L"T.exe /proxypassword=***** /proxypassword=*****"},
        {L"T.exe /proxypassword=", L"T.exe /proxypassword=*****"},
        {L"T.exe /silent", L"T.exe /silent"},
        // Quotes inside the word itself: the words, each quoted.
        {L"T.exe /proxy\"\"password=s3cret /x", L"\"T.exe\" \"/proxypassword=*****\" \"/x\""},
        {L"T.exe /PR\"\"OXYPASSWORD=\"c d\"e", L"\"T.exe\" \"/PROXYPASSWORD=*****\""},
    };
    for (const auto& c : kCases) EXPECT_EQ(MaskedCommandLine(c.line), c.masked) << c.line;
    // What is left still splits into the same words, the value replaced.
    EXPECT_EQ(SplitCommandLine(MaskedCommandLine(L"T.exe \"/proxypassword=a b\" /x")),
              (std::vector<std::wstring>{L"T.exe", L"/proxypassword=*****", L"/x"}));
}

TEST(Unattended, EachOutcomeHasItsOwnExitCode) {
    const struct {
        Outcome outcome;
        int code;
    } kCases[] = {
        {Outcome::Done, 0},           {Outcome::BadArguments, 1},     {Outcome::LicenseNotAccepted, 2},
        {Outcome::DownloadFailed, 3}, {Outcome::StepFailed, 4},       {Outcome::ServerNotStarted, 5},
        {Outcome::DirectoryRefused, 6},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ExitCodeOf(c.outcome), c.code);
        EXPECT_NE(OutcomeText(c.outcome), L"unknown");
    }
}

TEST(Unattended, MessageBoxesAnswerWithoutLosingData) {
    const struct {
        const wchar_t* caption;
        MbButtons buttons;
        int answer;
    } kCases[] = {
        {L"Notice", MbButtons::Ok, platform::kIdOk},
        // "/silent" is the answer to the uninstall confirmation, and only to it.
        {L"Uninstall Tidewell", MbButtons::OkCancelDefaultCancel, platform::kIdOk},
        {L"Something else", MbButtons::OkCancelDefaultCancel, platform::kIdCancel},
        {L"Uninstall Tidewell", MbButtons::OkCancel, platform::kIdCancel},
        {L"Replace?", MbButtons::YesNo, platform::kIdNo},
        {L"Replace?", MbButtons::YesNoCancel, platform::kIdNo},
    };
    for (const auto& c : kCases) EXPECT_EQ(UnattendedMessageBoxes::Answer(c.caption, c.buttons), c.answer) << c.caption;
}

TEST(Unattended, LogKeepsEarlyLinesAppendsAndNeverOverwrites) {
    tide::testing::FakeMachine m;
    platform::fake::FakeClock clock(1796833886123);  // 2026-12-09 16:31:26.123 UTC
    platform::ScopedPort<platform::Clock> clockPort(clock);
    m.fs.MakeDirectory(L"C:\\logs");
    const std::wstring path = L"C:\\logs\\Tidestart.log";
    m.WriteFile(path, "earlier run\r\n");

    RunLog off;  // not enabled: takes nothing
    off.SetPath(path);
    off.Write(L"step", L"ignored");

    RunLog log;
    log.Enable();
    log.Header(L"1.2.3.4", L"install, unattended", L"T.exe /silent /proxypassword=*****");
    log.Write(L"message", L"\"Notice\": two\nlines -> OK");
    EXPECT_EQ(m.ReadFile(path), "earlier run\r\n");  // no path yet: kept in memory
    log.SetPath(path);
    log.SetPath(L"C:\\logs\\other.log");  // the first path wins
    log.Write(L"step", L"after");
    EXPECT_EQ(m.ReadFile(path),
              "earlier run\r\n"
              "\r\n"
              "2026-12-09T16:31:26.123Z run: Tidestart 1.2.3.4, mode install, unattended\r\n"
              "2026-12-09T16:31:26.123Z run: command line: T.exe /silent /proxypassword=*****\r\n"
              "2026-12-09T16:31:26.123Z message: \"Notice\": two\\nlines -> OK\r\n"
              "2026-12-09T16:31:26.123Z step: after\r\n");
    EXPECT_FALSE(m.fs.FileExists(L"C:\\logs\\other.log"));

    // A second run appends to the same file.
    RunLog second;
    second.Enable();
    second.SetPath(path);
    second.Write(L"step", L"second run");
    EXPECT_TRUE(EndsWith(Utf8ToWide(m.ReadFile(path)), L"step: after\r\n2026-12-09T16:31:26.123Z step: second run\r\n"));
}

TEST(Unattended, TimestampsAreUtcWithMilliseconds) {
    EXPECT_EQ(LogTimestamp(0), L"1970-01-01T00:00:00.000Z");
    EXPECT_EQ(LogTimestamp(951782400000 + 86399999), L"2000-02-29T23:59:59.999Z");
    EXPECT_EQ(LogTimestamp(1767225600000), L"2026-01-01T00:00:00.000Z");
}

TEST(Unattended, UrlsAreLoggedWithoutCredentials) {
    EXPECT_EQ(UrlForLog(L"http://bob:pw@h:8/a@b"), L"http://h:8/a@b");
    EXPECT_EQ(UrlForLog(L"http://h/a@b"), L"http://h/a@b");
    EXPECT_EQ(UrlForLog(L"C:\\a@b"), L"C:\\a@b");
}

TEST(Unattended, LogsEveryRequestWithStatusBytesAndResume) {
    tide::testing::FakeMachine m;
    platform::fake::FakeClock clock;
    platform::ScopedPort<platform::Clock> clockPort(clock);
    m.fs.MakeDirectory(L"C:\\t");
    const std::wstring url = L"http://dl.test/f.bin";
    m.http.Serve(url, std::string(1000, 'x'));
    m.http.DropAfter(400);
    LoggingHttp logged(m.http);
    platform::ScopedPort<platform::Http> httpPort(logged);
    TheRunLog().Enable();
    TheRunLog().SetPath(L"C:\\t\\run.log");
    TUrlDownloader dl;
    const bool ok = dl.downloadURL(url, L"C:\\t\\f.bin", L"", 1000);
    TheRunLog().Close();
    ASSERT_TRUE(ok);
    const std::vector<std::wstring> lines = SplitLines(Utf8ToWide(m.ReadFile(L"C:\\t\\run.log")));
    std::vector<std::wstring> urls;
    for (const auto& l : lines)
        if (l.find(L" url: ") != std::wstring::npos) urls.push_back(l.substr(l.find(L" url: ") + 6));
    EXPECT_EQ(urls, (std::vector<std::wstring>{L"GET http://dl.test/f.bin: status 200, 400 bytes",
                                               L"GET http://dl.test/f.bin (resume from byte 400): status 206, 600 bytes"}));
}
