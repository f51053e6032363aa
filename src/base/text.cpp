#include "base/text.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <limits>

#include "base/error.h"

namespace tide {

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

}  // namespace tide
