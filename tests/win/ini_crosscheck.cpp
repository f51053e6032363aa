// Runs the program's INI reader and the system's GetPrivateProfileStringW
// on the same files and prints every disagreement: values (with and
// without a default), section lists, missing files. Exit code: the number
// of disagreements.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/IniDocument.h"

using tide::IniDocument;

namespace {

int gDiffs = 0;

std::string Show(const std::wstring& s) {
    std::string r;
    if (s.size() > 60) return "<" + std::to_string(s.size()) + " chars: " + Show(s.substr(0, 8)) + "..." +
                              Show(s.substr(s.size() - 8)) + ">";
    for (wchar_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            r += static_cast<char>(c);
        } else {
            char b[16];
            snprintf(b, sizeof b, "\\u%04X", static_cast<unsigned>(c));
            r += b;
        }
    }
    return "\"" + r + "\"";
}

std::wstring SystemRead(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                        const wchar_t* def) {
    std::vector<wchar_t> buf(2048, L'\0');
    DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), def, buf.data(), 2048, file.c_str());
    return std::wstring(buf.data(), n);
}

std::vector<std::wstring> SystemSections(const std::wstring& file) {
    std::vector<wchar_t> buf(65536, L'\0');
    DWORD n = GetPrivateProfileSectionNamesW(buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
    std::vector<std::wstring> names;
    for (DWORD i = 0; i < n;) {
        std::wstring s(&buf[i]);
        names.push_back(s);
        i += static_cast<DWORD>(s.size()) + 1;
    }
    return names;
}

struct Query {
    std::wstring section, key;
};

struct Case {
    const char* name;
    std::string bytes;
    std::vector<Query> queries;
};

std::string Utf16(const std::wstring& s, bool bigEndian) {
    std::string r = bigEndian ? std::string("\xFE\xFF", 2) : std::string("\xFF\xFE", 2);
    for (wchar_t c : s) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
        r += bigEndian ? hi : lo;
        r += bigEndian ? lo : hi;
    }
    return r;
}

void Diff(const char* caseName, const std::string& what, const std::string& ours, const std::string& system) {
    ++gDiffs;
    printf("DIFF %s: %s: ours=%s system=%s\n", caseName, what.c_str(), ours.c_str(), system.c_str());
}

void Check(const std::wstring& dir, const Case& c) {
    std::wstring file = dir + L"\\" + std::wstring(c.name, c.name + strlen(c.name)) + L".ini";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    WriteFile(h, c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &put, nullptr);
    CloseHandle(h);

    IniDocument doc;
    if (!IniDocument::Load(file, doc)) Diff(c.name, "load", "failed", "file exists");
    int before = gDiffs;
    for (const Query& q : c.queries) {
        std::string where = Show(q.section) + "/" + Show(q.key);
        std::wstring ours = doc.ReadString(q.section, q.key), sys = SystemRead(file, q.section, q.key, L"");
        if (ours != sys) Diff(c.name, where, Show(ours), Show(sys));
        ours = doc.ReadString(q.section, q.key, L"'dflt'  ");
        sys = SystemRead(file, q.section, q.key, L"'dflt'  ");
        if (ours != sys) Diff(c.name, where + " with default", Show(ours), Show(sys));
        if (ours != tide::ReadIniString(file, q.section, q.key) && ours != L"dflt")
            Diff(c.name, where + " ReadIniString", Show(tide::ReadIniString(file, q.section, q.key)), Show(ours));
    }
    auto a = doc.SectionNames(), b = SystemSections(file);
    std::string sa, sb;
    for (auto& s : a) sa += Show(s) + " ";
    for (auto& s : b) sb += Show(s) + " ";
    if (sa != sb) Diff(c.name, "sections", sa, sb);
    if (gDiffs == before) printf("ok %s (%zu queries, %zu sections)\n", c.name, c.queries.size(), b.size());
}

