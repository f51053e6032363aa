#include <gtest/gtest.h>

#include "core/layout.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

namespace {

// Records directory creations and can refuse some.
class WatchedFs : public platform::fake::TempFileSystem {
public:
    std::vector<std::wstring> made;
    std::vector<std::wstring> refuse;
    bool MakeDirectory(const std::wstring& path) override {
        for (const auto& r : refuse)
            if (r == path) return false;
        bool ok = TempFileSystem::MakeDirectory(path);
        if (ok) made.push_back(path);
        return ok;
    }
};

TEST(CreateDirectoryTree, MakesMissingParentsFirstAndIgnoresSurroundingBlanks) {
    WatchedFs fs;
    platform::ScopedPort<platform::FileSystem> port(fs);
    EXPECT_TRUE(CreateDirectoryTree(L" D:\\Apps\\Tidewell\\ \t"));
    EXPECT_EQ(fs.made, (std::vector<std::wstring>{L"D:\\Apps", L"D:\\Apps\\Tidewell"}));
    EXPECT_TRUE(fs.DirectoryExists(L"D:\\Apps\\Tidewell"));

    fs.made.clear();
    EXPECT_TRUE(CreateDirectoryTree(L"D:\\Apps\\Tidewell"));
    EXPECT_TRUE(fs.made.empty()) << "an existing directory is left alone";
    EXPECT_TRUE(CreateDirectoryTree(L"D:\\Apps\\Tidewell\\a\\b\\c"));
    EXPECT_EQ(fs.made.size(), 3u);
}

TEST(CreateDirectoryTree, FailsForBareDrivesNamesThatCannotBeMadeAndBlockedLevels) {
    WatchedFs fs;
    platform::ScopedPort<platform::FileSystem> port(fs);
    EXPECT_FALSE(CreateDirectoryTree(L"D:"));
    EXPECT_FALSE(CreateDirectoryTree(L"D:\\"));
    EXPECT_FALSE(CreateDirectoryTree(L"   "));
    fs.refuse = {L"nodir"};
    EXPECT_FALSE(CreateDirectoryTree(L"nodir"));
    fs.refuse = {L"E:\\a"};
    EXPECT_FALSE(CreateDirectoryTree(L"E:\\a\\b\\c"));
    EXPECT_FALSE(fs.DirectoryExists(L"E:\\a\\b"));
    // A file in the way of a level.
    fs.refuse.clear();
    ASSERT_TRUE(CreateDirectoryTree(L"F:\\x"));
    fs.Open(L"F:\\x\\file", platform::OpenMode::CreateAlways, platform::Share::None);
    EXPECT_FALSE(CreateDirectoryTree(L"F:\\x\\file\\sub"));
}

TEST(NameGuards, BareFileNames) {
    for (const wchar_t* ok : {L"UNZIP.EXE", L"tidewell-3.4.16.zip", L"a b.zip", L"..x", L"x..y"})
        EXPECT_TRUE(IsBareFileName(ok)) << WideToUtf8(ok);
    for (const wchar_t* bad : {L"", L".", L"..", L"..\\evil.exe", L"../evil.exe", L"C:evil.exe", L"a\\b", L"a/b",
                               L"x.zip:stream", L"a*b", L"a?b", L"a|b", L"a<b", L"a>b", L"a\"b", L"a\tb", L"...",
                               L".. ", L"evil.exe.", L"evil.exe "})
        EXPECT_FALSE(IsBareFileName(bad)) << WideToUtf8(bad);
}

TEST(NameGuards, ContainedRelativePaths) {
    for (const wchar_t* ok : {L"apache-tomcat-7.0.50", L"tomcat\\x64", L"a/b", L".\\tomcat", L"tomcat\\"})
        EXPECT_TRUE(IsContainedRelativePath(ok)) << WideToUtf8(ok);
    for (const wchar_t* bad : {L"", L"..", L"..\\x", L"a\\..\\..\\b", L"a\\..", L"C:\\Windows", L"C:x", L"\\Windows",
                               L"/etc", L"\\\\server\\share", L"a\\.. \\b", L"a\\...\\b", L"a:b"})
        EXPECT_FALSE(IsContainedRelativePath(bad)) << WideToUtf8(bad);
}

struct LayoutTest : ::testing::Test {
    FakeMachine m;
    void SetUp() override {
        SaveInstallDirectory(L"C:\\Apps\\Tidewell");
        m.MakeDirs(L"C:\\Apps\\Tidewell");
        m.Args({L"/UNINSTALL"});  // read the local copy, never fetch
    }
    void Manifest(const std::string& text) { m.WriteFile(L"C:\\Apps\\Tidewell\\downloader.ini", text); }
};

TEST_F(LayoutTest, PlacesBelowTheInstallDirectory) {
    Manifest("[TW]\r\nFILE_VERSION=3.4.16\r\n[TOMCAT]\r\nUNPACK_PATH=apache-tomcat-7.0.50\r\n"
             "[UNZIP]\r\nFILE_NAME=UNZIP.EXE\r\n");
    EXPECT_EQ(VersionedAppDir(), L"C:\\Apps\\Tidewell\\tidewell-3.4.16\\");
    EXPECT_EQ(ServerBaseDir(false), L"C:\\Apps\\Tidewell\\TCBase");
    EXPECT_EQ(ServerBaseDir(true), L"C:\\Apps\\Tidewell\\TCBase\\");
    EXPECT_EQ(TomcatHomeDir(false), L"C:\\Apps\\Tidewell\\apache-tomcat-7.0.50");
    EXPECT_EQ(TomcatHomeDir(true), L"C:\\Apps\\Tidewell\\apache-tomcat-7.0.50\\");
    EXPECT_EQ(InstalledVersionDir(L"3.4.15"), L"C:\\Apps\\Tidewell\\tidewell-3.4.15");
    EXPECT_EQ(OldLayoutAppDir(), L"C:\\Apps\\Tidewell\\TCBase\\webapps\\calendar");
    EXPECT_EQ(AttachmentDir(), L"C:\\Apps\\Tidewell\\UploadedAttachments");
    EXPECT_EQ(ComponentFilePath(L"UNZIP"), L"C:\\Apps\\Tidewell\\UNZIP.EXE");

    // Read afresh at every call: a new install directory is seen at once.
    SaveInstallDirectory(L"D:\\T\\");
    EXPECT_EQ(ServerBaseDir(true), L"D:\\T\\TCBase\\");
}

TEST_F(LayoutTest, VersionWithTrailingBackslashGetsNoSecondOne) {
    Manifest("[TW]\r\nFILE_VERSION=3.4.16\\\r\n");
    EXPECT_EQ(VersionedAppDir(), L"C:\\Apps\\Tidewell\\tidewell-3.4.16\\");
}

TEST_F(LayoutTest, UnsafeManifestValuesAreRefusedNeverJoined) {
    Manifest("[TW]\r\nFILE_VERSION=..\\..\\Windows\r\n[TOMCAT]\r\nUNPACK_PATH=..\\..\\Windows\r\n"
             "[EVIL]\r\nFILE_NAME=..\\evil.exe\r\n[ABS]\r\nFILE_NAME=C:\\evil.exe\r\n[NONE]\r\nFILE_SIZE=3\r\n");
    EXPECT_THROW(VersionedAppDir(), ManifestError);
    EXPECT_THROW(TomcatHomeDir(true), ManifestError);
    try {
        ComponentFilePath(L"EVIL");
        ADD_FAILURE() << "accepted ..\\evil.exe";
    } catch (const ManifestError& e) {
        EXPECT_NE(e.Message().find(L"EVIL"), std::wstring::npos) << "names the component";
        EXPECT_NE(e.Message().find(L"..\\evil.exe"), std::wstring::npos) << "names the value";
    }
    EXPECT_THROW(ComponentFilePath(L"ABS"), ManifestError);
    EXPECT_THROW(ComponentFilePath(L"NONE"), ManifestError) << "no FILE_NAME would be the directory itself";

    Manifest("[TOMCAT]\r\nUNPACK_PATH=C:\\Windows\r\n");
    EXPECT_THROW(TomcatHomeDir(false), ManifestError);
    Manifest("[TOMCAT]\r\nUNPACK_PATH=\\\\server\\share\r\n");
    EXPECT_THROW(TomcatHomeDir(false), ManifestError);
}

}  // namespace
