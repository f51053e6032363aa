// The install-directory checks: every alias of a refused folder refused,
// the characters the scripts cannot carry named, a folder with other files
// refused, the installation's mark and the protected access list of the
// folder the installer creates.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/encoding.h"
#include "core/install_dir_guard.h"
#include "core/settings.h"
#include "platform/fake/fake_paths.h"
#include "release_fixture.h"

namespace tide::testing {
namespace {

using platform::fake::FakePaths;

struct InstallDirGuardTest : ::testing::Test {
    FakeMachine m;
    FakePaths paths;
    platform::ScopedPort<platform::Paths> pathsPort{paths};

    InstallDirGuardTest() {
        m.env.SetVariable(L"SystemRoot", L"C:\\WINDOWS");
        m.env.SetVariable(L"USERPROFILE", L"C:\\Users\\admin");
        m.env.SetExecutablePath(L"C:\\Users\\admin\\Downloads\\Tidestart.EXE");
        const std::pair<int, const wchar_t*> known[] = {
            {platform::kCsidlWindows, L"C:\\Windows"},
            {platform::kCsidlSystem, L"C:\\Windows\\System32"},
            {platform::kCsidlProgramFiles, L"C:\\Program Files"},
            {platform::kCsidlProgramFilesX86, L"C:\\Program Files (x86)"},
            {platform::kCsidlProgramFilesCommon, L"C:\\Program Files\\Common Files"},
            {platform::kCsidlProfile, L"C:\\Users\\admin"},
            {platform::kCsidlPersonal, L"C:\\Users\\admin\\Documents"},
            {platform::kCsidlDesktop, L"C:\\Users\\admin\\Desktop"},
            {platform::kCsidlAppData, L"C:\\Users\\admin\\AppData\\Roaming"},
            {platform::kCsidlLocalAppData, L"C:\\Users\\admin\\AppData\\Local"},
            {platform::kCsidlCommonAppData, L"C:\\ProgramData"},
            {platform::kCsidlCommonDocuments, L"C:\\Users\\Public\\Documents"},
        };
        for (const auto& [csidl, path] : known) paths.SetKnownFolder(csidl, path);
        paths.SetAlias(L"C:\\PROGRA~1", L"C:\\Program Files");
        paths.SetAlias(L"C:\\Users\\ADMIN~1", L"C:\\Users\\admin");
        paths.SetAlias(L"D:\\APPS~1\\TIDEWE~1", L"D:\\Apps\\Tidewell");
    }
};

TEST_F(InstallDirGuardTest, AliasesOfRefusedFoldersAreRefused) {
    const std::pair<const wchar_t*, bool> rows[] = {
        {L"C:\\Program Files\\Quorvan Labs\\Tidewell\\", true},
        {L"C:\\PROGRA~1\\Quorvan Labs\\Tidewell", true},
        {L"D:\\APPS~1\\TIDEWE~1\\", true},
        {L"\\\\?\\D:\\Apps\\Tidewell", true},
        {L"C:\\Apps\\.\\Tidewell", true},
        {L"C:\\Program Files.\\", false},
        {L"C:\\PROGRA~1\\", false},
        {L"c:/progra~1", false},
        {L"C:\\Program Files \\", false},
        {L"C:\\Windows.\\System32", false},
        {L"\\\\?\\C:\\Windows\\System32", false},
        {L"\\\\.\\C:\\Program Files", false},
        {L"C:\\Apps\\..\\Windows\\Temp\\Tidewell", false},
        {L"C:\\Users\\admin.\\", false},
        {L"C:\\Users\\ADMIN~1", false},
        {L"C:\\Users\\admin\\Documents", false},
        {L"C:\\Users\\admin\\Desktop\\", false},
        {L"C:\\Users\\admin\\AppData", false},
        {L"C:\\Users\\admin\\AppData\\Roaming", false},
        {L"C:\\ProgramData\\", false},
        {L"C:\\Program Files\\Common Files", false},
        {L"C:\\Users\\Public\\Documents", false},
        {L"C:\\Users\\Public", false},
        {L"C:\\Documents and Settings", false},
        {L"C:\\Documents and Settings\\admin", false},
        {L"C:\\Program Files (x86)", false},
        {L"\\\\?\\UNC\\server\\share\\Tidewell", false},
        {L"C:\\Apps\\...\\Tidewell", false},
        {L"C:\\Apps\\x:stream", false},
    };
    for (const auto& [path, ok] : rows) EXPECT_EQ(IsOwnableInstallDirectory(path), ok) << WideToUtf8(path);
    EXPECT_EQ(CanonicalPath(L"c:/PROGRA~1/Quorvan Labs./Tidewell.. /"), L"C:\\Program Files\\Quorvan Labs\\Tidewell");
    EXPECT_EQ(CanonicalPath(L"c:\\"), L"C:\\");
}

TEST_F(InstallDirGuardTest, CharactersTheScriptsCannotCarryAreNamed) {
    for (const wchar_t c : {L'&', L'%', L'^', L'!', L'"'}) {
        const std::wstring path = std::wstring(L"D:\\Apps\\R") + c + L"D\\Tidewell";
        const InstallDirCheck check = CheckInstallDirectory(path);
        EXPECT_FALSE(check.ok);
        EXPECT_NE(check.refusal.find(std::wstring(L"holds the character ") + c + L","), std::wstring::npos)
            << WideToUtf8(check.refusal);
        EXPECT_EQ(check.refusal, UnsafeCharacterText(path, c));
    }
    EXPECT_TRUE(CheckInstallDirectory(L"D:\\Apps\\R(and)D #1 @home\\Tidewell").ok);
}

TEST_F(InstallDirGuardTest, AFolderHoldingOtherFilesIsRefused) {
    struct Row {
        const wchar_t* file;      // put into D:\Apps\Tidewell first (none: the folder is missing)
        const wchar_t* recorded;  // AppPath of an earlier installation
        bool ok;
    };
    const Row rows[] = {
        {nullptr, L"", true},
        {L"", L"", true},  // empty
        {L"notes.txt", L"", false},
        {L"downloader.ini", L"", false},            // looks like one, but not the recorded installation
        {L"downloader.ini", L"D:\\APPS~1\\TIDEWE~1\\", true},  // an earlier installer's, unmarked
        {L"TCBase\\conf.txt", L"D:\\Apps\\Tidewell\\", true},
        {L"Tidestart.id", L"", true},                 // marked
        {L"Tidestart.EXE", L"", false},               // another program of that name
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file ? WideToUtf8(row.file) : "missing");
        platform::fake::ScopedFakeMachine fresh;
        SaveInstallDirectory(row.recorded);
        if (row.file) m.MakeDirs(L"D:\\Apps\\Tidewell");
        if (row.file && *row.file) {
            const std::wstring f = std::wstring(L"D:\\Apps\\Tidewell\\") + row.file;
            m.MakeDirs(f.substr(0, f.rfind(L'\\')));
            m.WriteFile(f, "x");
        }
        const InstallDirCheck check = CheckInstallDirectory(L"d:\\Apps\\Tidewell");
        EXPECT_EQ(check.ok, row.ok);
        EXPECT_EQ(check.refusal, row.ok ? L"" : ForeignFolderText(L"D:\\Apps\\Tidewell\\"));
        std::filesystem::remove_all(m.fs.HostPath(L"D:\\Apps"));
    }
    // The folder the installer was saved into and started from.
    m.env.SetExecutablePath(L"D:\\Apps\\Tidewell\\Tidestart.EXE");
    m.MakeDirs(L"D:\\Apps\\Tidewell");
    m.WriteFile(L"D:\\Apps\\Tidewell\\Tidestart.EXE", "MZ");
    EXPECT_TRUE(CheckInstallDirectory(L"D:\\Apps\\Tidewell\\").ok);
}

TEST_F(InstallDirGuardTest, TheCreatedFolderIsProtectedAndMarked) {
    m.MakeDirs(L"D:\\Existing");
    ASSERT_TRUE(CreateInstallDirectory(L"D:\\Apps\\Tidewell\\"));
    ASSERT_TRUE(CreateInstallDirectory(L"D:\\Existing\\Tidewell\\"));
    ASSERT_TRUE(CreateInstallDirectory(L"D:\\Existing\\Tidewell\\"));
    EXPECT_EQ(paths.Protected(), (std::vector<std::wstring>{L"D:\\Apps", L"D:\\Existing\\Tidewell"}));

    ASSERT_TRUE(MarkInstallation(L"D:\\Apps\\Tidewell\\"));
    const std::wstring id = ReadSetting(kInstallIdSetting);
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(ReadInstallMarker(L"D:\\Apps\\Tidewell\\"), id);
    ASSERT_TRUE(MarkInstallation(L"D:\\Apps\\Tidewell\\"));  // an upgrade keeps the mark
    EXPECT_EQ(ReadSetting(kInstallIdSetting), id);
    ASSERT_TRUE(MarkInstallation(L"D:\\Existing\\Tidewell\\"));  // another folder: a new identity
    EXPECT_NE(ReadSetting(kInstallIdSetting), id);
}

}  // namespace
}  // namespace tide::testing
