// The port rewrite of server.xml on arbitrary files, read the way the
// installer reads them. Properties, for the installer's own moves (8005,
// 8009, 8080 to the next ports it tries) and for a move made from the input:
// a line without port="OLD" stays as it was, and so does every line when OLD
// equals NEW; in a line with it, only its first occurrence changes, with all
// around it kept; redirectPort="OLD" and proxyPort="OLD" never match; and
// moving back restores the file when NEW was not in it before.
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "core/text_file.h"
#include "fuzz_check.h"
#include "install/tomcat_setup.h"

using namespace tide;

namespace {

std::wstring Attribute(int port) { return L"port=\"" + IntToStr(port) + L"\""; }

bool Holds(const std::vector<std::wstring>& lines, const std::wstring& what) {
    for (const auto& l : lines)
        if (l.find(what) != std::wstring::npos) return true;
    return false;
}

// The line with every attribute whose name ends in "Port" taken out.
std::wstring WithoutOtherPorts(std::wstring line) {
    for (const wchar_t* name : {L"redirectPort=\"", L"proxyPort=\""}) {
        for (size_t at = line.find(name); at != std::wstring::npos; at = line.find(name))
            line.erase(at, wcslen(name));
    }
    return line;
}

void CheckMove(const std::vector<std::wstring>& before, int oldPort, int newPort) {
    std::vector<std::wstring> lines = before;
    ReplacePortAttribute(lines, oldPort, newPort);
    FUZZ_CHECK(lines.size() == before.size(), "the rewrite changed the number of lines");
    const std::wstring from = Attribute(oldPort), to = Attribute(newPort);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::wstring& was = before[i];
        const size_t at = was.find(from);
        if (oldPort == newPort || at == std::wstring::npos) {
            FUZZ_CHECK(lines[i] == was, "a line without the attribute changed");
            continue;
        }
        FUZZ_CHECK(lines[i].compare(0, at, was, 0, at) == 0, "text before the attribute changed");
        FUZZ_CHECK(lines[i].compare(at, to.size(), to) == 0, "the attribute is not the new port");
        FUZZ_CHECK(lines[i].substr(at + to.size()) == was.substr(at + from.size()), "text after the attribute changed");
        if (WithoutOtherPorts(was).find(from) == std::wstring::npos)
            FUZZ_CHECK(false, "redirectPort or proxyPort was taken for port");
    }
    if (!Holds(before, to)) {
        std::vector<std::wstring> back = lines;
        ReplacePortAttribute(back, newPort, oldPort);
        FUZZ_CHECK(back == before, "moving the port back does not restore the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::wstring> lines = SplitLines(DecodeText(fuzz::Bytes(data, size)));
    CheckMove(lines, 8005, 8015);
    CheckMove(lines, 8009, 8019);
    CheckMove(lines, 8080, 80);
    CheckMove(lines, 8080, 9080);
    CheckMove(lines, 8080, 8080);
    const int oldPort = size >= 2 ? data[0] << 8 | data[1] : 8080;
    const int newPort = size >= 4 ? data[2] << 8 | data[3] : 80;
    CheckMove(lines, oldPort, newPort);
    return 0;
}
