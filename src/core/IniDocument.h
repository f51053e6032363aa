// The Windows INI text format read with the semantics of
// GetPrivateProfileStringW: "[name]" opens a section, "key=value" gives a
// value, section and key names match without regard to letter case, blanks
// around a value are dropped, one pair of matching quotes around a value is
// removed, a value holds at most 2047 characters, and a missing section or
// key reads as empty text (or the given default).
//
// Details that follow the Windows reader (checked against Wine's kernel32
// by tests/win/ini_crosscheck.cpp):
//  - Encoding: a UTF-16LE, UTF-16BE or UTF-8 byte-order mark decides the
//    encoding; without one the bytes are ANSI, decoded as Windows-1252 (the
//    code page of Western Windows systems; manifests are ASCII in practice).
//  - Lines end at CR, LF or any run of them. Blanks are space, tab, CR, LF,
//    VT, FF and ^Z (0x1A).
//  - Lines beginning with ";" are not special: ";KEY=v" defines a key named
//    ";KEY", so a commented-out key never answers for KEY.
//  - The first of duplicate keys in a section wins; of duplicate sections
//    only the first is searched for keys (a later "[S]" is listed by
//    SectionNames but its keys are never found).
//  - A section name is the text between "[" and the last "]" of the line,
//    blanks trimmed. Lines before the first section belong to a section
//    named "" (found by a lookup of "", not listed). A line "key" without
//    "=" is a key without value, which reads as the default.
//  - Only ASCII letters match regardless of case.
#pragma once

#include <string>
#include <vector>

namespace tide {

class IniDocument {
public:
    // Parses text as read from a file (see the encoding rules above).
    static IniDocument FromBytes(const std::string& bytes);
    // Loads through platform::Files(); false when the file cannot be opened
    // or read (the document is then empty).
    static bool Load(const std::wstring& path, IniDocument& out);

    // The value of key in section, or def (trailing spaces dropped) when
    // either is missing. Unquoted and limited to 2047 characters.
    std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                            const std::wstring& def = L"") const;
    // Names of all sections in file order, as written (duplicates included).
    std::vector<std::wstring> SectionNames() const;
    bool HasSection(const std::wstring& section) const;

    // The longest value a read returns (the 2048-character buffer of
    // GetPrivateProfileStringW less its terminating zero).
    static constexpr size_t kMaxValueLength = 2047;

private:
    struct Key {
        std::wstring name;
        bool hasValue = false;
        std::wstring value;
    };
    struct Section {
        std::wstring name;  // empty for the lines before the first section
        std::vector<Key> keys;
    };
    const Section* FindSection(const std::wstring& section) const;

    std::vector<Section> sections_;
};

// GetPrivateProfileStringW(section, key, "", ...) on the file at path: the
// value, or empty text when the file, section or key is missing.
// (Implemented on the document above, so the native build reads the same.)
std::wstring ReadIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key);

}  // namespace tide
