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
