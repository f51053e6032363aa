#include "core/install_dir_guard.h"

#include <vector>

#include "base/text.h"
#include "platform/environment.h"

namespace tide {
namespace {

// Lower case, "\" for "/", no doubled and no trailing separator: "c:\a\b"
// ("c:" for a root).
std::wstring Normal(const std::wstring& path) {
    std::wstring out;
    for (wchar_t c : LowerCase(path)) {
        if (c == L'/') c = L'\\';
        if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
        out += c;
    }
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

bool HasDotComponent(const std::wstring& normal) {
    size_t i = 0;
    while (i <= normal.size()) {
        size_t j = normal.find(L'\\', i);
        if (j == std::wstring::npos) j = normal.size();
        std::wstring part = normal.substr(i, j - i);
        if (part == L"." || part == L"..") return true;
        i = j + 1;
    }
    return false;
}

bool IsInside(const std::wstring& normal, const std::wstring& folder) {
    return !folder.empty() && normal.size() > folder.size() && normal.compare(0, folder.size(), folder) == 0 &&
           normal[folder.size()] == L'\\';
}

}  // namespace

bool IsOwnableInstallDirectory(const std::wstring& path) {
    // "X:\" and more; "X:" alone or "X:name" (relative to that drive's
    // current folder) are not places of their own.
    if (path.size() < 3 || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/')) return false;
    const std::wstring normal = Normal(path);
    if (normal.size() <= 2) return false;  // the drive root
    if (HasDotComponent(normal)) return false;

    auto var = [](const wchar_t* name) { return Normal(platform::Env().Variable(name)); };
    const std::wstring windows[] = {var(L"SystemRoot"), var(L"windir")};
    for (const auto& w : windows)
        if (!w.empty() && (normal == w || IsInside(normal, w))) return false;

    std::vector<std::wstring> exact = {var(L"ProgramFiles"), var(L"ProgramFiles(x86)"), var(L"ProgramW6432"),
                                       var(L"USERPROFILE"),  var(L"PUBLIC"),            var(L"ALLUSERSPROFILE")};
    const std::wstring profile = var(L"USERPROFILE");
    const size_t cut = profile.rfind(L'\\');
    if (cut != std::wstring::npos && cut > 2) exact.push_back(profile.substr(0, cut));
    for (const auto& e : exact)
        if (!e.empty() && normal == e) return false;
    return true;
}

}  // namespace tide
