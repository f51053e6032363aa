#include "core/install_dir_guard.h"

#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace tide {

const wchar_t kInstallMarkerName[] = L"Tidestart.id";
const wchar_t kInstallIdSetting[] = L"InstallationId";

namespace {

bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// "\" for "/", and the "\\?\" or "\\.\" prefix dropped: both reach the same
// file as the plain path, the first only skipping the normalisation done
// below anyway. None for a UNC or device path behind the prefix.
std::optional<std::wstring> Plain(const std::wstring& path) {
    std::wstring p = path;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    if (p.rfind(L"\\\\?\\", 0) == 0 || p.rfind(L"\\\\.\\", 0) == 0 || p.rfind(L"\\??\\", 0) == 0) p = p.substr(4);
    if (p.size() < 3 || !IsLetter(p[0]) || p[1] != L':' || p[2] != L'\\') return std::nullopt;
    for (size_t i = 0; i < p.size(); ++i) {
        const wchar_t c = p[i];
        if (c < 0x20 || (i > 1 && c == L':') || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'|' ||
            c == L'"')
            return std::nullopt;
    }
    return p;
}

// The names of a plain path after its "X:\", with "." and ".." resolved and
// trailing dots and blanks dropped; none when a name is nothing but dots
// and blanks (other than "." and "..").
std::optional<std::vector<std::wstring>> Names(const std::wstring& plain) {
    std::vector<std::wstring> names;
    size_t i = 3;
    while (i <= plain.size()) {
        size_t j = plain.find(L'\\', i);
        if (j == std::wstring::npos) j = plain.size();
        std::wstring name = plain.substr(i, j - i);
        i = j + 1;
        if (name.empty() || name == L".") continue;
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
        if (name.empty()) return std::nullopt;
        names.push_back(name);
    }
    return names;
}

std::wstring Join(const std::wstring& drive, const std::vector<std::wstring>& names, size_t count) {
    std::wstring out = drive;  // "X:\"
    for (size_t k = 0; k < count; ++k) out += (k ? L"\\" : L"") + names[k];
    return out;
}

std::wstring Key(const std::wstring& canonical) { return LowerCase(canonical); }

bool IsInside(const std::wstring& key, const std::wstring& folder) {
    if (folder.empty() || key.size() <= folder.size() || key.compare(0, folder.size(), folder) != 0) return false;
    return folder.back() == L'\\' || key[folder.size()] == L'\\';
}

std::wstring ParentOf(const std::wstring& canonical) {
    const size_t cut = canonical.rfind(L'\\');
    if (cut == std::wstring::npos || cut < 3) return canonical.size() > 3 ? canonical.substr(0, 3) : std::wstring();
    return canonical.substr(0, cut);
}

// The folders that can never be an install directory: the first list with
// everything inside them, the second only themselves. Keys (lower case,
// canonical).
struct SystemFolders {
    std::vector<std::wstring> withInside;
    std::vector<std::wstring> exact;
};

SystemFolders TheSystemFolders() {
    SystemFolders f;
    auto add = [](std::vector<std::wstring>& to, const std::wstring& path) {
        if (path.empty()) return;
        if (auto c = CanonicalPath(path)) to.push_back(Key(*c));
    };
    platform::Environment& env = platform::Env();
    platform::Paths& paths = platform::PathOps();
    const std::wstring windows = paths.KnownFolder(platform::kCsidlWindows);
    for (const std::wstring& w :
         {windows, paths.KnownFolder(platform::kCsidlSystem), env.Variable(L"SystemRoot"), env.Variable(L"windir")})
        add(f.withInside, w);
    for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"USERPROFILE", L"PUBLIC",
                                L"ALLUSERSPROFILE", L"CommonProgramFiles", L"CommonProgramFiles(x86)",
                                L"CommonProgramW6432", L"APPDATA", L"LOCALAPPDATA", L"ProgramData", L"TEMP", L"TMP"})
        add(f.exact, env.Variable(name));
    static const int kKnown[] = {
        platform::kCsidlDesktop,          platform::kCsidlPersonal,          platform::kCsidlFavorites,
        platform::kCsidlStartup,          platform::kCsidlRecent,            platform::kCsidlSendTo,
        platform::kCsidlStartMenu,        platform::kCsidlMusic,             platform::kCsidlVideo,
        platform::kCsidlNetHood,          platform::kCsidlFonts,             platform::kCsidlTemplates,
        platform::kCsidlCommonStartMenu,  platform::kCsidlCommonProgramsFolder, platform::kCsidlCommonStartup,
        platform::kCsidlCommonDesktop,    platform::kCsidlAppData,           platform::kCsidlPrintHood,
        platform::kCsidlLocalAppData,     platform::kCsidlCommonFavorites,   platform::kCsidlInternetCache,
        platform::kCsidlCookies,          platform::kCsidlHistory,           platform::kCsidlCommonAppData,
        platform::kCsidlProgramFiles,     platform::kCsidlPictures,          platform::kCsidlProfile,
        platform::kCsidlProgramFilesX86,  platform::kCsidlProgramFilesCommon, platform::kCsidlProgramFilesCommonX86,
        platform::kCsidlCommonTemplates,  platform::kCsidlCommonDocuments,   platform::kCsidlCommonAdminTools,
        platform::kCsidlAdminTools,       platform::kCsidlCommonMusic,       platform::kCsidlCommonPictures,
        platform::kCsidlCommonVideo,      platform::kCsidlResources,         platform::kCsidlCdBurnArea,
    };
    for (int csidl : kKnown) add(f.exact, paths.KnownFolder(csidl));
    // The folders that hold these: the profiles folder, "AppData", the
    // folder of the public documents.
    for (const std::wstring& child : {env.Variable(L"USERPROFILE"), paths.KnownFolder(platform::kCsidlProfile),
                                      env.Variable(L"PUBLIC"), env.Variable(L"APPDATA"), env.Variable(L"LOCALAPPDATA"),
                                      paths.KnownFolder(platform::kCsidlAppData),
                                      paths.KnownFolder(platform::kCsidlLocalAppData),
                                      paths.KnownFolder(platform::kCsidlCommonDocuments)})
        if (auto c = CanonicalPath(child)) add(f.exact, ParentOf(*c));
    // What a system drive holds at its root whatever the version of
    // Windows; "Documents and Settings" is a junction into the profiles
    // (or the profiles themselves before Vista).
    std::wstring drive = env.Variable(L"SystemDrive");
    if (drive.size() < 2 && windows.size() >= 2) drive = windows.substr(0, 2);
    if (drive.size() < 2) drive = L"C:";
    drive = drive.substr(0, 2) + L"\\";
    add(f.withInside, drive + L"Documents and Settings");
    for (const wchar_t* name : {L"Users", L"ProgramData", L"Program Files", L"Program Files (x86)", L"Recovery",
                                L"System Volume Information", L"$Recycle.Bin", L"Boot", L"PerfLogs"})
        add(f.exact, drive + name);
    return f;
}

