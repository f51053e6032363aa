#include "base/encoding.h"

#include <cstdint>

namespace tide {
namespace {

// Windows-1252: Latin-1 except for 0x80-0x9F. Bytes that the code page
// leaves undefined keep their own value, as MultiByteToWideChar does.
const uint16_t kCp1252High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::wstring Cp1252ToWide(const std::string& bytes, size_t from) {
    std::wstring r;
    r.reserve(bytes.size() - from);
    for (size_t i = from; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        r += (b >= 0x80 && b < 0xA0) ? static_cast<wchar_t>(kCp1252High[b - 0x80]) : static_cast<wchar_t>(b);
    }
    return r;
}

std::wstring Utf16ToWide(const std::string& bytes, size_t from, bool bigEndian) {
    std::wstring r;
    r.reserve((bytes.size() - from) / 2);
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        unsigned lo = static_cast<unsigned char>(bytes[i]), hi = static_cast<unsigned char>(bytes[i + 1]);
        unsigned unit = bigEndian ? (lo << 8 | hi) : (hi << 8 | lo);
        r += static_cast<wchar_t>(unit);
    }
    if (sizeof(wchar_t) > 2) {
        // Join surrogate pairs into code points where wchar_t holds them,
        // as the UTF-8 decoder does.
        std::wstring j;
        j.reserve(r.size());
        for (size_t i = 0; i < r.size(); ++i) {
            unsigned c = static_cast<unsigned>(r[i]);
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < r.size()) {
                unsigned d = static_cast<unsigned>(r[i + 1]);
                if (d >= 0xDC00 && d < 0xE000) {
                    j += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
                    ++i;
                    continue;
                }
            }
            j += r[i];
        }
        return j;
    }
    return r;
}

}  // namespace

std::wstring DecodeText(const std::string& bytes) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    // A UTF-8 byte-order mark is honoured, as Wine does and as the rest of
    // the program does for files it reads; older Windows versions read it
    // as three ANSI characters, which would hide the first section.
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return Utf8ToWide(bytes.substr(3));
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) return Utf16ToWide(bytes, 2, false);
    if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) return Utf16ToWide(bytes, 2, true);
    return Cp1252ToWide(bytes, 0);
}

std::string WideToAnsi(const std::wstring& s) {
    std::string r;
    r.reserve(s.size());
    for (wchar_t w : s) {
        uint32_t c = static_cast<uint32_t>(w);
        char b = '?';
        if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
            b = static_cast<char>(c);
        } else {
            for (int i = 0; i < 32; ++i)
                if (kCp1252High[i] == c) b = static_cast<char>(0x80 + i);
        }
        r += b;
    }
    return r;
}


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
        // A sequence cut short by the end of the text is bad like one cut
        // short by any other byte: its lead becomes U+FFFD and decoding goes
        // on with the next byte, so no byte after it (a line break, say) is
        // lost and a text decodes the same whole or cut at an ASCII byte.
        bool bad = false;
        for (size_t k = 1; k < n; ++k) {
            unsigned char t = i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0;
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

std::wstring AnsiToWide(const std::string& s) { return Cp1252ToWide(s, 0); }

std::wstring Latin1ToWide(const std::string& s) {
    std::wstring r;
    r.reserve(s.size());
    for (unsigned char b : s) r += static_cast<wchar_t>(b);
    return r;
}

}  // namespace tide
