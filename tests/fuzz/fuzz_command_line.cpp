// The command-line splitter on arbitrary lines: arguments never hold a
// quote, blanks survive only inside quotes, a line without quotes splits
// at its runs of blanks, quoting every argument the way this program's
// callers do splits back into the same arguments, and one more quoted
// argument after a line with balanced quotes comes out as one more argument.
#include <vector>

#include "base/command_line.h"
#include "fuzz_check.h"

using tide::SplitCommandLine;

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::vector<std::wstring> SplitAtBlanks(const std::wstring& line) {
    std::vector<std::wstring> out;
    std::wstring cur;
    for (wchar_t c : line) {
        if (IsBlank(c)) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring line = tide::fuzz::Text(data, size);
    const std::vector<std::wstring> args = SplitCommandLine(line);

    size_t quotes = 0;
    for (wchar_t c : line) quotes += c == L'"';
    size_t total = 0;
    for (const auto& a : args) {
        FUZZ_CHECK(a.find(L'"') == std::wstring::npos, "an argument holds a quote");
        if (quotes == 0) FUZZ_CHECK(a.find_first_of(L" \t") == std::wstring::npos, "a blank outside quotes stayed");
        total += a.size();
    }
    FUZZ_CHECK(total + quotes <= line.size(), "the arguments hold more than the line");
    if (quotes == 0) FUZZ_CHECK(args == SplitAtBlanks(line), "a line without quotes split otherwise than at blanks");

    std::wstring quoted;
    for (const auto& a : args) quoted += (quoted.empty() ? L"\"" : L" \"") + a + L"\"";
    FUZZ_CHECK(SplitCommandLine(quoted) == args, "quoting every argument does not split back");

    if (quotes % 2 == 0) {
        std::vector<std::wstring> more = args;
        more.push_back(L"C:\\Program Files\\Tidewell\\");
        FUZZ_CHECK(SplitCommandLine(line + L" \"C:\\Program Files\\Tidewell\\\"") == more,
                   "a quoted argument appended to a balanced line is not one more argument");
    }
    return 0;
}
