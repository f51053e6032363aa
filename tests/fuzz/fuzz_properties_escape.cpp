// The escape of values written to the application's .properties files, on
// arbitrary text. Properties: the escaped text unescapes back to the text;
// only ":", "=" and "\" gain a backslash and nothing else changes; and a line
// "Key=" + escaped text, read the way java.util.Properties.load reads a
// line, gives the text back for any ASCII text that a path or an address
// can be (no line break, no blank at its start).
#include "fuzz_check.h"
#include "install/upgrade_migration.h"

using tide::EscapePropertyValue;

namespace {

bool Escaped(wchar_t c) { return c == L':' || c == L'=' || c == L'\\'; }

std::wstring Unescape(const std::wstring& s) {
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) out += (s[i] == L'\\' && i + 1 < s.size()) ? s[++i] : s[i];
    return out;
}

int Hex(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// java.util.Properties.load on one line without terminators: the key ends
// at the first unescaped "=", ":" or blank; blanks and one separator after
// it are skipped; in the value "\t", "\n", "\r", "\f" and "\uXXXX" are the
// characters they name and "\c" is c. Returns false where Java would throw
// (a malformed \u escape).
bool JavaValue(const std::wstring& line, std::wstring& value) {
    size_t i = 0;
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t' || line[i] == L'\f')) ++i;
    bool escape = false, sep = false;
    for (; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (escape) { escape = false; continue; }
        if (c == L'\\') { escape = true; continue; }
        if (c == L'=' || c == L':') { sep = true; ++i; break; }
        if (c == L' ' || c == L'\t' || c == L'\f') { ++i; break; }
    }
    for (; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (c == L' ' || c == L'\t' || c == L'\f') continue;
        if (!sep && (c == L'=' || c == L':')) { sep = true; continue; }
        break;
    }
    value.clear();
    for (; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (c != L'\\') { value += c; continue; }
        if (++i == line.size()) return true;  // a continuation onto a line that is not there
        c = line[i];
        if (c == L'u') {
            if (i + 4 >= line.size()) return false;
            int v = 0;
            for (int k = 1; k <= 4; ++k) {
                int h = Hex(line[i + k]);
                if (h < 0) return false;
                v = v * 16 + h;
            }
            value += static_cast<wchar_t>(v);
            i += 4;
        } else {
            value += c == L't' ? L'\t' : c == L'n' ? L'\n' : c == L'r' ? L'\r' : c == L'f' ? L'\f' : c;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text = tide::fuzz::Text(data, size);
    const std::wstring escaped = EscapePropertyValue(text);

    size_t escapable = 0;
    for (wchar_t c : text) escapable += Escaped(c);
    FUZZ_CHECK(escaped.size() == text.size() + escapable, "a character other than : = \\ was escaped");
    FUZZ_CHECK(Unescape(escaped) == text, "the escaped text does not unescape to the text");

    bool pathLike = text.empty() || (text[0] != L' ' && text[0] != L'\t' && text[0] != L'\f');
    for (wchar_t c : text) pathLike = pathLike && c >= 0x20 && c < 0x7F;
    if (pathLike) {
        std::wstring read;
        FUZZ_CHECK(JavaValue(L"AttachmentDirectory=" + escaped, read), "Java would refuse the line");
        FUZZ_CHECK(read == text, "Java reads another value");
    }
    return 0;
}