std::wstring ReadSmallFile(const std::wstring& path) {
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!file) return std::wstring();
    char buf[256];
    const size_t n = file->Read(buf, sizeof buf);
    return Trim(Utf8ToWide(std::string(buf, n)));
}

// The entries of a folder (without the trailing "\").
std::vector<platform::DirEntry> Entries(const std::wstring& dir) {
    std::vector<platform::DirEntry> entries;
    std::wstring d = dir;
    if (d.size() > 3 && d.back() == L'\\') d.pop_back();
    platform::Files().ListDirectory(d, entries);
    return entries;
}

// An earlier installer's installation, made before installations were
// marked: the recorded install directory holding what that installer put
// there. It is taken over (and marked) by this installation, so upgrades
// keep working; only the recorded folder qualifies, so a foreign folder that
// happens to hold a "downloader.ini" is never adopted.
bool IsUnmarkedEarlierInstallation(const std::wstring& dir) {
    if (!SamePath(dir, InstallDirectory())) return false;
    platform::FileSystem& fs = platform::Files();
    return fs.FileExists(dir + kManifestFileName) || fs.DirectoryExists(dir + L"TCBase") ||
           fs.FileExists(dir + L"Tidestart.EXE");
}

// The folder holds nothing but the program that runs (an administrator
// who saved the installer into the folder he then installs into).
bool HoldsOnlyThisProgram(const std::wstring& dir, const std::vector<platform::DirEntry>& entries) {
    const std::wstring exe = platform::Env().ExecutablePath();
    return entries.size() == 1 && !entries[0].directory && SamePath(ParentOf(exe), dir) &&
           SameText(entries[0].name, exe.substr(exe.rfind(L'\\') + 1));
}

}  // namespace

