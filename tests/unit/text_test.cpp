#include <gtest/gtest.h>

#include "base/error.h"
#include "base/encoding.h"
#include "base/text.h"

using namespace tide;

TEST(Text, TrimDropsBlanksAndControlCharacters) {
    EXPECT_EQ(Trim(L" \t\r\nabc d \x01"), L"abc d");
    EXPECT_EQ(Trim(L"   "), L"");
}

TEST(Text, PositionsAndPieces) {
    EXPECT_EQ(LastDelimiter(L'\\', L"C:\\a\\b"), 5u);
    EXPECT_EQ(LastDelimiter(L'/', L"abc"), 0u);
    EXPECT_EQ(RightStr(L"abc", 5), L"abc");
    EXPECT_EQ(RightStr(L"abcdef", 2), L"ef");
    EXPECT_EQ(FromPos(L"abc", 7), L"");
}

TEST(Text, StrToIntAcceptsDecimalAndRefusesTheRest) {
    EXPECT_EQ(StrToInt(L" 8080 "), 8080);
    EXPECT_EQ(StrToInt(L"-1"), -1);
    EXPECT_EQ(StrToInt(L"2147483647"), 2147483647);
    EXPECT_EQ(StrToInt(L"-2147483648"), -2147483647 - 1);
    EXPECT_THROW(StrToInt(L"2147483648"), ConvertError);
    EXPECT_THROW(StrToInt(L"12a"), ConvertError);
    EXPECT_THROW(StrToInt(L""), ConvertError);
    EXPECT_THROW(StrToInt(L"0x10"), ConvertError);
    EXPECT_EQ(StrToIntDef(L"abc", -1), -1);
}

TEST(Text, FormatUsesDotAsDecimalSeparator) {
    EXPECT_EQ(Format(L"%.1f|%8.2f|%dK", 12.34, 5.0, 7), L"12.3|    5.00|7K");
}

TEST(Text, Utf8RoundTrip) {
    std::wstring w = L"Tidewell \u00e9\u20ac";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(w)), w);
    EXPECT_EQ(WideToUtf8(L"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(Latin1ToWide("\xe9"), L"\u00e9");
}

// A sequence cut short, at the end of the text or before an ASCII byte,
// costs its lead byte only: what follows still decodes.
TEST(Text, Utf8CutSequencesLoseNothingAfterThem) {
    struct Case {
        std::string in;
        std::wstring out;
    } cases[] = {
        {"ab\xF0", L"ab\uFFFD"},
        {"\xF0" "ab", L"\uFFFD" L"ab"},
        {"\xE2\xE2", L"\uFFFD\uFFFD"},
        {"x\xE2\x82", L"x\uFFFD\uFFFD"},
        {"\xC3\r\n", L"\uFFFD\r\n"},
        {"\xE2\x82\xAC\xE2\x82", L"\u20AC\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.in;
        EXPECT_EQ(Utf8ToWide(c.in + "\r\n" + c.in), c.out + L"\r\n" + c.out) << c.in;
    }
}
