// The log's password masking against the command-line splitter: the masked
// line splits into as many arguments as the line; every argument that the
// proxy options read as "/proxypassword=VALUE" comes out as the same word
// with "*****" for its value; every other argument stays as it was, unless
// it holds the word itself (masked more than needed, never less).
#include <vector>

#include "base/command_line.h"
#include "base/text.h"
#include "core/run_options.h"
#include "fuzz_check.h"

using namespace tide;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    static const std::wstring key = L"/proxypassword=";
    const std::wstring line = fuzz::Text(data, size);
    const std::vector<std::wstring> args = SplitCommandLine(line);
    const std::wstring masked = MaskedCommandLine(line);
    const std::vector<std::wstring> out = SplitCommandLine(masked);
    FUZZ_CHECK(out.size() == args.size(), "the masked line splits into another number of arguments");
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring low = LowerCase(args[i]);
        if (low.rfind(key, 0) == 0)
            FUZZ_CHECK(out[i] == args[i].substr(0, key.size()) + L"*****", "a password is not masked");
        else if (low.find(key) == std::wstring::npos)
            FUZZ_CHECK(out[i] == args[i], "an argument without a password changed");
    }
    return 0;
}
