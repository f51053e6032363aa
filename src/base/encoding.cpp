#include "base/encoding.h"

#include <cstdint>

namespace tide {

std::string WideToUtf8(const std::wstring& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(s[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) {
            uint32_t d = static_cast<uint32_t>(s[i + 1]);
            if (d >= 0xDC00 && d < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            r += static_cast<char>(c);
        } else if (c < 0x800) {
            r += static_cast<char>(0xC0 | (c >> 6));
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            r += static_cast<char>(0xE0 | (c >> 12));
            r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            r += static_cast<char>(0xF0 | (c >> 18));
            r += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return r;
}

std::wstring Utf8ToWide(const std::string& s) {
    std::wstring r;
    for (size_t i = 0; i < s.size();) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c;
        size_t n;
        if (b < 0x80) { c = b; n = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; }
        else { r += L'\xFFFD'; ++i; continue; }
        if (i + n > s.size()) { r += L'\xFFFD'; break; }
        bool bad = false;
        for (size_t k = 1; k < n; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) { bad = true; break; }
            c = (c << 6) | (t & 0x3F);
        }
        if (bad) { r += L'\xFFFD'; ++i; continue; }
        i += n;
        if (c >= 0x10000 && sizeof(wchar_t) == 2) {
            c -= 0x10000;
            r += static_cast<wchar_t>(0xD800 + (c >> 10));
            r += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            r += static_cast<wchar_t>(c);
        }
    }
    return r;
}

std::wstring Latin1ToWide(const std::string& s) {
    std::wstring r;
    r.reserve(s.size());
    for (unsigned char b : s) r += static_cast<wchar_t>(b);
    return r;
}

}  // namespace tide
