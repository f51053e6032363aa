#include <gtest/gtest.h>

#include <map>

#include "base/error.h"
#include "base/encoding.h"
#include "base/text.h"
#include "download/release_manifest.h"

using namespace tide;

namespace {

struct Folder {
    std::map<std::wstring, ReleaseFileFacts> files;
    std::vector<std::wstring> asked;
    ReleaseFileProbe Probe() {
        return [this](const std::wstring& name, ReleaseFileFacts& f) {
            asked.push_back(name);
            auto it = files.find(name);
            if (it == files.end()) return false;
            f = it->second;
            return true;
        };
    }
};

const wchar_t kMd5A[] = L"0123456789ABCDEF0123456789ABCDEF";
const wchar_t kMd5B[] = L"FEDCBA9876543210FEDCBA9876543210";

TEST(ReleaseManifestUpdate, RewritesOnlySizeAndDigestKeepingEverythingElse) {
    Folder folder;
    folder.files[L"UNZIP.EXE"] = {1234, kMd5A};
    folder.files[L"tw.zip"] = {99, kMd5B};
    const std::string in =
        "; Tidewell release 3.4.16\r\n"
        "[GENERAL]\r\n"
        "BINARY_BASE=http://dl/bin/\r\n"
        "\r\n"
        "[UNZIP]\r\n"
        "  file_name = \"UNZIP.EXE\"\r\n"
        "; size follows\r\n"
        "FILE_SIZE = 1\r\n"
        "FILE_MD5SUM=old\r\n"
        "EXTRA=keep me\r\n"
        "[TW]\r\n"
        "FILE_VERSION=3.4.16\r\n"
        "FILE_NAME=tw.zip\r\n"
        "FILE_MD5SUM=\r\n"
        "[JRE]\r\n"
        "FILE_NAME=jre.exe\r\n"
        "FILE_SIZE=5\r\n"
        "INSTALL_ARGS=/s\r\n";
    ManifestUpdate up = UpdateManifestFacts(in, folder.Probe());
    const std::string want =
        "; Tidewell release 3.4.16\r\n"
        "[GENERAL]\r\n"
        "BINARY_BASE=http://dl/bin/\r\n"
        "\r\n"
        "[UNZIP]\r\n"
        "  file_name = \"UNZIP.EXE\"\r\n"
        "; size follows\r\n"
        "FILE_SIZE = 1234\r\n"
        "FILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "EXTRA=keep me\r\n"
        "[TW]\r\n"
        "FILE_VERSION=3.4.16\r\n"
        "FILE_NAME=tw.zip\r\n"
        "FILE_SIZE=99\r\n"
        "FILE_MD5SUM=FEDCBA9876543210FEDCBA9876543210\r\n"
        "[JRE]\r\n"
        "FILE_NAME=jre.exe\r\n"
        "FILE_SIZE=5\r\n"
        "INSTALL_ARGS=/s\r\n";
    EXPECT_EQ(up.text, want);
    EXPECT_TRUE(up.changed);
    EXPECT_EQ(up.updated, (std::vector<std::wstring>{L"UNZIP", L"TW"}));
    EXPECT_EQ(up.missing, (std::vector<std::wstring>{L"[JRE] jre.exe"}));
    EXPECT_TRUE(up.refused.empty());

    // A second run changes nothing.
    ManifestUpdate again = UpdateManifestFacts(up.text, folder.Probe());
    EXPECT_FALSE(again.changed);
    EXPECT_EQ(again.text, up.text);
}

TEST(ReleaseManifestUpdate, KeepsLfEndingsAndAMissingFinalNewline) {
    Folder folder;
    folder.files[L"a.zip"] = {7, kMd5A};
    ManifestUpdate up = UpdateManifestFacts("[A]\nFILE_NAME=a.zip", folder.Probe());
    EXPECT_EQ(up.text, "[A]\nFILE_NAME=a.zip\nFILE_SIZE=7\nFILE_MD5SUM=" + WideToUtf8(kMd5A));
    ManifestUpdate bom = UpdateManifestFacts("\xEF\xBB\xBF[A]\r\nFILE_NAME=a.zip\r\n", folder.Probe());
    EXPECT_EQ(bom.text, "\xEF\xBB\xBF[A]\r\nFILE_NAME=a.zip\r\nFILE_SIZE=7\r\nFILE_MD5SUM=" + WideToUtf8(kMd5A) + "\r\n");
}

// The tool must look up the file the installer will download: a name with
// bytes 0x80-0x9F reads as Windows-1252 there, not as Latin-1.
TEST(ReleaseManifestUpdate, NonAsciiNamesAreLookedUpAsTheInstallerReadsThem) {
    struct Case {
        const char* what;
        std::string nameBytes;
        std::wstring name;
    } cases[] = {
        {"euro sign", "tidewell-\x80.zip", L"tidewell-\u20AC.zip"},
        {"oe ligature", "jre-\x9C.exe", L"jre-\u0153.exe"},
        {"byte the code page leaves undefined", "x\x81.zip", L"x\u0081.zip"},
        {"Latin-1 letter", "B\xFCro.zip", L"B\u00FCro.zip"},
        {"UTF-8 with its mark", "\xEF\xBB\xBF\xE2\x82\xAC.zip", L"\u20AC.zip"},
    };
    for (const auto& c : cases) {
        Folder folder;
        folder.files[c.name] = {3, kMd5A};
        const bool bom = c.nameBytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
        const std::string in = (bom ? "\xEF\xBB\xBF" : "") + std::string("[TW]\r\nFILE_NAME=") +
                               c.nameBytes.substr(bom ? 3 : 0) + "\r\n";
        ManifestUpdate up = UpdateManifestFacts(in, folder.Probe());
        EXPECT_EQ(folder.asked, std::vector<std::wstring>{c.name}) << c.what;
        EXPECT_TRUE(up.missing.empty()) << c.what;
        EXPECT_TRUE(VerifyManifestFacts(up.text, folder.Probe()).failures.empty()) << c.what;
    }
}

// Lines the tool must read as the installer does, or it would skip or
// misplace a section the installer downloads.
TEST(ReleaseManifestUpdate, ReadsBlanksAndBracketsAsTheInstallerDoes) {
    struct Case {
        const char* what;
        std::string in;
    } cases[] = {
        {"form feed after the name", "[TW]\r\nFILE_NAME=tw.zip\f\r\nFILE_SIZE=1\r\n"},
        {"vertical tab and ^Z around key and value", "[TW]\r\n\vFILE_NAME\x1A=\x1Atw.zip\v\r\nFILE_SIZE=1\r\n"},
        {"blanks around a stale size", "[TW]\r\nFILE_NAME=tw.zip\r\n\fFILE_SIZE\f=\f1\r\nFILE_MD5SUM\v=x\r\n"},
        {"\"[\" without \"]\" is no section", "[TW]\r\n[not a section\r\nFILE_NAME=tw.zip\r\nFILE_SIZE=1\r\n"},
        {"keys without \"=\" before the name", "[TW]\r\nFILE_MD5SUM\r\n FILE_SIZE \r\nFILE_NAME=tw.zip\r\n"},
        {"a key without \"=\" after the name", "[TW]\r\nFILE_NAME=tw.zip\r\nFILE_SIZE\r\nFILE_SIZE=1\r\n"},
    };
    for (const auto& c : cases) {
        Folder folder;
        folder.files[L"tw.zip"] = {3, kMd5A};
        ManifestUpdate up = UpdateManifestFacts(c.in, folder.Probe());
        EXPECT_EQ(folder.asked, std::vector<std::wstring>{L"tw.zip"}) << c.what;
        EXPECT_EQ(up.updated, std::vector<std::wstring>{L"TW"}) << c.what;
        EXPECT_TRUE(VerifyManifestFacts(up.text, folder.Probe()).failures.empty()) << c.what << "\n" << up.text;
    }
}

TEST(ReleaseManifestUpdate, UnsafeNamesAreRefusedAndNeverLookedUp) {
    Folder folder;
    folder.files[L"..\\evil.exe"] = {1, kMd5A};
    const std::string in = "[EVIL]\r\nFILE_NAME=..\\evil.exe\r\nFILE_SIZE=0\r\n[GENERAL]\r\nX=1\r\n";
    ManifestUpdate up = UpdateManifestFacts(in, folder.Probe());
    EXPECT_EQ(up.text, in);
    ASSERT_EQ(up.refused.size(), 1u);
    EXPECT_NE(up.refused[0].find(L"[EVIL]"), std::wstring::npos);
    EXPECT_TRUE(folder.asked.empty());
    EXPECT_THROW(UpdateManifestFacts(std::string("\xFF\xFE[\0A\0]\0", 8), folder.Probe()), Error);
}

TEST(ReleaseManifestVerify, OneLinePerFailingFileWithExpectedAndActual) {
    Folder folder;
    folder.files[L"good.zip"] = {10, kMd5A};
    folder.files[L"short.zip"] = {9, kMd5A};
    folder.files[L"bent.zip"] = {10, kMd5B};
    folder.files[L"both.zip"] = {9, kMd5B};
    const std::string m =
        "[GENERAL]\r\nBINARY_BASE=x\r\n"
        "[GOOD]\r\nFILE_NAME=good.zip\r\nFILE_SIZE=10\r\nFILE_MD5SUM=0123456789abcdef0123456789abcdef\r\n"
        "[SHORT]\r\nFILE_NAME=short.zip\r\nFILE_SIZE=10\r\nFILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "[BENT]\r\nFILE_NAME=bent.zip\r\nFILE_SIZE=10\r\nFILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "[BOTH]\r\nFILE_NAME=both.zip\r\nFILE_SIZE=10\r\nFILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "[GONE]\r\nFILE_NAME=gone.zip\r\nFILE_SIZE=10\r\nFILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "[BADSIZE]\r\nFILE_NAME=good.zip\r\nFILE_SIZE=ten\r\nFILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "[EVIL]\r\nFILE_NAME=..\\evil.exe\r\nFILE_SIZE=1\r\nFILE_MD5SUM=0123456789ABCDEF0123456789ABCDEF\r\n"
        "[NOMD5]\r\nFILE_NAME=good.zip\r\nFILE_SIZE=10\r\n";
    VerifyResult r = VerifyManifestFacts(m, folder.Probe());
    EXPECT_EQ(r.checked, 8);
    std::vector<std::wstring> lines;
    for (const auto& f : r.failures) lines.push_back(f.Line());
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"short.zip [SHORT]: size differs: expected 10 bytes, actual 9 bytes",
                         L"bent.zip [BENT]: MD5 differs: expected 0123456789ABCDEF0123456789ABCDEF, actual "
                         L"FEDCBA9876543210FEDCBA9876543210",
                         L"both.zip [BOTH]: size and MD5 differ: expected 10 bytes 0123456789ABCDEF0123456789ABCDEF, "
                         L"actual 9 bytes FEDCBA9876543210FEDCBA9876543210",
                         L"gone.zip [GONE]: missing: expected 10 bytes, actual no such file",
                         L"good.zip [BADSIZE]: bad FILE_SIZE: expected a decimal byte count, actual \"ten\"",
                         L"..\\evil.exe [EVIL]: bad FILE_NAME: expected a bare file name, actual \"..\\evil.exe\"",
                         L"good.zip [NOMD5]: bad FILE_MD5SUM: expected 32 hexadecimal digits, actual none",
                     }));
    EXPECT_EQ(std::count(folder.asked.begin(), folder.asked.end(), L"..\\evil.exe"), 0);
}

