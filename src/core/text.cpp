#include "core/text.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <limits>

#include "core/error.h"

namespace tide {

Error::Error(const std::wstring& message) : std::runtime_error(WideToUtf8(message)), message_(message) {}

std::wstring Trim(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] <= L' ') ++b;
    while (e > b && s[e - 1] <= L' ') --e;
    return s.substr(b, e - b);
}

std::wstring LowerCase(const std::wstring& s) {
    std::wstring r = s;
    for (auto& c : r)
        if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
    return r;
}

std::wstring UpperCase(const std::wstring& s) {
    std::wstring r = s;
    for (auto& c : r)
        if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
    return r;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return LowerCase(a) == LowerCase(b); }

std::wstring LeftStr(const std::wstring& s, size_t n) { return s.substr(0, n); }

std::wstring RightStr(const std::wstring& s, size_t n) { return n >= s.size() ? s : s.substr(s.size() - n); }

std::wstring FromPos(const std::wstring& s, size_t i) { return i >= s.size() ? std::wstring() : s.substr(i); }

size_t LastDelimiter(wchar_t c, const std::wstring& s) {
    size_t p = s.rfind(c);
    return p == std::wstring::npos ? 0 : p + 1;
}

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool StartsWith(const std::wstring& s, const std::wstring& head) { return s.compare(0, head.size(), head) == 0; }

std::wstring IntToStr(int64_t v) { return std::to_wstring(v); }

int32_t StrToInt(const std::wstring& s) {
    std::wstring t = Trim(s);
    size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) neg = t[i++] == L'-';
    if (i >= t.size()) throw ConvertError(L"'" + s + L"' is not a valid integer value");
    int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < L'0' || t[i] > L'9') throw ConvertError(L"'" + s + L"' is not a valid integer value");
        v = v * 10 + (t[i] - L'0');
        if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            throw ConvertError(L"'" + s + L"' is not a valid integer value");
    }
    if (neg) v = -v;
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
        throw ConvertError(L"'" + s + L"' is not a valid integer value");
    return static_cast<int32_t>(v);
}

int32_t StrToIntDef(const std::wstring& s, int32_t def) {
    try {
        return StrToInt(s);
    } catch (const ConvertError&) {
        return def;
    }
}

std::wstring Format(const wchar_t* fmt, ...) {
    // The program never changes LC_NUMERIC from "C", so "%f" writes ".".
    std::wstring out(256, L'\0');
    for (;;) {
        va_list ap;
        va_start(ap, fmt);
        int n = std::vswprintf(&out[0], out.size(), fmt, ap);
        va_end(ap);
        if (n >= 0 && static_cast<size_t>(n) < out.size()) {
            out.resize(static_cast<size_t>(n));
            return out;
        }
        out.resize(out.size() * 2);
    }
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
