// The name checks on arbitrary text: a bare file name is a contained
// relative path; joined onto the install directory, a bare name is a
// direct child of it and a contained relative path stays below it (both
// read the way Windows reads the joined path: canonical form, "." and
// ".." resolved, trailing dots and blanks dropped).
#include "base/text.h"
#include "core/install_dir_guard.h"
#include "core/layout.h"
#include "fuzz_check.h"
#include "fuzz_paths.h"

using namespace tide;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::FuzzPaths paths;
    static bool ready = [] {
        platform::Port<platform::Paths>::Set(&paths);
        return true;
    }();
    (void)ready;
    if (size > 512) return 0;
    const std::wstring name = fuzz::Text(data, size);
    const std::wstring dir = L"C:\\Apps\\Tidewell";
    const bool bare = IsBareFileName(name);
    const bool contained = IsContainedRelativePath(name);
    if (bare) FUZZ_CHECK(contained, "a bare file name is not a contained relative path");
    if (bare) {
        const auto joined = CanonicalPath(dir + L"\\" + name);
        FUZZ_CHECK(joined.has_value(), "a bare name joined onto the folder is no path");
        const size_t cut = joined->rfind(L'\\');
        FUZZ_CHECK(LowerCase(joined->substr(0, cut)) == LowerCase(dir), "a bare name is not a direct child");
        FUZZ_CHECK(cut + 1 < joined->size(), "a bare name names the folder itself");
    }
    if (contained) {
        const auto joined = CanonicalPath(dir + L"\\" + name);
        FUZZ_CHECK(joined.has_value(), "a contained path joined onto the folder is no path");
        FUZZ_CHECK(LowerCase(*joined) == LowerCase(dir) || LowerCase(*joined).rfind(LowerCase(dir) + L"\\", 0) == 0,
                   "a contained relative path leaves the folder");
    }
    return 0;
}