TEST(ReleaseManifestVerify, EmptyOrUnnamedManifestsPass) {
    Folder folder;
    EXPECT_TRUE(VerifyManifestFacts("", folder.Probe()).failures.empty());
    VerifyResult r = VerifyManifestFacts("[GENERAL]\r\nBINARY_BASE=x\r\n[TW]\r\nFILE_VERSION=1\r\n", folder.Probe());
    EXPECT_EQ(r.checked, 0);
    EXPECT_TRUE(r.failures.empty());
}

}  // namespace

TEST(ReleaseSerial, WrittenIntoTheFirstGeneralSectionAndNothingElse) {
    const struct {
        const char* what;
        std::string in, out;
    } rows[] = {
        {"added after the header", "[TW]\r\nA=1\r\n[GENERAL]\r\nB=2\r\n", "[TW]\r\nA=1\r\n[GENERAL]\r\nRELEASE_SERIAL=42\r\nB=2\r\n"},
        {"replaced, first of two", "[general]\nrelease_serial = 7 \nRELEASE_SERIAL=8\n", "[general]\nRELEASE_SERIAL=42\nRELEASE_SERIAL=8\n"},
        {"only the first [GENERAL]", "[GENERAL]\r\nX=1\r\n[GENERAL]\r\nRELEASE_SERIAL=1\r\n",
         "[GENERAL]\r\nRELEASE_SERIAL=42\r\nX=1\r\n[GENERAL]\r\nRELEASE_SERIAL=1\r\n"},
        {"no [GENERAL]", "[TW]\nA=1", "[TW]\nA=1\n[GENERAL]\nRELEASE_SERIAL=42\n"},
        {"header last, no final break", "[TW]\r\n[GENERAL]", "[TW]\r\n[GENERAL]\r\nRELEASE_SERIAL=42"},
        {"empty", "", "[GENERAL]\r\nRELEASE_SERIAL=42\r\n"},
    };
    for (const auto& r : rows) {
        const std::string out = SetReleaseSerial(r.in, 42);
        EXPECT_EQ(out, r.out) << r.what;
        EXPECT_EQ(ReadReleaseSerial(out), L"42") << r.what;
        EXPECT_EQ(SetReleaseSerial(out, 42), out) << r.what << ": idempotent";
    }
    EXPECT_THROW(SetReleaseSerial(std::string("\xFF\xFE[", 3), 1), Error);
}
