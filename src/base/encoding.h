// Conversions between the program's UTF-16 text and the bytes of files,
// pipes and the native test build's narrow strings.
#pragma once

#include <string>

namespace tide {

std::string WideToUtf8(const std::wstring& s);
std::wstring Utf8ToWide(const std::string& s);
// One character per byte, byte n becoming code point n.
std::wstring Latin1ToWide(const std::string& s);
// ANSI (Windows-1252) bytes as text, no byte-order mark looked for: what
// DecodeText makes of a file without one.
std::wstring AnsiToWide(const std::string& s);

// The bytes of a text file: UTF-8 or UTF-16 (either order) when it starts
// with their byte-order mark, else the ANSI code page. The ANSI code page
// is Windows-1252 throughout the program, for reading and writing alike, so
// that what it writes reads back the same on every machine; bytes that
// code page leaves undefined keep their own value.
std::wstring DecodeText(const std::string& bytes);
// Text as ANSI (Windows-1252) bytes; a character it cannot hold becomes "?".
std::string WideToAnsi(const std::wstring& s);

}  // namespace tide
