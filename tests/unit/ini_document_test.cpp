#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/IniDocument.h"
#include "platform/fake/fake_files.h"

using namespace tide;
using tide::platform::FileSystem;
using tide::platform::ScopedPort;
using tide::platform::fake::TempFileSystem;

namespace {

std::string Utf16Le(const std::wstring& s, bool bom = true) {
    std::string r = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (wchar_t c : s) {
        r += static_cast<char>(c & 0xFF);
        r += static_cast<char>((c >> 8) & 0xFF);
    }
    return r;
}

std::string Utf16Be(const std::wstring& s) {
    std::string r("\xFE\xFF", 2);
    for (wchar_t c : s) {
        r += static_cast<char>((c >> 8) & 0xFF);
        r += static_cast<char>(c & 0xFF);
    }
    return r;
}

const char kManifest[] =
    "[GENERAL]\r\n"
    "VERSION=4.2.1\r\n"
    "\r\n"
    "[JRE]\r\n"
    "FILE_NAME = jre-8u401-windows-i586.exe  \r\n"
    "FILE_SIZE=\t62750384\r\n"
    "FILE_MD5SUM=\"0CC175B9C0F1B6A831C399E269772661\"\r\n"
    "[TW]\n"
    "FILE_NAME='tidewell.war'\n";

}  // namespace

