// The installation's shortcuts against the fake shell objects: what each
// holds, where it goes, the start and stop pair that follows the service,
// and a user without a recorded Programs folder.
#include <gtest/gtest.h>

#include "system/shortcuts.h"
#include "system_fixture.h"

namespace tide {
namespace {

using testing::SystemFixture;

struct ShortcutsTest : SystemFixture {
    platform::fake::SavedShortcut Link(const std::wstring& name) {
        auto s = links.Saved(std::wstring(kFolder) + name);
        EXPECT_TRUE(s.has_value()) << WideToUtf8(name);
        return s.value_or(platform::fake::SavedShortcut{});
    }
    bool Exists(const std::wstring& name) { return m.fs.FileExists(std::wstring(kFolder) + name); }
};

TEST_F(ShortcutsTest, ProgramShortcuts) {
    SetSetting(L"Port", L"80");
    CreateProgramShortcuts(L"C:\\Downloads\\Tidestart.exe", kApp);

    auto url = Link(L"Tidewell Web Calendar.url");
    EXPECT_TRUE(url.isUrl);
    EXPECT_EQ(url.url, "http://localhost/calendar/");
    EXPECT_EQ(url.urlFlags, platform::kUrlGuessProtocol);

    const std::wstring manual = L"C:\\Apps\\Tidewell\\tidewell-4.2.1\\manual\\en";
    struct Case {
        const wchar_t* file;
        std::wstring target, dir, description;
    } cases[] = {
        {L"Tutorials.lnk", manual + L"\\Tutorials.html", manual, L"Access Shockwave tutorials on using Tidewell"},
        {L"Manual.lnk", manual + L"\\index.html", manual, L"Software Manual"},
        {L"Tidewell Downloader.lnk", L"C:\\Downloads\\Tidestart.exe", kApp, L"Tidewell Installer"},
    };
    for (const auto& c : cases) {
        auto s = Link(c.file);
        EXPECT_EQ(s.path, c.target);
        EXPECT_EQ(s.workingDirectory, c.dir);
        EXPECT_EQ(s.description, c.description);
        EXPECT_EQ(s.arguments, L"");
        EXPECT_FALSE(s.remembered);
    }
    EXPECT_EQ(Setting(L"StartMenuIcon"), std::wstring(kFolder) + L"Tidewell Downloader.lnk");
}

TEST_F(ShortcutsTest, WithoutAProgramsFolderNothingIsMadeAndStartMenuIconIsEmpty) {
    SetSetting(L"StartMenuIcon", L"C:\\old.lnk");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false));
    reg.DeleteValue(L"Programs");
    CreateProgramShortcuts(L"C:\\Downloads\\Tidestart.exe", kApp);
    CreateServiceShortcuts(kApp);
    EXPECT_TRUE(links.SaveLog().empty());
    EXPECT_EQ(Setting(L"StartMenuIcon"), L"");
    EXPECT_EQ(ProgramsFolder(), L"");
}

TEST_F(ShortcutsTest, StartAndStopPairFollowsTheService) {
    const std::wstring home = std::wstring(kHome) + L"\\";
    const std::wstring wrapper = std::wstring(kBase) + L"\\bin\\catalina.bat";
    struct Case {
        const wchar_t* installed;
        const wchar_t *start, *stop, *goneStart, *goneStop;
        std::wstring target, startArgs, stopArgs;
    } cases[] = {
        {L"Y", L"Start Tidewell Service.lnk", L"Stop Tidewell Service.lnk", L"Start Tidewell.lnk", L"Stop Tidewell.lnk",
         L"C:\\Windows\\system32\\net.exe", L"start  Tidewell", L"stop  Tidewell"},
        {L"N", L"Start Tidewell.lnk", L"Stop Tidewell.lnk", L"Start Tidewell Service.lnk", L"Stop Tidewell Service.lnk",
         wrapper, L"start ", L"stop "},
        {L"Y", L"Start Tidewell Service.lnk", L"Stop Tidewell Service.lnk", L"Start Tidewell.lnk", L"Stop Tidewell.lnk",
         L"C:\\Windows\\system32\\net.exe", L"start  Tidewell", L"stop  Tidewell"},
    };
    for (const auto& c : cases) {
        SetSetting(L"ServiceInstalled", c.installed);
        CreateServiceShortcuts(kApp);
        EXPECT_FALSE(Exists(c.goneStart)) << WideToUtf8(c.goneStart);
        EXPECT_FALSE(Exists(c.goneStop)) << WideToUtf8(c.goneStop);
        auto start = Link(c.start), stop = Link(c.stop);
        EXPECT_EQ(start.path, c.target);
        EXPECT_EQ(start.arguments, c.startArgs);
        EXPECT_EQ(stop.arguments, c.stopArgs);
        EXPECT_EQ(start.workingDirectory, home);
        EXPECT_EQ(start.description, std::wstring(c.start).substr(0, std::wstring(c.start).size() - 4));
        auto config = Link(L"Configure Tidewell Service.lnk");
        EXPECT_EQ(config.path, home + L"bin\\tomcat7w.exe");
        EXPECT_EQ(config.arguments, L"//ES//Tidewell");
        EXPECT_EQ(config.workingDirectory, std::wstring(kHome) + L"\\bin");
        EXPECT_EQ(config.description, L"Manage Tidewell Service");
    }
    EXPECT_EQ(search.BufferSizes(), (std::vector<uint32_t>{255, 255}));
}

TEST_F(ShortcutsTest, NetExeOffThePathIsTheSystemFoldersOwn) {
    search.Put(L"NET.EXE", std::wstring(300, L'x'));  // does not fit the buffer
    search.SetSystemDirectory(L"C:\\WINDOWS\\System32");
    SetSetting(L"ServiceInstalled", L"Y");
    CreateServiceShortcuts(kApp);
    EXPECT_EQ(Link(L"Start Tidewell Service.lnk").path, L"C:\\WINDOWS\\System32\\net.exe");
}

TEST_F(ShortcutsTest, NamesFoldersAndFailures) {
    std::wstring path = L"unchanged";
    m.MakeDirs(L"D:\\Links");
    CreateLink(L"C:\\Tools\\run.me.exe", L"", TShortcutLocation::CustomFolder, L"D:\\Links", L"", L"-x", L"", path);
    EXPECT_EQ(path, L"D:\\Links\\run.me.lnk");
    EXPECT_EQ(links.Saved(path)->workingDirectory, L"C:\\Tools");
    CreateLink(L"C:\\top.exe", L"Top", TShortcutLocation::Programs, L"A\\B", L"", L"", L"", path);
    EXPECT_EQ(path, std::wstring(kPrograms) + L"\\A\\B\\Top.lnk");
    EXPECT_EQ(links.Saved(path)->workingDirectory, L"C:\\");

    path = L"unchanged";
    CreateShortcut(L"C:\\x.exe", L"X", false, TShortcutLocation::Desktop, L"", L"", L"", L"", path);
    EXPECT_EQ(path, L"unchanged") << "no Desktop value";

    links.SetCreateFails(static_cast<long>(0x80040154));
    EXPECT_THROW(CreateShortcut(L"http://x/", L"X", true, TShortcutLocation::Programs, L"", L"", L"", L"", path),
                 Error);
    EXPECT_THROW(CreateLink(L"C:\\x.exe", L"X", TShortcutLocation::Programs, L"", L"", L"", L"", path), Error);
}

}  // namespace
}  // namespace tide
