#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/program.h"
#include "base/encoding.h"
#include "download/verification.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_ui.h"

using namespace tide;
using namespace tide::platform;
using tide::platform::fake::FakeEnvironment;
using tide::platform::fake::RecordingMessageBoxes;
using tide::platform::fake::ShownBox;
using tide::platform::fake::TempFileSystem;

namespace {

class VerificationTest : public ::testing::Test {
protected:
    void Put(const std::wstring& winPath, const std::string& bytes) {
        std::string host = fs.HostPath(winPath);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::ofstream(host, std::ios::binary) << bytes;
    }
    // Runs the program as "Tidestart.exe /testini manifest folder".
    std::vector<ShownBox> RunTestIni(const std::wstring& manifest, const std::wstring& folder) {
        env.SetArguments({L"C:\\Downloads\\Tidestart.exe", L"/testini", manifest, folder});
        ModeHandlers h = DefaultModeHandlers();
        bool installerRan = false;
        h.installer = [&] { installerRan = true; };
        EXPECT_EQ(RunTidestart(h), 0);
        EXPECT_FALSE(installerRan);
        return boxes.Shown();
    }

    TempFileSystem fs;
    FakeEnvironment env;
    RecordingMessageBoxes boxes;
    ScopedPort<FileSystem> p1{fs};
    ScopedPort<Environment> p2{env};
    ScopedPort<MessageBoxes> p3{boxes};
};

const std::string kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string k12345Md5 = "827ccb0eea8a706c4c34a16891f84e7b";
const std::wstring k12345MD5W = L"827ccb0eea8a706c4c34a16891f84e7b";
const std::wstring kUnreadable = L"\n\nThe file is missing or cannot be read.";
const std::wstring kNoSize = L"\n\nThe FILE_SIZE of it in the manifest is missing or not a number.";

void ExpectBox(const ShownBox& b, const std::wstring& text, const std::wstring& caption, MbIcon icon) {
    EXPECT_EQ(b.text, text);
    EXPECT_EQ(b.caption, caption);
    EXPECT_EQ(b.icon, icon);
    EXPECT_EQ(b.buttons, MbButtons::Ok);
}

}  // namespace

TEST_F(VerificationTest, LocalFileSizeCountsBytesAndIsZeroWhenTheFileCannotBeOpened) {
    Put(L"C:\\dl\\a.bin", std::string(1234, 'x'));
    Put(L"C:\\dl\\empty.bin", "");
    EXPECT_EQ(LocalFileSize(L"C:\\dl\\a.bin"), 1234u);
    EXPECT_EQ(LocalFileSize(L"C:\\dl\\empty.bin"), 0u);
    EXPECT_EQ(LocalFileSize(L"C:\\dl\\missing.bin"), 0u);
    EXPECT_EQ(LocalFileSize(L"C:\\dl"), 0u);
}

TEST_F(VerificationTest, LocalFileSizeRespectsTheSharingRules) {
    Put(L"C:\\dl\\a.bin", "12345");
    {
        // Another reader does not stop us.
        auto reader = fs.Open(L"C:\\dl\\a.bin", OpenMode::ReadExisting, Share::Read);
        EXPECT_EQ(LocalFileSize(L"C:\\dl\\a.bin"), 5u);
    }
    {
        // A file still being written reads as 0, even when the writer
        // allows others to read: we do not allow writing meanwhile.
        auto writer = fs.Open(L"C:\\dl\\a.bin", OpenMode::WriteExisting, Share::ReadWrite);
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(LocalFileSize(L"C:\\dl\\a.bin"), 0u);
    }
    EXPECT_EQ(LocalFileSize(L"C:\\dl\\a.bin"), 5u);
    // Our open is closed again: an exclusive open succeeds.
    EXPECT_NE(fs.Open(L"C:\\dl\\a.bin", OpenMode::ReadWriteExisting, Share::None), nullptr);
}