std::vector<Query> Cross(std::vector<std::wstring> sections, std::vector<std::wstring> keys) {
    std::vector<Query> q;
    for (auto& s : sections)
        for (auto& k : keys) q.push_back({s, k});
    return q;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: ini_crosscheck.exe SCRATCH_DIR\n");
        return 100;
    }
    const std::wstring dir = argv[1];
    const UINT acp = GetACP();
    printf("ANSI code page %u\n", acp);

    std::vector<Case> cases;
    cases.push_back({"manifest",
                     "[GENERAL]\r\nVERSION=4.2.1\r\n\r\n[JRE]\r\nFILE_NAME = jre-windows-i586.exe  \r\n"
                     "FILE_SIZE=\t62750384\r\nFILE_MD5SUM=\"0CC175B9C0F1B6A831C399E269772661\"\r\n"
                     "[TW]\nFILE_NAME='tidewell.war'\n",
                     Cross({L"GENERAL", L"general", L" Jre\t", L"JRE", L"tw", L"NOPE", L""},
                           {L"VERSION", L"FILE_NAME", L"file_size", L" FILE_MD5SUM ", L"NOPE", L""})});
    cases.push_back({"quotes",
                     "[Q]\ndouble=\"x\"\nsingle='x'\nmixed=\"x'\ninner=a\"b\"\ntwice=\"\"x\"\"\nlone=\"\n"
                     "empty=\"\"\nspaced=\"  padded  \"\nopen=\"abc\nsq1='\nblank=\n",
                     Cross({L"Q"}, {L"double", L"single", L"mixed", L"inner", L"twice", L"lone", L"empty", L"spaced",
                                    L"open", L"sq1", L"blank"})});
    {
        std::string t = "[L]\n";
        t += "exact=" + std::string(2047, 'a') + "\n";
        t += "over=" + std::string(2048, 'b') + "\n";
        t += "long=" + std::string(5000, 'c') + "\n";
        t += "qfit=\"" + std::string(2046, 'd') + "\"\n";
        t += "q2047=\"" + std::string(2047, 'e') + "\"\n";
        t += "q2048=\"" + std::string(2048, 'f') + "\"\n";
        t += "qlong='" + std::string(3000, 'g') + "'\n";
        cases.push_back({"lengths", t,
                         Cross({L"L"}, {L"exact", L"over", L"long", L"qfit", L"q2047", L"q2048", L"qlong"})});
    }
    const std::wstring unicodeText = L"[S]\r\nK=\u20AC \u00E9\r\n[\u00C4rger]\r\n\u00D6L= eins \r\n";
    const std::vector<Query> unicodeQueries =
        Cross({L"S", L"s", L"\u00C4rger", L"\u00E4RGER"}, {L"K", L"k", L"\u00D6L", L"\u00F6l"});
    cases.push_back({"utf16le", Utf16(unicodeText, false), unicodeQueries});
    cases.push_back({"utf16be", Utf16(unicodeText, true), unicodeQueries});
    cases.push_back({"utf8bom",
                     "\xEF\xBB\xBF[S]\r\nK=\xE2\x82\xAC \xC3\xA9\r\n[\xC3\x84rger]\r\n\xC3\x96L= eins \r\n",
                     unicodeQueries});
    cases.push_back({"ascii_bom_less", "[S]\nK=v\n[T]\nK = w\n", Cross({L"S", L"T"}, {L"K"})});
    if (acp == 1252)
        cases.push_back({"cp1252", "[S]\r\nK=\x80 \xE9\r\n[\xC4rger]\r\n\xD6L=1\r\n", unicodeQueries});
    else
        printf("skip cp1252 (the ANSI code page is %u)\n", acp);
    cases.push_back({"comments",
                     "; leading comment\n[S]\n;FILE_NAME=old.exe\nFILE_SIZE=10 ; not a comment\n# hash=1\n",
                     Cross({L"S"}, {L"FILE_NAME", L";FILE_NAME", L"FILE_SIZE", L"# hash", L"#hash"})});
    cases.push_back({"duplicates", "[A]\nK=first\nk=second\n[B]\nX=1\n[a]\nK=third\nONLYLATER=yes\n",
                     Cross({L"A", L"a", L"B"}, {L"K", L"ONLYLATER", L"X"})});
    cases.push_back({"section_lines",
                     "K=before any section\n[TW]\nA=1\n[  JRE ]\nB=2\n[]\nC=3\n[UNZIP] trailing\nD=4\n[broken\nE=5\n"
                     "[x]y]\nF=6\n   [GENERAL]   \nG=7\n",
                     Cross({L"TW", L"JRE", L"  JRE ", L"", L"UNZIP", L"broken", L"x]y", L"x", L"GENERAL"},
                           {L"K", L"A", L"B", L"C", L"D", L"E", L"[broken", L"F", L"G"})});
    cases.push_back({"line_ends", "[S]\rA=1\nB=2\r\n\r\nC=3\n\rD=4", Cross({L"S"}, {L"A", L"B", L"C", L"D"})});
    cases.push_back({"no_equals", "[S]\nFLAG\nFLAG=later\nEMPTY=\n=nameless\n=second nameless\nZ=z\n",
                     Cross({L"S"}, {L"FLAG", L"EMPTY", L"", L"Z"})});
    cases.push_back({"blanks", "[S]\nTAB=\tv\t\nEOF=\x1Av\x1A\nVT=\x0Bv\x0C\nNBSP=\xA0v\xA0\nIN= a  b \n",
                     Cross({L"S"}, {L"TAB", L"EOF", L"VT", L"NBSP", L"IN"})});
    cases.push_back({"empty", "", Cross({L"S"}, {L"K"})});

    for (const Case& c : cases) Check(dir, c);

    // A missing file reads as empty (or the default), with no sections.
    std::wstring missing = dir + L"\\missing.ini";
    IniDocument doc;
    bool loaded = IniDocument::Load(missing, doc);
    std::wstring sys = SystemRead(missing, L"S", L"K", L""), sysDef = SystemRead(missing, L"S", L"K", L"d ");
    if (loaded || !doc.SectionNames().empty() || tide::ReadIniString(missing, L"S", L"K") != sys ||
        doc.ReadString(L"S", L"K", L"d ") != sysDef)
        Diff("missing", "S/K", Show(tide::ReadIniString(missing, L"S", L"K")), Show(sys));
    else
        printf("ok missing file\n");

    printf("%d disagreement(s)\n", gDiffs);
    return gDiffs;
}
