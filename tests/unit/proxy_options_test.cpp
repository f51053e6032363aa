// Proxy credentials from the command line, and the program handing them to
// the internet layer before its mode fetches anything.
#include <gtest/gtest.h>

#include "base/command_line.h"
#include "core/Tidestart.h"
#include "core/manifest.h"
#include "core/proxy_options.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

const wchar_t kUrl[] = L"http://dl.test/rel/downloader.ini";

TEST(ProxyCredentials, WordsAnywhereSwitchInAnyCaseValueAsTyped) {
    struct Row { const wchar_t* line; const wchar_t* user; const wchar_t* password; };
    const Row rows[] = {
        {L"T.exe /i URL /proxyuser=bob /proxypassword=s3=cr;t", L"bob", L"s3=cr;t"},
        {L"T.exe /PROXYPASSWORD=PassWord /i URL /ProxyUser=CORP\\Bob", L"CORP\\Bob", L"PassWord"},
        {L"T.exe \"/proxyuser=Bob Smith\" /proxypassword=\"a b\"", L"Bob Smith", L"a b"},
        {L"T.exe /proxyuser=first /proxyuser=second", L"first", L""},
        {L"T.exe /i URL", L"", L""},
        {L"T.exe /proxyuser bob x/proxypassword=no", L"", L""},  // no "=", not at a word's start
        {L"/proxyuser=theprogram.exe /i URL", L"", L""},         // the program path is no argument
    };
    for (const Row& r : rows) {
        const ProxyCredentials c = ProxyCredentialsFromArguments(SplitCommandLine(r.line));
        EXPECT_EQ(c.user, r.user) << r.line;
        EXPECT_EQ(c.password, r.password) << r.line;
    }
}

// Behind a proxy that wants bob's credentials: with them the manifest
// arrives; without them every attempt is refused (407) and the run ends
// with the usual download messages.
TEST(ProxyCredentials, TheProgramFetchesThroughAProxyOnlyWithThem) {
    // handedOver: the password in the environment, as an installer that
    // updated itself passes it on; the command line's wins.
    struct Row { std::vector<std::wstring> extra; const wchar_t* handedOver; bool fetched; };
    const Row rows[] = {
        {{L"/proxyuser=bob", L"/PROXYPASSWORD=pw 1"}, L"", true},
        {{}, L"", false},
        {{L"/proxyuser=bob", L"/proxypassword=wrong"}, L"", false},
        {{L"/proxyuser=bob"}, L"pw 1", true},
        {{L"/proxyuser=bob", L"/proxypassword=wrong"}, L"pw 1", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.fetched);
        FakeMachine m;
        if (*r.handedOver) m.env.SetVariable(kProxyPasswordVariable, r.handedOver);
        m.http.RequireProxyCredentials(L"bob", L"pw 1");
        m.ServeManifest(kUrl, "[TW]\r\nFILE_VERSION=4.2.1\r\n");
        std::vector<std::wstring> args{L"/i", kUrl};
        args.insert(args.end(), r.extra.begin(), r.extra.end());
        m.Args(args);
        std::wstring version;
        ModeHandlers h;
        h.installer = [&] { version = ManifestValue(L"TW", L"FILE_VERSION"); };
        EXPECT_EQ(RunTidestart(h), 0);
        EXPECT_EQ(version, r.fetched ? L"4.2.1" : L"");
        std::vector<std::wstring> captions;
        for (const auto& b : m.boxes.Shown()) captions.push_back(b.caption);
        const std::vector<std::wstring> failed{L"Error Dowloading", kDownloadErrorCaption};
        EXPECT_EQ(captions, r.fetched ? std::vector<std::wstring>() : failed);
        EXPECT_EQ(m.env.QuitRequested(), !r.fetched);
        EXPECT_EQ(m.env.Variable(kProxyPasswordVariable), L"") << "no program this one starts inherits it";
    }
}

}  // namespace