TEST_F(VerificationTest, CheckFileSizeComparesSizesOnly) {
    Put(L"C:\\dl\\a.bin", "12345");
    Put(L"C:\\dl\\empty.bin", "");
    EXPECT_TRUE(CheckFileSize(L"C:\\dl\\a.bin", 5));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\a.bin", 4));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\a.bin", 6));
    // A missing file is no empty file.
    EXPECT_TRUE(CheckFileSize(L"C:\\dl\\empty.bin", 0));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\missing.bin", 0));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\missing.bin", 1));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl", 0)) << "a folder";
    {
        // Nor is a file that cannot be read (another process writes it).
        auto writer = fs.Open(L"C:\\dl\\empty.bin", OpenMode::WriteExisting, Share::ReadWrite);
        ASSERT_NE(writer, nullptr);
        EXPECT_FALSE(CheckFileSize(L"C:\\dl\\empty.bin", 0));
    }
    // A negative size never matches, not even an empty file.
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\empty.bin", -1));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\missing.bin", -1));
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\a.bin", INT32_MIN));
}

TEST_F(VerificationTest, ComponentFileIsCompleteOnlyByItsDigest) {
    Put(L"C:\\dl\\a.bin", "12345");
    Put(L"C:\\dl\\empty.bin", "");
    const std::wstring md5 = L"827ccb0eea8a706c4c34a16891f84e7b";  // of "12345"
    // A known size and the digest must both match.
    EXPECT_TRUE(ComponentFileComplete(L"C:\\dl\\a.bin", 5, md5));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\a.bin", 5, L""));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\a.bin", 5, L"00000000000000000000000000000000"));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\a.bin", 4, md5));
    // No size: only a matching digest (any letter case) proves it.
    EXPECT_TRUE(ComponentFileComplete(L"C:\\dl\\a.bin", 0, md5));
    EXPECT_TRUE(ComponentFileComplete(L"C:\\dl\\a.bin", -1, L"827CCB0EEA8A706C4C34A16891F84E7B"));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\a.bin", 0, L""));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\empty.bin", 0, L"")) << "the empty file a failed run leaves";
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\empty.bin", 0, md5));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\missing.bin", 0, L""));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\missing.bin", 0, md5));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\missing.bin", 1, md5));
}

