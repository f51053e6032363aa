#include "download/release_manifest.h"

#include <cstdint>

#include "core/IniDocument.h"
#include "base/error.h"
#include "core/layout.h"
#include "core/manifest.h"
#include "base/encoding.h"
#include "base/text.h"

namespace tide {
namespace {

struct Line {
    std::string body;  // without the line ending
    std::string eol;   // "\r\n", "\n", "\r" or empty (last line)
};

std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    size_t i = 0;
    while (i < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", i);
        Line l;
        if (end == std::string::npos) {
            l.body = bytes.substr(i);
            i = bytes.size();
        } else {
            l.body = bytes.substr(i, end - i);
            size_t len = (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1;
            l.eol = bytes.substr(end, len);
            i = end + len;
        }
        lines.push_back(std::move(l));
    }
    return lines;
}

// The blanks of the installer's INI reader (core/IniDocument.h): the tool
// must see the same keys and values as the installer.
bool IsBlank(char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == ' '; }

std::string TrimBytes(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameKey(const std::string& a, const char* b) {
    std::string t = TrimBytes(a);
    size_t n = 0;
    for (; b[n]; ++n) {
        if (n >= t.size()) return false;
        char x = t[n], y = b[n];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return n == t.size();
}

// What one line of an INI text is, the way the profile reader sees it.
struct Parsed {
    bool header = false;
    std::string section;
    bool keyLine = false;
    std::string key;
    // Index in body of the first character after "=" and its blanks; npos
    // for a key without "=".
    size_t valueStart = 0;
    std::string value;      // trimmed, unquoted
};

Parsed ParseLine(const std::string& body) {
    Parsed p;
    size_t b = 0;
    while (b < body.size() && IsBlank(body[b])) ++b;
    // A "[" without a later "]" is an ordinary line to the installer.
    size_t close = body.rfind(']');
    if (b < body.size() && body[b] == '[' && close != std::string::npos && close > b) {
        p.header = true;
        p.section = body.substr(b + 1, close - b - 1);
        return p;
    }
    size_t eq = body.find('=', b);
    if (eq == std::string::npos) {
        // "KEY" alone is a key without value: the installer's reader stops
        // at it and reads the default, so here too it is that key.
        p.key = TrimBytes(body);
        p.keyLine = !p.key.empty();
        p.valueStart = std::string::npos;
        return p;
    }
    p.keyLine = true;
    p.key = TrimBytes(body.substr(b, eq - b));
    size_t v = eq + 1;
    while (v < body.size() && IsBlank(body[v])) ++v;
    p.valueStart = v;
    std::string value = TrimBytes(body.substr(v));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    p.value = value;
    return p;
}

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += static_cast<char>(c < 0x100 ? c : '?');
    return out;
}

bool IsHex(const std::wstring& s, size_t digits) {
    bool hex = s.size() == digits;
    for (wchar_t c : s) hex = hex && ((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'));
    return hex;
}

void RefuseUtf16(const std::string& manifestBytes) {
    if (manifestBytes.size() >= 2 && ((static_cast<unsigned char>(manifestBytes[0]) == 0xFF &&
                                       static_cast<unsigned char>(manifestBytes[1]) == 0xFE) ||
                                      (static_cast<unsigned char>(manifestBytes[0]) == 0xFE &&
                                       static_cast<unsigned char>(manifestBytes[1]) == 0xFF)))
        throw Error(L"The manifest is UTF-16 text; save it as ANSI or UTF-8 to update it.");
}

}  // namespace

std::string SetReleaseSerial(const std::string& manifestBytes, uint64_t serial) {
    RefuseUtf16(manifestBytes);
    const bool utf8 = manifestBytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    std::vector<Line> lines = SplitLines(manifestBytes);
    std::string newline = "\r\n";
    for (const Line& l : lines)
        if (!l.eol.empty()) {
            newline = l.eol;
            break;
        }
    const std::string entry = "RELEASE_SERIAL=" + std::to_string(serial);
    size_t header = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = ParseLine(i == 0 && utf8 ? lines[i].body.substr(3) : lines[i].body);
        if (header == lines.size()) {
            if (p.header && SameKey(p.section, "GENERAL")) header = i;
            continue;
        }
        if (p.header) break;  // the end of [GENERAL]: no RELEASE_SERIAL in it
        if (p.keyLine && SameKey(p.key, "RELEASE_SERIAL")) {
            // The first one is the one read; it keeps its place.
            const size_t keyStart = lines[i].body.find_first_not_of(" \t");
            lines[i].body = lines[i].body.substr(0, keyStart == std::string::npos ? 0 : keyStart) + entry;
            std::string out;
            for (const Line& l : lines) out += l.body + l.eol;
            return out;
        }
    }
    std::string out;
    if (header == lines.size()) {
        out = manifestBytes;
        if (!lines.empty() && lines.back().eol.empty()) out += newline;
        return out + "[GENERAL]" + newline + entry + newline;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i != header) {
            out += lines[i].body + lines[i].eol;
            continue;
        }
        // A manifest without a final line break keeps lacking it.
        const bool last = lines[i].eol.empty();
        out += lines[i].body + (last ? newline : lines[i].eol) + entry + (last ? "" : newline);
    }
    return out;
}

std::wstring ReadReleaseSerial(const std::string& manifestBytes) {
    return IniDocument::FromBytes(manifestBytes).ReadString(L"GENERAL", L"RELEASE_SERIAL");
}

ManifestUpdate UpdateManifestFacts(const std::string& manifestBytes, const ReleaseFileProbe& probe, bool addSha256) {
    RefuseUtf16(manifestBytes);
    const bool utf8 = manifestBytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    // Names are read as the installer reads the manifest (IniDocument), so
    // the file looked up is the one the installer will download.
    auto toWide = [utf8](const std::string& s) { return utf8 ? Utf8ToWide(s) : AnsiToWide(s); };

    std::vector<Line> lines = SplitLines(manifestBytes);
    std::string newline = "\r\n";  // Windows INI files; unless the file says otherwise
    for (const Line& l : lines)
        if (!l.eol.empty()) {
            newline = l.eol;
            break;
        }

    std::vector<Parsed> parsed;
    for (size_t i = 0; i < lines.size(); ++i)
        parsed.push_back(ParseLine(i == 0 && utf8 ? lines[i].body.substr(3) : lines[i].body));
    // With the BOM skipped in line 0, the value offset is 3 bytes short there.
    if (utf8 && !parsed.empty() && parsed[0].keyLine && parsed[0].valueStart != std::string::npos)
        parsed[0].valueStart += 3;

    ManifestUpdate result;
    std::vector<Line> out;
    size_t i = 0;
    // Lines before the first section belong to no section: kept as they are.
    while (i < lines.size() && !parsed[i].header) out.push_back(lines[i++]);
    while (i < lines.size()) {
        size_t begin = i++;
        while (i < lines.size() && !parsed[i].header) ++i;
        size_t end = i;  // block [begin, end)
        const std::wstring section = toWide(parsed[begin].section);

        size_t nameLine = end;
        for (size_t k = begin + 1; k < end; ++k)
            if (parsed[k].keyLine && SameKey(parsed[k].key, "FILE_NAME")) {
                nameLine = k;
                break;
            }
        std::wstring fileName = nameLine < end ? toWide(parsed[nameLine].value) : std::wstring();

        ReleaseFileFacts facts;
        bool write = false;
        if (!fileName.empty()) {
            if (!IsBareFileName(fileName))
                result.refused.push_back(L"[" + section + L"] FILE_NAME \"" + fileName +
                                         L"\" is not a bare file name; section left as it was");
            else if (!probe(fileName, facts))
                result.missing.push_back(L"[" + section + L"] " + fileName);
            else if (facts.size > static_cast<uint64_t>(INT32_MAX))
                result.refused.push_back(L"[" + section + L"] " + fileName +
                                         L" is larger than 2147483647 bytes, which FILE_SIZE cannot describe");
            else
                write = true;
        }
        if (!write) {
            for (size_t k = begin; k < end; ++k) out.push_back(lines[k]);
            continue;
        }

        const std::string sizeText = std::to_string(facts.size);
        const std::string md5Text = Narrow(facts.md5);
        const std::string shaText = Narrow(LowerCase(facts.sha256));
        bool haveSize = false, haveMd5 = false, haveSha = false;
        // An added FILE_SHA256 goes after FILE_MD5SUM, where the section has
        // one (a later one, as the reader takes the first), else after
        // FILE_NAME with the other added facts.
        bool anySha = false;
        size_t md5Line = end;
        for (size_t k = begin + 1; k < end; ++k) {
            if (parsed[k].keyLine && SameKey(parsed[k].key, "FILE_SHA256")) anySha = true;
            if (md5Line == end && k > nameLine && parsed[k].keyLine && SameKey(parsed[k].key, "FILE_MD5SUM")) md5Line = k;
        }
        const bool shaAfterMd5 = addSha256 && !anySha && md5Line < end;
        for (size_t k = begin; k < end; ++k) {
            Line l = lines[k];
            const Parsed& p = parsed[k];
            auto withValue = [&](const std::string& v) {
                return p.valueStart == std::string::npos ? l.body + "=" + v : l.body.substr(0, p.valueStart) + v;
            };
            if (p.keyLine && SameKey(p.key, "FILE_SIZE")) {
                l.body = withValue(sizeText);
                haveSize = true;
            } else if (p.keyLine && SameKey(p.key, "FILE_MD5SUM")) {
                l.body = withValue(md5Text);
                haveMd5 = true;
            } else if (p.keyLine && SameKey(p.key, "FILE_SHA256")) {
                l.body = l.body.substr(0, p.valueStart) + shaText;
                haveSha = true;
            }
            out.push_back(l);
            if (shaAfterMd5 && k == md5Line) {
                if (out.back().eol.empty()) out.back().eol = newline;
                out.push_back({"FILE_SHA256=" + shaText, k + 1 == lines.size() && lines[k].eol.empty() ? "" : newline});
            }
            if (k == nameLine && (!haveSize || !haveMd5 || (addSha256 && !haveSha && !shaAfterMd5))) {
                // Added right after FILE_NAME when the section lacks them
                // (a later duplicate key would never be read anyway).
                bool sizeLater = false, md5Later = false, shaLater = false;
                for (size_t m = k + 1; m < end; ++m) {
                    if (parsed[m].keyLine && SameKey(parsed[m].key, "FILE_SIZE")) sizeLater = true;
                    if (parsed[m].keyLine && SameKey(parsed[m].key, "FILE_MD5SUM")) md5Later = true;
                    if (parsed[m].keyLine && SameKey(parsed[m].key, "FILE_SHA256")) shaLater = true;
                }
                if (out.back().eol.empty()) out.back().eol = newline;
                bool last = k + 1 == lines.size();
                std::vector<Line> added;
                if (!haveSize && !sizeLater) added.push_back({"FILE_SIZE=" + sizeText, newline});
                if (!haveMd5 && !md5Later) added.push_back({"FILE_MD5SUM=" + md5Text, newline});
                if (addSha256 && !haveSha && !shaLater && !shaAfterMd5) added.push_back({"FILE_SHA256=" + shaText, newline});
                if (last && !added.empty() && lines[k].eol.empty()) added.back().eol.clear();
                for (auto& a : added) out.push_back(a);
            }
        }
        result.updated.push_back(section);
    }

    for (const Line& l : out) result.text += l.body + l.eol;
    result.changed = result.text != manifestBytes;
    return result;
}

std::wstring VerifyFailure::Line() const {
    std::wstring what_ = what == L"missing" ? L"missing" : what == L"size and MD5" ? what + L" differ" : what + L" differs";
    if (what == L"FILE_NAME" || what == L"FILE_SIZE" || what == L"FILE_MD5SUM" || what == L"FILE_SHA256")
        what_ = L"bad " + what;
    return fileName + L" [" + section + L"]: " + what_ + L": expected " + expected + L", actual " + actual;
}

VerifyResult VerifyManifestFacts(const std::string& manifestBytes, const ReleaseFileProbe& probe) {
    VerifyResult result;
    IniDocument doc = IniDocument::FromBytes(manifestBytes);
    std::vector<std::wstring> seen;
    for (const std::wstring& section : doc.SectionNames()) {
        bool dup = false;
        for (const auto& s : seen) dup = dup || SameText(s, section);
        if (dup) continue;  // the reader only ever finds the first of duplicate sections
        seen.push_back(section);

        const std::wstring fileName = doc.ReadString(section, L"FILE_NAME");
        if (fileName.empty()) continue;
        ++result.checked;
        VerifyFailure f{section, fileName, L"", L"", L""};
        auto fail = [&](const std::wstring& what, const std::wstring& expected, const std::wstring& actual) {
            f.what = what;
            f.expected = expected;
            f.actual = actual;
            result.failures.push_back(f);
        };

        if (!IsBareFileName(fileName)) {
            fail(L"FILE_NAME", L"a bare file name", L"\"" + fileName + L"\"");
            continue;
        }
        const std::wstring sizeText = doc.ReadString(section, L"FILE_SIZE");
        const std::wstring md5 = doc.ReadString(section, L"FILE_MD5SUM");
        int32_t size = 0;
        if (sizeText.empty()) {
            fail(L"FILE_SIZE", L"a decimal byte count", L"none");
            continue;
        }
        try {
            size = ParseComponentFileSize(section, sizeText);
        } catch (const ManifestError&) {
            fail(L"FILE_SIZE", L"a decimal byte count", L"\"" + sizeText + L"\"");
            continue;
        }
        if (!IsHex(md5, 32)) {
            fail(L"FILE_MD5SUM", L"32 hexadecimal digits", md5.empty() ? L"none" : L"\"" + md5 + L"\"");
            continue;
        }

        const std::wstring sha256 = doc.ReadString(section, L"FILE_SHA256");
        if (!sha256.empty() && !IsHex(sha256, 64)) {
            fail(L"FILE_SHA256", L"64 hexadecimal digits", L"\"" + sha256 + L"\"");
            continue;
        }

        ReleaseFileFacts facts;
        if (!probe(fileName, facts)) {
            fail(L"missing", IntToStr(size) + L" bytes", L"no such file");
            continue;
        }
        bool sizeDiffers = facts.size != static_cast<uint64_t>(size);
        bool md5Differs = !SameText(facts.md5, md5);
        if (sizeDiffers && md5Differs)
            fail(L"size and MD5", IntToStr(size) + L" bytes " + UpperCase(md5),
                 IntToStr(static_cast<int64_t>(facts.size)) + L" bytes " + UpperCase(facts.md5));
        else if (sizeDiffers)
            fail(L"size", IntToStr(size) + L" bytes", IntToStr(static_cast<int64_t>(facts.size)) + L" bytes");
        else if (md5Differs)
            fail(L"MD5", UpperCase(md5), UpperCase(facts.md5));
        else if (!sha256.empty() && !SameText(facts.sha256, sha256))
            fail(L"SHA-256", LowerCase(sha256), LowerCase(facts.sha256));
    }
    return result;
}

}  // namespace tide
