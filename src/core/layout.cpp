#include "core/layout.h"

#include "core/manifest.h"
#include "core/settings.h"
#include "base/text.h"
#include "platform/files.h"

namespace tide {

bool IsBareFileName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    // Windows drops trailing dots and blanks from a name, so ".. " or "..."
    // could end up meaning "..": refuse them all.
    if (name.back() == L'.' || name.back() == L' ') return false;
    for (wchar_t c : name) {
        if (c < 0x20) return false;
        switch (c) {
            case L'\\': case L'/': case L':': case L'<': case L'>':
            case L'"': case L'|': case L'?': case L'*':
                return false;
            default: break;
        }
    }
    return true;
}

bool IsContainedRelativePath(const std::wstring& path) {
    if (path.empty() || path[0] == L'\\' || path[0] == L'/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring part = path.substr(start, end - start);
        // An empty part is a doubled or trailing separator: harmless.
        if (!part.empty() && !IsBareFileName(part)) {
            if (part != L".") return false;
        }
        start = end + 1;
    }
    return true;
}

std::wstring CheckedComponentFileName(const std::wstring& component) {
    std::wstring name = ComponentFileName(component);
    if (!IsBareFileName(name))
        throw ManifestError(L"The release manifest names the file of component " + component + L" as \"" + name +
                            L"\". A component's FILE_NAME must be a plain file name without a folder; the component "
                            L"is not installed.");
    return name;
}

std::wstring ComponentFilePath(const std::wstring& component) {
    return InstallDirectory() + CheckedComponentFileName(component);
}

std::wstring ServerBaseDir(bool withTrailingBackslash) {
    return InstallDirectory() + L"TCBase" + (withTrailingBackslash ? L"\\" : L"");
}

std::wstring TomcatHomeDir(bool withTrailingBackslash) {
    std::wstring unpack = ManifestValue(L"TOMCAT", L"UNPACK_PATH");
    // The layout joins UNPACK_PATH onto the install directory; a path that
    // is absolute or climbs out with ".." would make Tomcat's unpacking and
    // its later removal reach outside it, so such a manifest is refused.
    if (!unpack.empty() && !IsContainedRelativePath(unpack))
        throw ManifestError(L"The release manifest gives UNPACK_PATH \"" + unpack +
                            L"\" in section [TOMCAT]. It must be a folder inside the install directory; Tomcat is "
                            L"not installed.");
    return InstallDirectory() + unpack + (withTrailingBackslash ? L"\\" : L"");
}

std::wstring VersionedAppDir() {
    std::wstring version = ManifestValue(L"TW", L"FILE_VERSION");
    std::wstring name = L"tidewell-" + version;
    std::wstring bare = EndsWith(name, L"\\") ? name.substr(0, name.size() - 1) : name;
    if (!IsBareFileName(bare))
        throw ManifestError(L"The release manifest gives FILE_VERSION \"" + version +
                            L"\" in section [TW], which cannot be part of a folder name; the application is not "
                            L"installed.");
    return AddTrailingBackslash(InstallDirectory() + name);
}

std::wstring InstalledVersionDir(const std::wstring& version) { return InstallDirectory() + L"tidewell-" + version; }

std::wstring OldLayoutAppDir() { return InstallDirectory() + L"TCBase\\webapps\\calendar"; }

std::wstring AttachmentDir() { return AddTrailingBackslash(InstallDirectory()) + L"UploadedAttachments"; }

bool CreateDirectoryTree(const std::wstring& path) {
    auto& files = platform::Files();
    std::wstring p = Trim(path);
    if (p.empty()) return false;
    if (files.DirectoryExists(p)) return true;
    if (EndsWith(p, L"\\")) p.pop_back();
    if (EndsWith(p, L":")) return false;
    if (files.MakeDirectory(p)) return true;
    size_t slash = LastDelimiter(L'\\', p);
    if (slash == 0) return false;
    if (!CreateDirectoryTree(LeftStr(p, slash - 1))) return false;
    return files.MakeDirectory(p);
}

}  // namespace tide
