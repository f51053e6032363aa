// The INI reader on arbitrary bytes. Beyond not crashing: every listed
// section is found, reads never exceed the 2047-character buffer nor hold a
// line break, names match regardless of ASCII case, a missing section gives
// the default, an ASCII file reads the same with a UTF-8 or UTF-16 mark, and
// a plain value written as KEY=value (bare or in quotes) reads back as it was.
#include <vector>

#include "base/text.h"
#include "core/IniDocument.h"
#include "fuzz_check.h"

using tide::IniDocument;

namespace {

const wchar_t* const kKeys[] = {L"FILE_NAME", L"FILE_SIZE", L"FILE_MD5SUM", L"FILE_VERSION", L"UNPACK_PATH", L""};

bool IsBlank(wchar_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

// Every answer a reader of the manifest could ask for.
std::vector<std::wstring> Answers(const IniDocument& doc) {
    std::vector<std::wstring> out;
    for (const auto& s : doc.SectionNames()) {
        out.push_back(s);
        for (const wchar_t* k : kKeys) out.push_back(doc.ReadString(s, k, L"-"));
    }
    return out;
}

void CheckReads(const IniDocument& doc) {
    for (const auto& s : doc.SectionNames()) {
        FUZZ_CHECK(!s.empty(), "an empty section name is listed");
        FUZZ_CHECK(!IsBlank(s.front()) && !IsBlank(s.back()), "a section name keeps its blanks");
        FUZZ_CHECK(doc.HasSection(s), "a listed section is not found");
        for (const wchar_t* k : kKeys) {
            const std::wstring v = doc.ReadString(s, k);
            FUZZ_CHECK(v.size() <= IniDocument::kMaxValueLength, "a value longer than the buffer");
            FUZZ_CHECK(v.find_first_of(L"\r\n") == std::wstring::npos, "a value holds a line break");
            FUZZ_CHECK(doc.ReadString(tide::UpperCase(s), tide::LowerCase(k)) == v, "names match by case");
            FUZZ_CHECK(doc.ReadString(tide::LowerCase(s), tide::UpperCase(k)) == v, "names match by case");
        }
    }
    FUZZ_CHECK(doc.ReadString(L"\x01no such section", L"FILE_NAME", L"dflt  ") == L"dflt",
               "a missing section does not give the default");
}

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes = tide::fuzz::Bytes(data, size);
    const IniDocument doc = IniDocument::FromBytes(bytes);
    CheckReads(doc);

    bool ascii = true;
    for (unsigned char c : bytes) ascii = ascii && c < 0x80;
    if (ascii) {
        const auto plain = Answers(doc);
        FUZZ_CHECK(Answers(IniDocument::FromBytes("\xEF\xBB\xBF" + bytes)) == plain, "a UTF-8 mark changes a read");
        FUZZ_CHECK(Answers(IniDocument::FromBytes(Utf16Le(bytes))) == plain, "UTF-16 changes a read");
    }

    // The input as one value: without line breaks, blanks at its ends or a
    // leading quote, and short enough, it reads back unchanged.
    const std::string head = "[Fuzz]\r\nKEY=";
    std::wstring value = tide::DecodeText(head + bytes).substr(head.size());
    bool plainValue = !value.empty() && value.size() <= IniDocument::kMaxValueLength &&
                      value.find_first_of(L"\r\n") == std::wstring::npos && !IsBlank(value.front()) &&
                      !IsBlank(value.back()) && value.front() != L'"' && value.front() != L'\'';
    if (plainValue) {
        FUZZ_CHECK(IniDocument::FromBytes(head + bytes + "\r\n").ReadString(L"Fuzz", L"KEY") == value,
                   "a plain value does not read back");
        FUZZ_CHECK(IniDocument::FromBytes("[Fuzz]\r\nKEY=\"" + bytes + "\"\r\n").ReadString(L"Fuzz", L"KEY") == value,
                   "a quoted value does not read back");
    }
    return 0;
}
