// Conversions between the program's UTF-16 text and the bytes of files,
// pipes and the native test build's narrow strings.
#pragma once

#include <string>

namespace tide {

std::string WideToUtf8(const std::wstring& s);
std::wstring Utf8ToWide(const std::string& s);
// One character per byte, byte n becoming code point n.
std::wstring Latin1ToWide(const std::string& s);

}  // namespace tide
