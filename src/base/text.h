// Small text operations shared by the whole program. Text is std::wstring
// throughout (UTF-16 on Windows); see the README for why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tide {

std::wstring Trim(const std::wstring& s);   // drops leading/trailing blanks and control characters
std::wstring LowerCase(const std::wstring& s);  // ASCII letters only, like the Windows comparisons of names
std::wstring UpperCase(const std::wstring& s);
bool SameText(const std::wstring& a, const std::wstring& b);  // ASCII case-insensitive equality
std::wstring LeftStr(const std::wstring& s, size_t n);
std::wstring RightStr(const std::wstring& s, size_t n);   // whole text when shorter
std::wstring FromPos(const std::wstring& s, size_t i);    // text from 0-based position i on
size_t LastDelimiter(wchar_t c, const std::wstring& s);   // 1-based; 0 when absent
bool EndsWith(const std::wstring& s, const std::wstring& tail);
bool StartsWith(const std::wstring& s, const std::wstring& head);

std::wstring IntToStr(int64_t v);
// Decimal integer with optional sign and surrounding blanks; throws
// ConvertError naming the text otherwise (also on overflow of 32 bits).
int32_t StrToInt(const std::wstring& s);
// Same, but returns def instead of throwing.
int32_t StrToIntDef(const std::wstring& s, int32_t def);

// printf-style formatting with "." as decimal separator whatever the locale.
std::wstring Format(const wchar_t* fmt, ...);

}  // namespace tide
