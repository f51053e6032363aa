#include "system/shortcuts.h"

#include "base/encoding.h"
#include "base/error.h"
#include "base/text.h"
#include "core/ArchAwareRegistry.h"
#include "core/layout.h"
#include "core/settings.h"
#include "platform/files.h"
#include "platform/program_search.h"
#include "platform/shell_links.h"
#include "system/VariousTests.h"

namespace tide {

const wchar_t kShortcutFolderName[] = L"Tidewell Web Calendar";

namespace {

const wchar_t kExplorerKey[] = L"Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer";
const wchar_t kGrpConvKey[] = L"Software\\MicroSoft\\Windows\\CurrentVersion\\GrpConv";
const wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr uint32_t kSearchPathBuffer = 255;

// Value of subKey below key in HKEY_CURRENT_USER; key is made when missing,
// the value is only read.
std::wstring UserFolderValue(const wchar_t* key, const wchar_t* subKey, const wchar_t* name) {
    TRegistry reg;
    if (!reg.OpenKey(key, true)) return std::wstring();
    if (!reg.OpenKey(subKey, false)) return std::wstring();
    return reg.ReadString(name);
}

std::wstring LocationFolder(TShortcutLocation location, const std::wstring& subFolder) {
    switch (location) {
        case TShortcutLocation::Desktop: return UserFolderValue(kExplorerKey, L"Shell Folders", L"Desktop");
        case TShortcutLocation::QuickLaunch: return UserFolderValue(kGrpConvKey, L"MapGroups", L"Quick Launch");
        case TShortcutLocation::SendTo: return UserFolderValue(kExplorerKey, L"Shell Folders", L"SendTo");
        case TShortcutLocation::StartMenu: return UserFolderValue(kExplorerKey, L"Shell Folders", L"Start Menu");
        case TShortcutLocation::CustomFolder: return subFolder;
        case TShortcutLocation::Programs: return UserFolderValue(kExplorerKey, L"Shell Folders", L"Programs");
    }
    return std::wstring();
}

// The last path element and what comes before it.
std::wstring FileNamePart(const std::wstring& path) { return path.substr(path.find_last_of(L"\\:") + 1); }

std::wstring DirectoryPart(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\:");
    if (slash == std::wstring::npos) return std::wstring();
    // "C:\file" lives in "C:\", not in the drive-relative "C:".
    if (slash > 0 && path[slash - 1] == L':') return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::wstring WithLinkExtension(const std::wstring& fileName) {
    size_t dot = fileName.rfind(L'.');
    return (dot == std::wstring::npos ? fileName : fileName.substr(0, dot)) + L".lnk";
}

[[noreturn]] void ObjectFailed(const wchar_t* what, long hr) {
    throw Error(std::wstring(L"The shell's ") + what + L" object could not be created (" +
                Format(L"0x%08lX", static_cast<unsigned long>(hr)) + L").");
}

// NET.EXE along the search path, else the system folder's: a shortcut that
// names a program by its full path keeps working whatever PATH the user
// who clicks it has.
std::wstring NetProgram() {
    std::wstring net = platform::Programs().FindOnSearchPath(L"NET.EXE", kSearchPathBuffer);
    if (!net.empty()) return net;
    return platform::Programs().SystemDirectory() + L"\\net.exe";
}

}  // namespace

void CreateShortcut(const std::wstring& target, const std::wstring& linkName, bool isUrl,
                    TShortcutLocation location, const std::wstring& subFolder, const std::wstring& workingDirectory,
                    const std::wstring& arguments, const std::wstring& description, std::wstring& linkPath) {
    long hr = 0;
    std::unique_ptr<platform::InternetShortcut> url;
    std::unique_ptr<platform::ShellLink> link;
    if (isUrl) {
        url = platform::Shortcuts().NewInternetShortcut(hr);
        if (!url) ObjectFailed(L"Internet shortcut", hr);
        url->SetURL(WideToAnsi(target), platform::kUrlGuessProtocol);
    } else {
        link = platform::Shortcuts().NewShellLink(hr);
        if (!link) ObjectFailed(L"shell link", hr);
        // The target stays UTF-16 all the way: a path with characters
        // outside the ANSI code page still reaches its program.
        link->SetPath(target);
        link->SetArguments(arguments);
        link->SetDescription(description);
    }

    std::wstring fileName = linkName.empty() ? WithLinkExtension(FileNamePart(target))
                                             : linkName + (isUrl ? L".url" : L".lnk");
    std::wstring folder = LocationFolder(location, subFolder);
    if (folder.empty()) return;
    std::wstring file;
    if (!subFolder.empty() && location != TShortcutLocation::CustomFolder) {
        CreateDirectoryTree(folder + L"\\" + subFolder);
        file = folder + L"\\" + subFolder + L"\\" + fileName;
    } else {
        file = folder + L"\\" + fileName;
    }

    if (url) {
        url->Save(file, false);
    } else {
        link->SetWorkingDirectory(workingDirectory.empty() ? DirectoryPart(target) : workingDirectory);
        link->Save(file, false);
    }
    linkPath = file;
}

void CreateLink(const std::wstring& target, const std::wstring& linkName, TShortcutLocation location,
                const std::wstring& subFolder, const std::wstring& workingDirectory, const std::wstring& arguments,
                const std::wstring& description, std::wstring& linkPath) {
    CreateShortcut(target, linkName, false, location, subFolder, workingDirectory, arguments, description, linkPath);
}

std::wstring ProgramsFolder() {
    TRegistry reg(KEY_READ);
    if (!reg.OpenKey(kShellFoldersKey, false)) return std::wstring();
    return reg.ReadString(L"Programs");
}

void CreateProgramShortcuts(const std::wstring& installerPath, const std::wstring& installDirectory) {
    const auto programs = TShortcutLocation::Programs;
    const std::wstring manual = VersionedAppDir() + L"manual\\en\\";
    std::wstring ignored;
    // An Internet shortcut has no description: "Run Tidewell" goes nowhere.
    CreateShortcut(ServerURL(), L"Tidewell Web Calendar", true, programs, kShortcutFolderName, L"", L"",
                   L"Run Tidewell", ignored);
    CreateLink(manual + L"Tutorials.html", L"Tutorials", programs, kShortcutFolderName, L"", L"",
               L"Access Shockwave tutorials on using Tidewell", ignored);
    CreateLink(manual + L"index.html", L"Manual", programs, kShortcutFolderName, L"", L"", L"Software Manual",
               ignored);
    std::wstring installer;
    CreateLink(installerPath, L"Tidewell Downloader", programs, kShortcutFolderName, installDirectory, L"",
               L"Tidewell Installer", installer);
    WriteSetting(L"StartMenuIcon", installer);
}

void CreateServiceShortcuts(const std::wstring& /*installDirectory*/) {
    std::wstring startName = L"Start Tidewell";
    std::wstring stopName = L"Stop Tidewell";
    std::wstring suffix;
    std::wstring target;
    if (IsServiceInstalled()) {
        suffix = L" Tidewell";
        startName += L" Service";
        stopName += L" Service";
        target = NetProgram();
    } else {
        target = ServerBaseDir(true) + L"bin\\catalina.bat";
    }

    std::wstring programs = ProgramsFolder();
    if (!programs.empty()) {
        std::wstring folder = programs + L"\\" + kShortcutFolderName + L"\\";
        for (const wchar_t* name : {L"Start Tidewell", L"Stop Tidewell"}) {
            platform::Files().RemoveFile(folder + name + L".lnk");
            platform::Files().RemoveFile(folder + name + L" Service.lnk");
        }
    }

    const auto loc = TShortcutLocation::Programs;
    const std::wstring home = TomcatHomeDir(true);
    std::wstring ignored;
    CreateLink(home + L"bin\\tomcat7w.exe", L"Configure Tidewell Service", loc, kShortcutFolderName, L"",
               L"//ES//Tidewell", L"Manage Tidewell Service", ignored);
    CreateLink(target, startName, loc, kShortcutFolderName, home, L"start " + suffix, startName, ignored);
    CreateLink(target, stopName, loc, kShortcutFolderName, home, L"stop " + suffix, stopName, ignored);
}

}  // namespace tide