std::optional<std::wstring> CanonicalPath(const std::wstring& path) {
    const auto plain = Plain(path);
    if (!plain) return std::nullopt;
    const auto full = Plain(platform::PathOps().FullPath(*plain));
    if (!full) return std::nullopt;
    const auto names = Names(*full);
    if (!names) return std::nullopt;
    std::wstring drive = full->substr(0, 3);
    drive[0] = static_cast<wchar_t>(drive[0] & ~0x20);
    // The long form of the longest part that exists; the rest does not
    // exist, so it has no short names.
    for (size_t k = names->size() + 1; k-- > 0;) {
        const std::wstring head = Join(drive, *names, k);
        const auto longer = Plain(platform::PathOps().LongPath(head));
        if (!longer) continue;
        const auto longNames = Names(*longer);
        if (!longNames) continue;
        std::vector<std::wstring> all = *longNames;
        all.insert(all.end(), names->begin() + static_cast<std::ptrdiff_t>(k), names->end());
        return Join(drive, all, all.size());
    }
    return Join(drive, *names, names->size());
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    const auto ca = CanonicalPath(a), cb = CanonicalPath(b);
    return ca && cb && Key(*ca) == Key(*cb);
}

bool IsOwnableInstallDirectory(const std::wstring& path) {
    const auto canonical = CanonicalPath(path);
    if (!canonical || canonical->size() <= 3) return false;  // none, or a drive root
    const std::wstring key = Key(*canonical);
    const SystemFolders folders = TheSystemFolders();
    for (const auto& w : folders.withInside)
        if (key == w || IsInside(key, w)) return false;
    for (const auto& e : folders.exact)
        if (key == e) return false;
    return true;
}

wchar_t UnsafePathCharacter(const std::wstring& path) {
    const size_t at = path.find_first_of(L"&%^!\"");
    return at == std::wstring::npos ? 0 : path[at];
}

std::wstring UnsafeCharacterText(const std::wstring& path, wchar_t c) {
    return L"The install directory " + path + L" holds the character " + std::wstring(1, c) +
           L", which the generated scripts and the server's configuration cannot carry.\nChoose a folder whose path "
           L"has none of the characters & % ^ ! \".";
}

std::wstring ForeignFolderText(const std::wstring& dir) {
    return L"The folder " + dir +
           L" already holds files that are not a Tidewell installation, and the uninstaller could not tell them "
           L"apart.\nChoose an empty or new folder.";
}

InstallDirCheck CheckInstallDirectory(const std::wstring& path) {
    InstallDirCheck r;
    if (const wchar_t c = UnsafePathCharacter(path)) {
        r.refusal = UnsafeCharacterText(path, c);
        return r;
    }
    if (!IsOwnableInstallDirectory(path)) return r;
    r.dir = AddTrailingBackslash(*CanonicalPath(path));
    if (platform::Files().FileExists(r.dir.substr(0, r.dir.size() - 1))) return r;  // a file, not a folder
    const std::vector<platform::DirEntry> entries = Entries(r.dir);
    if (!entries.empty() && !platform::Files().FileExists(r.dir + kInstallMarkerName) &&
        !IsUnmarkedEarlierInstallation(r.dir) && !HoldsOnlyThisProgram(r.dir, entries)) {
        r.refusal = ForeignFolderText(r.dir);
        return r;
    }
    r.ok = true;
    return r;
}

bool CreateInstallDirectory(const std::wstring& dir) {
    std::wstring folder = dir;
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    // The topmost folder that is missing: the one this run creates and
    // protects (a folder that exists already keeps the access list its
    // owner gave it).
    std::wstring topmost;
    for (std::wstring f = folder; f.size() > 3 && !platform::Files().DirectoryExists(f); f = ParentOf(f)) topmost = f;
    if (!CreateDirectoryTree(folder)) return false;
    if (!topmost.empty()) {
        // Failing here leaves the folder with its parent's access list; the
        // installation goes on (the parent is the administrator's choice),
        // and the log says so.
        const bool ok = platform::PathOps().ProtectFolder(topmost);
        LogEntry(L"step", ok ? L"the folder " + topmost + L" was created with a protected access list"
                             : L"the folder " + topmost + L" was created, but its access list could not be set");
    }
    return true;
}

std::wstring ReadInstallMarker(const std::wstring& dir) { return ReadSmallFile(dir + kInstallMarkerName); }

bool MarkInstallation(const std::wstring& dir) {
    const std::wstring recorded = ReadSetting(kInstallIdSetting);
    if (!recorded.empty() && ReadInstallMarker(dir) == recorded) return true;
    std::wstring id = platform::PathOps().NewIdentity();
    if (id.empty()) return false;
    auto file = platform::Files().Open(dir + kInstallMarkerName, platform::OpenMode::CreateAlways, platform::Share::None);
    if (!file) return false;
    const std::string bytes = WideToUtf8(id) + "\r\n";
    file->Write(bytes.data(), bytes.size());
    file.reset();
    WriteSetting(kInstallIdSetting, id);
    LogEntry(L"step", L"installation mark " + id + L" written to " + dir + kInstallMarkerName);
    return true;
}

}  // namespace tide
