#include "base/command_line.h"

namespace tide {

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> args;
    std::wstring current;
    bool inArgument = false, quoted = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && (c == L' ' || c == L'\t')) {
            if (inArgument) args.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) args.push_back(current);
    return args;
}

std::wstring CommandLineArguments(const std::wstring& line) {
    auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    size_t i = 0;
    while (i < line.size() && blank(line[i])) ++i;
    bool quoted = false;
    for (; i < line.size() && (quoted || !blank(line[i])); ++i)
        if (line[i] == L'"') quoted = !quoted;
    while (i < line.size() && blank(line[i])) ++i;
    return line.substr(i);
}

}  // namespace tide
