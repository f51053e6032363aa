// FILE_SHA256: the digest, the checks of component files on disk and after
// a download, the /testini box, and what the release tool writes and checks.
#include <gtest/gtest.h>

#include <map>

#include "app/program.h"
#include "base/encoding.h"
#include "download/URLFetcher2.h"
#include "download/release_manifest.h"
#include "download/sha256.h"
#include "download/verification.h"
#include "release_fixture.h"

using namespace tide;

namespace {

const std::string kBytes = "abc";
const std::wstring kAbc = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::wstring kOther = L"0000000000000000000000000000000000000000000000000000000000000000";

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    return s;
}

}  // namespace

TEST(Sha256, KnownDigest) {
    Sha256 whole;
    whole.Feed(kBytes.data(), kBytes.size());
    EXPECT_EQ(whole.FinishHex(), kAbc);
    Sha256 pieces;
    pieces.Feed("a", 1);
    pieces.Feed("bc", 2);
    EXPECT_EQ(pieces.FinishHex(), kAbc);
}

TEST(Sha256, ComponentOnDiskIsCompleteOnlyWhenAGivenDigestMatches) {
    tide::testing::FakeMachine m;
    m.MakeDirs(L"C:\\dl");
    m.WriteFile(L"C:\\dl\\a.zip", kBytes);
    const std::wstring md5 = tide::testing::Md5Hex(kBytes);
    struct Row {
        const char* what;
        int32_t size;
        std::wstring md5, sha;
        bool want;
    } rows[] = {
        {"no digest at all", 3, L"", L"", false},
        {"match", 3, L"", kAbc, true},
        {"match, upper case", 3, L"", Upper(kAbc), true},
        {"match, blanks around", 3, L"", L" " + kAbc + L" ", true},
        {"mismatch", 3, L"", kOther, false},
        {"mismatch, size fails first", 4, L"", kAbc, false},
        {"unknown size, MD5 and SHA-256 match", 0, md5, kAbc, true},
        {"unknown size, MD5 matches, SHA-256 does not", 0, md5, kOther, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ComponentFileComplete(L"C:\\dl\\a.zip", r.size, r.md5, r.sha), r.want) << r.what;
}

TEST(Sha256, ADownloadThatDoesNotMatchIsDeletedAndReportedLikeAnMd5Mismatch) {
    const std::wstring url = L"http://127.0.0.1:9/a.zip";
    struct Row {
        std::wstring sha;
        bool want;
    } rows[] = {{kAbc, true}, {Upper(kAbc), true}, {L"", true}, {kOther, false}};
    for (const Row& r : rows) {
        tide::testing::FakeMachine m;
        m.MakeDirs(L"C:\\dl");
        m.http.Serve(url, kBytes);
        TUrlDownloader dl;
        dl.Sha256 = r.sha;
        EXPECT_EQ(dl.downloadURL(url, L"C:\\dl\\a.zip", tide::testing::Md5Hex(kBytes), 3), r.want) << WideToUtf8(r.sha);
        EXPECT_EQ(platform::Files().FileExists(L"C:\\dl\\a.zip"), r.want);
        if (r.want) {
            EXPECT_TRUE(m.boxes.Shown().empty());
            continue;
        }
        const auto shown = m.boxes.Shown();
        ASSERT_EQ(shown.size(), 1u);
        const auto& b = shown[0];
        EXPECT_EQ(b.caption, L"Notice");
        EXPECT_EQ(b.icon, platform::MbIcon::Error);
        EXPECT_EQ(b.text,
                  L"It looks like the file you downloaded was corrupted during the transfer.\n\nThe computed SHA-256 is " +
                      kAbc + L"\nThe expected SHA-256 is " + kOther + L"\n\nYou will have to re-download the file.");
    }
}

TEST(Sha256, TestIniNamesBothDigestsOfAFileThatDoesNotMatch) {
    tide::testing::FakeMachine m;
    m.MakeDirs(L"C:\\rel");
    m.WriteFile(L"C:\\rel\\a.zip", kBytes);
    const std::string md5 = "FILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\n";
    m.WriteFile(L"C:\\rel\\downloader.ini", "[A]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\n" + md5 + "FILE_SHA256=" +
                                                 WideToUtf8(kOther) + "\r\n[B]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\n" +
                                                 md5 + "FILE_SHA256=" + WideToUtf8(Upper(kAbc)) + "\r\n");
    m.Args({L"/testini", L"C:\\rel\\downloader.ini", L"C:\\rel"});
    ModeHandlers h = DefaultModeHandlers();
    h.installer = [] {};
    EXPECT_EQ(RunTidestart(h), 0);
    const auto shown = m.boxes.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, L"Error checking file: a.zip\n\nThe computed SHA-256 is " + kAbc +
                                 L"\nThe expected SHA-256 is " + kOther);
    EXPECT_EQ(shown[0].caption, L"Error");
    EXPECT_EQ(shown[1].text, L"One or more files failed testing. Check size, and MD5SUM");
    EXPECT_TRUE(platform::Files().FileExists(L"C:\\rel\\a.zip")) << "a check deletes nothing";
}

TEST(Sha256, ReleaseToolUpdatesTheKeyWhereItIsAndAddsItWhenAsked) {
    ReleaseFileProbe probe = [](const std::wstring& name, ReleaseFileFacts& f) {
        if (name != L"a.zip") return false;
        f.size = 3;
        f.md5 = L"900150983CD24FB0D6963F7D28E17F72";
        f.sha256 = kAbc;
        return true;
    };
    const std::string in = "[A]\r\nFILE_NAME=a.zip\r\nFILE_SHA256=old\r\n[B]\r\nFILE_NAME=a.zip\r\n";
    const std::string sha = WideToUtf8(kAbc);
    EXPECT_EQ(UpdateManifestFacts(in, probe).text,
              "[A]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\nFILE_SHA256=" +
                  sha + "\r\n[B]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\n");
    EXPECT_EQ(UpdateManifestFacts(in, probe, true).text,
              "[A]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\nFILE_SHA256=" +
                  sha + "\r\n[B]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983CD24FB0D6963F7D28E17F72\r\n"
                  "FILE_SHA256=" + sha + "\r\n");

    const std::string head = "[A]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=3\r\nFILE_MD5SUM=900150983cd24fb0d6963f7d28e17f72\r\n";
    struct Row {
        std::string line;
        std::wstring failure;  // empty: passes
    } rows[] = {
        {"", L""},
        {"FILE_SHA256=" + sha, L""},
        {"FILE_SHA256=" + WideToUtf8(Upper(kAbc)), L""},
        {"FILE_SHA256=" + WideToUtf8(kOther),
         L"a.zip [A]: SHA-256 differs: expected " + kOther + L", actual " + kAbc},
        {"FILE_SHA256=abc", L"a.zip [A]: bad FILE_SHA256: expected 64 hexadecimal digits, actual \"abc\""},
    };
    for (const Row& r : rows) {
        VerifyResult v = VerifyManifestFacts(head + r.line + "\r\n", probe);
        if (r.failure.empty()) {
            EXPECT_TRUE(v.failures.empty()) << r.line;
        } else {
            ASSERT_EQ(v.failures.size(), 1u) << r.line;
            EXPECT_EQ(v.failures[0].Line(), r.failure);
        }
    }
}