TEST(IniDocument, ReadsValuesWithBlanksAndQuotesRemoved) {
    IniDocument d = IniDocument::FromBytes(kManifest);
    EXPECT_EQ(d.ReadString(L"GENERAL", L"VERSION"), L"4.2.1");
    EXPECT_EQ(d.ReadString(L"JRE", L"FILE_NAME"), L"jre-8u401-windows-i586.exe");
    EXPECT_EQ(d.ReadString(L"JRE", L"FILE_SIZE"), L"62750384");
    EXPECT_EQ(d.ReadString(L"JRE", L"FILE_MD5SUM"), L"0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(d.ReadString(L"TW", L"FILE_NAME"), L"tidewell.war");
}

TEST(IniDocument, NamesMatchWithoutRegardToCaseAndSurroundingBlanks) {
    IniDocument d = IniDocument::FromBytes(kManifest);
    EXPECT_EQ(d.ReadString(L"jre", L"file_name"), L"jre-8u401-windows-i586.exe");
    EXPECT_EQ(d.ReadString(L"  Jre ", L" File_Name\t"), L"jre-8u401-windows-i586.exe");
    EXPECT_TRUE(d.HasSection(L"general"));
    EXPECT_FALSE(d.HasSection(L"GENERA"));
    // Only ASCII letters fold, as in the Windows reader.
    IniDocument u = IniDocument::FromBytes(Utf16Le(L"[\u00C4rger]\r\n\u00D6L=1\r\n"));
    EXPECT_EQ(u.ReadString(L"\u00C4RGER", L"\u00D6l"), L"1");
    EXPECT_EQ(u.ReadString(L"\u00E4rger", L"\u00D6L"), L"");
}

TEST(IniDocument, MissingSectionOrKeyReadsAsEmptyOrDefault) {
    IniDocument d = IniDocument::FromBytes(kManifest);
    EXPECT_EQ(d.ReadString(L"JRE", L"NOPE"), L"");
    EXPECT_EQ(d.ReadString(L"NOPE", L"FILE_NAME"), L"");
    EXPECT_EQ(d.ReadString(L"NOPE", L"FILE_NAME", L"-1"), L"-1");
    // The default loses trailing spaces and one pair of quotes, like a value.
    EXPECT_EQ(d.ReadString(L"NOPE", L"X", L"\"a b\"  "), L"a b");
    EXPECT_EQ(IniDocument().ReadString(L"A", L"B", L"d"), L"d");
}

TEST(IniDocument, QuotesComeOffOnlyAsOneMatchingPair) {
    IniDocument d = IniDocument::FromBytes(
        "[Q]\n"
        "double=\"x\"\n"
        "single='x'\n"
        "mixed=\"x'\n"
        "inner=a\"b\"\n"
        "twice=\"\"x\"\"\n"
        "lone=\"\n"
        "empty=\"\"\n"
        "spaced=\"  padded  \"\n"
        "open=\"abc\n");
    EXPECT_EQ(d.ReadString(L"Q", L"double"), L"x");
    EXPECT_EQ(d.ReadString(L"Q", L"single"), L"x");
    EXPECT_EQ(d.ReadString(L"Q", L"mixed"), L"\"x'");
    EXPECT_EQ(d.ReadString(L"Q", L"inner"), L"a\"b\"");
    EXPECT_EQ(d.ReadString(L"Q", L"twice"), L"\"x\"");
    EXPECT_EQ(d.ReadString(L"Q", L"lone"), L"\"");
    EXPECT_EQ(d.ReadString(L"Q", L"empty"), L"");
    EXPECT_EQ(d.ReadString(L"Q", L"spaced"), L"  padded  ");
    EXPECT_EQ(d.ReadString(L"Q", L"open"), L"\"abc");
}

TEST(IniDocument, ValuesAreCutAt2047Characters) {
    std::string text = "[L]\n";
    text += "exact=" + std::string(2047, 'a') + "\n";
    text += "long=" + std::string(5000, 'b') + "\n";
    text += "quotedfit=\"" + std::string(2046, 'c') + "\"\n";
    text += "quotedlong=\"" + std::string(3000, 'd') + "\"\n";
    IniDocument d = IniDocument::FromBytes(text);
    EXPECT_EQ(d.ReadString(L"L", L"exact"), std::wstring(2047, L'a'));
    EXPECT_EQ(d.ReadString(L"L", L"long"), std::wstring(2047, L'b'));
    EXPECT_EQ(d.ReadString(L"L", L"quotedfit"), std::wstring(2046, L'c'));
    // Too long for the buffer: the opening quote goes, the cut value keeps
    // 2047 characters and no closing quote is looked for.
    EXPECT_EQ(d.ReadString(L"L", L"quotedlong"), std::wstring(2047, L'd'));
}

TEST(IniDocument, ByteOrderMarksSelectTheEncoding) {
    const std::wstring text = L"[S]\r\nK=\u20AC \u00E9\r\n";
    EXPECT_EQ(IniDocument::FromBytes(Utf16Le(text)).ReadString(L"S", L"K"), L"\u20AC \u00E9");
    EXPECT_EQ(IniDocument::FromBytes(Utf16Be(text)).ReadString(L"S", L"K"), L"\u20AC \u00E9");
    EXPECT_EQ(IniDocument::FromBytes("\xEF\xBB\xBF[S]\r\nK=\xE2\x82\xAC \xC3\xA9\r\n").ReadString(L"S", L"K"),
              L"\u20AC \u00E9");
    // The mark does not become part of the first section's name.
    EXPECT_EQ(IniDocument::FromBytes("\xEF\xBB\xBF[S]\nK=v\n").SectionNames(), std::vector<std::wstring>{L"S"});
    // Without a mark the bytes are Windows-1252.
    EXPECT_EQ(IniDocument::FromBytes("[S]\nK=\x80 \xE9\n").ReadString(L"S", L"K"), L"\u20AC \u00E9");
    // UTF-16 without a mark is not guessed: the NULs stay in the text.
    EXPECT_FALSE(IniDocument::FromBytes(Utf16Le(L"[S]\r\nK=v\r\n", false)).HasSection(L"S"));
}

TEST(IniDocument, CommentLinesAreOrdinaryKeysNamedWithTheirSemicolon) {
    IniDocument d = IniDocument::FromBytes(
        "; leading comment\n"
        "[S]\n"
        ";FILE_NAME=old.exe\n"
        "FILE_SIZE=10 ; not a comment\n");
    EXPECT_EQ(d.ReadString(L"S", L"FILE_NAME"), L"");
    EXPECT_EQ(d.ReadString(L"S", L";FILE_NAME"), L"old.exe");
    EXPECT_EQ(d.ReadString(L"S", L"FILE_SIZE"), L"10 ; not a comment");
    EXPECT_EQ(d.SectionNames(), std::vector<std::wstring>{L"S"});
}

TEST(IniDocument, FirstOfDuplicateKeysAndSectionsWins) {
    IniDocument d = IniDocument::FromBytes(
        "[A]\nK=first\nk=second\n"
        "[B]\nX=1\n"
        "[a]\nK=third\nONLYLATER=yes\n");
    EXPECT_EQ(d.ReadString(L"A", L"K"), L"first");
    EXPECT_EQ(d.ReadString(L"A", L"ONLYLATER"), L"");
    EXPECT_EQ(d.SectionNames(), (std::vector<std::wstring>{L"A", L"B", L"a"}));
}

TEST(IniDocument, SectionNamesInFileOrderAsWritten) {
    IniDocument d = IniDocument::FromBytes(
        "K=before any section\n"
        "[TW]\n[  JRE ]\n[]\n[UNZIP] trailing\n[broken\n[x]y]\n   [GENERAL]   \n");
    EXPECT_EQ(d.SectionNames(), (std::vector<std::wstring>{L"TW", L"JRE", L"UNZIP", L"x]y", L"GENERAL"}));
    EXPECT_TRUE(d.HasSection(L"UNZIP"));
    EXPECT_TRUE(d.HasSection(L" jre"));
    // The lines before the first section answer to the name "".
    EXPECT_EQ(d.ReadString(L"", L"K"), L"before any section");
}

TEST(IniDocument, LinesEndAtCrLfOrEitherAlone) {
    IniDocument d = IniDocument::FromBytes("[S]\rA=1\nB=2\r\n\r\nC=3\n\rD=4");
    EXPECT_EQ(d.ReadString(L"S", L"A"), L"1");
    EXPECT_EQ(d.ReadString(L"S", L"B"), L"2");
    EXPECT_EQ(d.ReadString(L"S", L"C"), L"3");
    EXPECT_EQ(d.ReadString(L"S", L"D"), L"4");
}

TEST(IniDocument, KeyWithoutEqualsSignReadsAsTheDefault) {
    IniDocument d = IniDocument::FromBytes("[S]\nFLAG\nFLAG=later\nEMPTY=\n");
    EXPECT_EQ(d.ReadString(L"S", L"FLAG", L"def"), L"def");
    EXPECT_EQ(d.ReadString(L"S", L"EMPTY", L"def"), L"");
}

TEST(IniDocument, LoadReadsThroughTheFileSystemAndFailsForAMissingFile) {
    TempFileSystem fs;
    ScopedPort<FileSystem> port(fs);
    std::string host = fs.HostPath(L"C:\\dl\\downloader.ini");
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    std::ofstream(host, std::ios::binary) << kManifest;

    IniDocument d;
    ASSERT_TRUE(IniDocument::Load(L"C:\\dl\\downloader.ini", d));
    EXPECT_EQ(d.SectionNames(), (std::vector<std::wstring>{L"GENERAL", L"JRE", L"TW"}));
    EXPECT_EQ(ReadIniString(L"C:\\dl\\downloader.ini", L"TW", L"FILE_NAME"), L"tidewell.war");

    EXPECT_FALSE(IniDocument::Load(L"C:\\dl\\missing.ini", d));
    EXPECT_TRUE(d.SectionNames().empty());
    EXPECT_EQ(ReadIniString(L"C:\\dl\\missing.ini", L"TW", L"FILE_NAME"), L"");
    // A folder is not a file.
    EXPECT_FALSE(IniDocument::Load(L"C:\\dl", d));
}

TEST(IniDocument, LoadReadsAFileThatAnotherWriterHoldsOpen) {
    TempFileSystem fs;
    ScopedPort<FileSystem> port(fs);
    std::filesystem::create_directories(fs.HostPath(L"C:\\"));
    std::ofstream(fs.HostPath(L"C:\\m.ini"), std::ios::binary) << "[S]\nK=v\n";
    auto w = fs.Open(L"C:\\m.ini", platform::OpenMode::WriteExisting, platform::Share::ReadWrite);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(ReadIniString(L"C:\\m.ini", L"S", L"K"), L"v");
}