TEST_F(VerificationTest, MissingOrUnreadableFileFailsEvenAgainstSizeZero) {
    Put(L"C:\\m\\downloader.ini",
        "[JRE]\r\nFILE_NAME=jre.exe\r\nFILE_SIZE=0\r\n"           // missing
        "[TW]\r\nFILE_NAME=tw.war\r\nFILE_SIZE=0\r\n"             // held open for writing
        "[UNZIP]\r\nFILE_NAME=empty.exe\r\nFILE_SIZE=0\r\nFILE_MD5SUM=" + kEmptyMd5 + "\r\n");  // empty and right
    Put(L"C:\\files\\tw.war", "");
    Put(L"C:\\files\\empty.exe", "");
    auto writer = fs.Open(L"C:\\files\\tw.war", OpenMode::WriteExisting, Share::ReadWrite);
    ASSERT_NE(writer, nullptr);
    auto shown = RunTestIni(L"C:\\m\\downloader.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 3u);
    ExpectBox(shown[0], L"Error checking file: jre.exe" + kUnreadable, L"Error", MbIcon::None);
    ExpectBox(shown[1], L"Error checking file: tw.war" + kUnreadable, L"Error", MbIcon::None);
    ExpectBox(shown[2], L"One or more files failed testing. Check size, and MD5SUM", L"Error", MbIcon::Warning);
}

TEST_F(VerificationTest, FailingFilesGetOneBoxEachInManifestOrderThenTheClosingBox) {
    Put(L"C:\\m\\downloader.ini",
        "[GENERAL]\r\nVERSION=1\r\n"
        "[TW]\r\nFILE_NAME=tw.war\r\nFILE_SIZE=3\r\n"          // wrong size
        "[JRE]\r\nFILE_NAME=jre.exe\r\nFILE_SIZE=5\r\nFILE_MD5SUM=" + k12345Md5 + "\r\n"  // right
        "[UNZIP]\r\nFILE_NAME=unzip.exe\r\nFILE_SIZE=7\r\n"    // missing
        "[TOMCAT]\r\nFILE_NAME=tomcat.zip\r\n"                 // no size: fails
        "[CATALINA_BASE]\r\nFILE_NAME=base.zip\r\nFILE_SIZE=x12\r\n"  // not a number
        "[JREx64]\r\nFILE_NAME=empty.exe\r\nFILE_SIZE=0\r\nFILE_MD5SUM=" + kEmptyMd5 + "\r\n");  // empty and right
    Put(L"C:\\files\\tw.war", "abcd");
    Put(L"C:\\files\\jre.exe", "12345");
    Put(L"C:\\files\\tomcat.zip", "");
    Put(L"C:\\files\\base.zip", "123456789012");
    Put(L"C:\\files\\empty.exe", "");
    auto shown = RunTestIni(L"C:\\m\\downloader.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 5u);
    ExpectBox(shown[0], L"Error checking file: tw.war\n\nThe size is 4 bytes; the expected size is 3 bytes.", L"Error",
              MbIcon::None);
    ExpectBox(shown[1], L"Error checking file: unzip.exe" + kUnreadable, L"Error", MbIcon::None);
    ExpectBox(shown[2], L"Error checking file: tomcat.zip" + kNoSize, L"Error", MbIcon::None);
    ExpectBox(shown[3], L"Error checking file: base.zip" + kNoSize, L"Error", MbIcon::None);
    ExpectBox(shown[4], L"One or more files failed testing. Check size, and MD5SUM", L"Error", MbIcon::Warning);
}

TEST_F(VerificationTest, AllGoodFilesPassWithOrWithoutTrailingBackslash) {
    Put(L"C:\\m\\downloader.ini", "[JRE]\nFILE_NAME=jre.exe\nFILE_SIZE=5\nFILE_MD5SUM=" + k12345Md5 +
                                      "\n[TW]\nFILE_NAME=\"tw.war\"\nFILE_SIZE= 2 \nFILE_MD5SUM= 187ef4436122d1cc2f40dc2b92f0eba0 \n");
    Put(L"C:\\files\\jre.exe", "12345");
    Put(L"C:\\files\\tw.war", "ab");
    for (const wchar_t* folder : {L"C:\\files", L"C:\\files\\"}) {
        boxes.Clear();
        auto shown = RunTestIni(L"C:\\m\\downloader.ini", folder);
        ASSERT_EQ(shown.size(), 1u) << folder;
        ExpectBox(shown[0], L"All Files Passed Verification", L"Notice", MbIcon::Information);
    }
}

TEST_F(VerificationTest, ManifestWithoutFileNamesPasses) {
    Put(L"C:\\m\\downloader.ini", "[GENERAL]\nVERSION=1\n[JRE]\nFILE_SIZE=5\n");
    auto shown = RunTestIni(L"C:\\m\\downloader.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 1u);
    ExpectBox(shown[0], L"All Files Passed Verification", L"Notice", MbIcon::Information);
    boxes.Clear();
    Put(L"C:\\m\\empty.ini", "");
    shown = RunTestIni(L"C:\\m\\empty.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 1u);
    ExpectBox(shown[0], L"All Files Passed Verification", L"Notice", MbIcon::Information);
}

TEST_F(VerificationTest, UnreadableManifestIsAnErrorNamingItNeverAPass) {
    auto shown = RunTestIni(L"C:\\m\\missing.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 1u);
    ExpectBox(shown[0], L"Cannot read manifest file: C:\\m\\missing.ini", L"Error", MbIcon::Warning);

    // A folder given as the manifest cannot be read either.
    boxes.Clear();
    std::filesystem::create_directories(fs.HostPath(L"C:\\m\\dir.ini"));
    shown = RunTestIni(L"C:\\m\\dir.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Cannot read manifest file: C:\\m\\dir.ini");

    // No arguments after the mode word.
    boxes.Clear();
    env.SetArguments({L"C:\\Downloads\\Tidestart.exe", L"/TestIni"});
    RunTidestart(DefaultModeHandlers());
    shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 1u);
    ExpectBox(shown[0], L"No manifest file was given.", L"Error", MbIcon::Warning);
}

TEST_F(VerificationTest, FailingFileIsNamedByItsFileNameOnly) {
    Put(L"C:\\m\\downloader.ini", "[TW]\nFILE_NAME=sub\\tw.war\nFILE_SIZE=9\n");
    auto shown = RunTestIni(L"C:\\m\\downloader.ini", L"C:\\files");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, L"Error checking file: sub\\tw.war" + kUnreadable);
}

TEST_F(VerificationTest, SizesAreCountedInSixtyFourBits) {
    // A file 4 GiB longer than announced (sparse: nothing is written) must
    // not pass for the announced one by the low 32 bits of its size.
    Put(L"C:\\dl\\big.bin", "");
    std::filesystem::resize_file(fs.HostPath(L"C:\\dl\\big.bin"), (uint64_t{1} << 32) + 5);
    EXPECT_EQ(LocalFileSize(L"C:\\dl\\big.bin"), (uint64_t{1} << 32) + 5);
    EXPECT_FALSE(CheckFileSize(L"C:\\dl\\big.bin", 5));
    EXPECT_FALSE(ComponentFileComplete(L"C:\\dl\\big.bin", 5, k12345MD5W));
}

TEST_F(VerificationTest, TestIniChecksTheDigestsAndNamesEachFailure) {
    const std::string sha = "5994471abb01112afcc18159f6cc74b4f511b99806da59b3caf5a9c173cacfc5";  // of "12345"
    const std::string other(64, '0');
    struct Row {
        const char* what;
        std::string keys;  // after FILE_NAME and FILE_SIZE=5
        std::wstring why;  // empty: passes
    } rows[] = {
        {"size and MD5 right", "FILE_MD5SUM=" + k12345Md5, L""},
        {"MD5 in upper case, SHA-256 right", "FILE_MD5SUM=827CCB0EEA8A706C4C34A16891F84E7B\nFILE_SHA256=" + sha, L""},
        {"junk of the right size", "FILE_MD5SUM=00000000000000000000000000000000",
         L"The computed MD5Sum is 827CCB0EEA8A706C4C34A16891F84E7B\nThe expected MD5Sum is 00000000000000000000000000000000"},
        {"no MD5", "", L"The manifest gives no FILE_MD5SUM for it."},
        {"SHA-256 differs", "FILE_MD5SUM=" + k12345Md5 + "\nFILE_SHA256=" + other,
         L"The computed SHA-256 is " + Utf8ToWide(sha) + L"\nThe expected SHA-256 is " + Utf8ToWide(other)},
        {"both differ", "FILE_MD5SUM=00000000000000000000000000000000\nFILE_SHA256=" + other,
         L"The computed MD5Sum is 827CCB0EEA8A706C4C34A16891F84E7B\nThe expected MD5Sum is 00000000000000000000000000000000"
         L"\nThe computed SHA-256 is " + Utf8ToWide(sha) + L"\nThe expected SHA-256 is " + Utf8ToWide(other)},
    };
    Put(L"C:\\files\\jre.exe", "12345");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        boxes.Clear();
        Put(L"C:\\m\\downloader.ini", "[JRE]\nFILE_NAME=jre.exe\nFILE_SIZE=5\n" + r.keys + "\n");
        auto shown = RunTestIni(L"C:\\m\\downloader.ini", L"C:\\files");
        if (r.why.empty()) {
            ASSERT_EQ(shown.size(), 1u);
            ExpectBox(shown[0], L"All Files Passed Verification", L"Notice", MbIcon::Information);
            continue;
        }
        ASSERT_EQ(shown.size(), 2u);
        ExpectBox(shown[0], L"Error checking file: jre.exe\n\n" + r.why, L"Error", MbIcon::None);
        ExpectBox(shown[1], L"One or more files failed testing. Check size, and MD5SUM", L"Error", MbIcon::Warning);
    }
}
