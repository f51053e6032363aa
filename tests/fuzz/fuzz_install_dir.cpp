// The install-directory check on arbitrary paths: a path and each of its
// aliases (letter case, "/" for "\", doubled separators, trailing dots and
// blanks on a name, the "\\?\" prefix, "." and ".." detours, the short
// names of its folders) get the same answer and the same canonical form;
// the canonical form is its own canonical form; a refused character is
// refused whatever the rest.
#include <vector>

#include "base/text.h"
#include "core/install_dir_guard.h"
#include "fuzz_check.h"
#include "fuzz_paths.h"

using namespace tide;

namespace {

std::wstring FlipCase(const std::wstring& s) {
    std::wstring out = s;
    bool up = true;
    for (auto& c : out)
        if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) {
            c = up ? static_cast<wchar_t>(c & ~0x20) : static_cast<wchar_t>(c | 0x20);
            up = !up;
        }
    return out;
}

std::wstring Replace(std::wstring s, wchar_t from, const std::wstring& to) {
    for (size_t at = s.find(from); at != std::wstring::npos; at = s.find(from, at + to.size())) s.replace(at, 1, to);
    return s;
}

// Appends what to every name that is not empty, "." or "..".
std::wstring PadNames(const std::wstring& p, const std::wstring& what) {
    std::wstring out;
    size_t i = 0;
    while (i <= p.size()) {
        size_t j = p.find(L'\\', i);
        if (j == std::wstring::npos) j = p.size();
        std::wstring name = p.substr(i, j - i);
        if (i >= 3 && !name.empty() && name != L"." && name != L"..") name += what;
        out += name;
        if (j < p.size()) out += L'\\';
        i = j + 1;
    }
    return out;
}

std::vector<std::wstring> Aliases(const std::wstring& path) {
    std::vector<std::wstring> out = {FlipCase(path), Replace(path, L'\\', L"/")};
    // The others are made from the "\" form, in which every separator is
    // one.
    const std::wstring p = Replace(path, L'/', L"\\");
    // Only a plain drive path has the rest (a prefix with doubled separators is no prefix).
    const bool drive = p.size() >= 3 && p[1] == L':' && p[2] == L'\\';
    if (!drive) return out;
    out.push_back(Replace(p, L'\\', L"\\\\"));
    out.push_back(L"\\\\?\\" + p);
    out.push_back(p.substr(0, 3) + L".\\" + p.substr(3));
    out.push_back(p.substr(0, 3) + L"x\\..\\" + p.substr(3));
    out.push_back(PadNames(p, L"."));
    out.push_back(PadNames(p, L" "));
    out.push_back(PadNames(p, L". ."));
    for (const auto& [s, l] : fuzz::FuzzPaths::Aliases())
        if (LowerCase(p).rfind(LowerCase(l), 0) == 0 && (p.size() == l.size() || p[l.size()] == L'\\'))
            out.push_back(s + p.substr(l.size()));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::fake::FakeEnvironment env;
    static fuzz::FuzzPaths paths;
    static bool ready = [] {
        fuzz::SetUpMachine(env);
        platform::Port<platform::Environment>::Set(&env);
        platform::Port<platform::Paths>::Set(&paths);
        return true;
    }();
    (void)ready;
    if (size > 512) return 0;
    const std::wstring path = fuzz::Text(data, size);
    const bool ok = IsOwnableInstallDirectory(path);
    const auto canonical = CanonicalPath(path);
    FUZZ_CHECK(!ok || canonical, "an accepted path has no canonical form");
    if (canonical) {
        FUZZ_CHECK(CanonicalPath(*canonical) == canonical, "the canonical form is not its own canonical form");
        FUZZ_CHECK(IsOwnableInstallDirectory(*canonical) == ok, "the canonical form gets another answer");
    }
    // The answer is taken from the canonical form, so equal canonical forms
    // are equal answers; one alias per input is asked directly as well.
    const std::vector<std::wstring> aliases = Aliases(path);
    FUZZ_CHECK(IsOwnableInstallDirectory(aliases[size % aliases.size()]) == ok, "an alias gets another answer");
    for (const std::wstring& alias : aliases) {
        const auto other = CanonicalPath(alias);
        FUZZ_CHECK(other.has_value() == canonical.has_value(), "an alias has a canonical form and the path not, or back");
        if (other) FUZZ_CHECK(LowerCase(*other) == LowerCase(*canonical), "an alias has another canonical form");
    }
    if (UnsafePathCharacter(path)) FUZZ_CHECK(!CheckInstallDirectory(path).ok, "a refused character was taken");
    return 0;
}
