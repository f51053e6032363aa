#include "core/IniDocument.h"

#include "base/error.h"
#include "base/encoding.h"
#include "base/text.h"
#include "platform/files.h"

namespace tide {
namespace {

bool IsBlank(wchar_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

bool IsLineBreak(wchar_t c) { return c == L'\r' || c == L'\n'; }

// Trims blanks from both ends.
std::wstring TrimBlanks(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Names compare with ASCII letters folded only, as the Windows reader does
// (checked under Wine: "[\u00C4rger]" is not found as "\u00E4rger").
wchar_t Fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// The value as a 2048-character buffer receives it: one pair of matching
// quotes removed, at most 2047 characters. When the value is cut, the
// closing quote (already cut) is not looked for and the last kept character
// goes instead, exactly as the Windows reader does.
std::wstring Unquote(const std::wstring& value) {
    const size_t bufferLen = IniDocument::kMaxValueLength + 1;
    std::wstring v = value;
    bool quoted = false;
    if (!v.empty() && (v[0] == L'\'' || v[0] == L'"') && v.size() >= 2 && v.back() == v[0]) {
        quoted = true;
        v.erase(0, 1);
    }
    std::wstring out = v.substr(0, bufferLen - 1);
    if (quoted && bufferLen >= v.size() && !out.empty()) out.pop_back();
    return out;
}

}  // namespace

IniDocument IniDocument::FromBytes(const std::string& bytes) {
    const std::wstring text = DecodeText(bytes);
    IniDocument doc;
    doc.sections_.emplace_back();  // lines before the first section
    Section* cur = &doc.sections_.back();
    bool havePrevKey = false, prevKeyNamed = false;

    size_t next = 0;
    while (next < text.size()) {
        size_t start = next;
        while (next < text.size() && !IsLineBreak(text[next])) ++next;
        size_t end = next;
        while (next < text.size() && IsLineBreak(text[next])) ++next;

        while (start < end && IsBlank(text[start])) ++start;
        while (end > start && IsBlank(text[end - 1])) --end;
        if (start >= end) continue;

        if (text[start] == L'[') {
            size_t close = end - 1;
            while (close > start && text[close] != L']') --close;
            if (close > start) {
                doc.sections_.emplace_back();
                cur = &doc.sections_.back();
                cur->name = TrimBlanks(text.substr(start + 1, close - start - 1));
                havePrevKey = false;
                continue;
            }
            // "[" without "]": an ordinary line.
        }

        size_t eq = start;
        while (eq < end && text[eq] != L'=') ++eq;
        Key key;
        if (eq < end) {
            size_t nameEnd = eq;
            while (nameEnd > start && IsBlank(text[nameEnd - 1])) --nameEnd;
            key.name = text.substr(start, nameEnd - start);
            size_t v = eq + 1;
            while (v < end && IsBlank(text[v])) ++v;
            key.hasValue = true;
            key.value = text.substr(v, end - v);
        } else {
            key.name = text.substr(start, end - start);
        }
        // A run of lines with empty names ("=x") keeps only the first.
        if (!key.name.empty() || !havePrevKey || prevKeyNamed) {
            havePrevKey = true;
            prevKeyNamed = !key.name.empty();
            cur->keys.push_back(std::move(key));
        }
    }
    return doc;
}

bool IniDocument::Load(const std::wstring& path, IniDocument& out) {
    out = IniDocument();
    // Others may read and write the file meanwhile, as with the Windows
    // reader: a manifest open in an editor still reads.
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::ReadWrite);
    if (!file) return false;
    std::string bytes;
    try {
        char buf[8192];
        for (;;) {
            size_t n = file->Read(buf, sizeof buf);
            if (n == 0) break;
            bytes.append(buf, n);
        }
    } catch (const IoError&) {
        return false;
    }
    out = FromBytes(bytes);
    return true;
}

const IniDocument::Section* IniDocument::FindSection(const std::wstring& section) const {
    const std::wstring want = TrimBlanks(section);
    // The lines before the first section form a section without name: a
    // lookup of "" finds them, though SectionNames does not list it.
    for (const Section& s : sections_)
        if (SameName(s.name, want)) return &s;
    return nullptr;
}

std::wstring IniDocument::ReadString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& def) const {
    if (const Section* s = FindSection(section)) {
        const std::wstring want = TrimBlanks(key);
        for (const Key& k : s->keys) {
            if (SameName(k.name, want)) {
                if (k.hasValue) return Unquote(k.value);
                break;  // the first key of that name decides, even without a value
            }
        }
    }
    std::wstring d = def;
    while (!d.empty() && d.back() == L' ') d.pop_back();
    return Unquote(d);
}

std::vector<std::wstring> IniDocument::SectionNames() const {
    std::vector<std::wstring> names;
    for (const Section& s : sections_)
        if (!s.name.empty()) names.push_back(s.name);
    return names;
}

bool IniDocument::HasSection(const std::wstring& section) const { return FindSection(section) != nullptr; }

std::wstring ReadIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key) {
    IniDocument doc;
    IniDocument::Load(path, doc);
    return doc.ReadString(section, key);
}

}  // namespace tide
