// The rewrite of the server base's bin\service.bat on arbitrary scripts, in
// a fake file system. Properties: the script comes out as CR LF lines; the
// first line that stays leads, then exactly the two settings of this
// installation, then the other lines in their order, with no other line
// left that begins with "set CATALINA_"; and a second rewrite changes
// nothing.
#include <cstring>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "base/text.h"
#include "core/text_file.h"
#include "fuzz_check.h"
#include "platform/fake/fake_files.h"
#include "platform/files.h"
#include "system/server_service.h"

using namespace tide;

namespace {

struct Place {
    const wchar_t* base;
    const wchar_t* home;
};
// Where administrators put it: the default folder, and one whose name holds
// blanks and parentheses.
const Place kPlaces[] = {
    {L"C:\\Tidewell\\TCBase", L"C:\\Tidewell\\apache-tomcat-9.0.85"},
    {L"C:\\Program Files (x86)\\Tide well\\TCBase", L"C:\\Program Files (x86)\\Tide well\\apache-tomcat-9.0.85"},
};

platform::fake::FakeFileSystem& Machine() {
    static platform::fake::FakeFileSystem* fs = [] {
        const char* shm = "/dev/shm";
        std::string root = (std::filesystem::exists(shm) ? std::string(shm) : std::filesystem::temp_directory_path().string()) +
                           "/tide-fuzz-" + std::to_string(getpid());
        auto* f = new platform::fake::FakeFileSystem(root);
        platform::Port<platform::FileSystem>::Set(f);
        std::atexit([] { std::filesystem::remove_all(Machine().Root()); });
        return f;
    }();
    return *fs;
}

void MakeTree(const std::wstring& dir) {
    for (size_t at = dir.find(L'\\', 3); ; at = dir.find(L'\\', at + 1)) {
        Machine().MakeDirectory(dir.substr(0, at));
        if (at == std::wstring::npos) break;
    }
}

void Put(const std::wstring& path, const std::string& bytes) {
    auto f = platform::Files().Open(path, platform::OpenMode::CreateAlways, platform::Share::None);
    FUZZ_CHECK(f != nullptr, "cannot write the script");
    f->Write(bytes.data(), bytes.size());
}

std::string Get(const std::wstring& path) {
    auto f = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    FUZZ_CHECK(f != nullptr, "cannot read the script");
    std::string bytes(static_cast<size_t>(f->Size()), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        size_t n = f->Read(&bytes[got], bytes.size() - got);
        if (n == 0) break;
        got += n;
    }
    bytes.resize(got);
    return bytes;
}

// The bytes as the ANSI lines they were written as (no byte-order mark read).
std::vector<std::wstring> AnsiLines(const std::string& bytes) {
    return SplitLines(DecodeText("x" + bytes).substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Bytes(data, size);
    const Place& place = kPlaces[size % 2];
    const std::wstring base = place.base, home = place.home;
    const std::wstring script = base + L"\\bin\\service.bat";
    Machine();
    MakeTree(base + L"\\bin");
    Put(script, input);

    PrepareServiceScript(base, home);
    const std::string out = Get(script);

    FUZZ_CHECK(out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0, "the script does not end with CR LF");
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r') FUZZ_CHECK(i + 1 < out.size() && out[i + 1] == '\n', "a lone CR");
        if (out[i] == '\n') FUZZ_CHECK(i > 0 && out[i - 1] == '\r', "a lone LF");
    }

    std::vector<std::wstring> kept;
    for (const auto& line : SplitLines(DecodeText(input)))
        if (!StartsWith(line, L"set CATALINA_")) kept.push_back(AnsiLines(WideToAnsi(line) + "\r\n").at(0));
    std::vector<std::wstring> want = kept;
    want.insert(want.begin() + (want.empty() ? 0 : 1), {L"set CATALINA_BASE=" + base, L"set CATALINA_HOME=" + home});
    // A kept line that comes first loses the bytes of a byte-order mark at
    // its start, so that the file does not begin with one.
    std::string first = WideToAnsi(want[0]);
    for (bool cut = true; cut;) {
        cut = false;
        for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
            if (first.rfind(mark, 0) == 0) first.erase(0, std::strlen(mark)), cut = true;
    }
    want[0] = AnsiLines(first + "\r\n").at(0);
    const std::vector<std::wstring> got = AnsiLines(out);
    FUZZ_CHECK(got == want, "the lines are not the kept ones around the two settings");

    // Once done, the rewrite is done, unless losing its mark made that
    // first line a setting of its own (the next rewrite then drops it).
    PrepareServiceScript(base, home);
    if (!StartsWith(want[0], L"set CATALINA_")) FUZZ_CHECK(Get(script) == out, "a second rewrite changes the script");
    return 0;
}
