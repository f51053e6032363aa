#include <gtest/gtest.h>

#include "base/encoding.h"
#include "core/text_file.h"
#include "release_fixture.h"

using namespace tide;
using tide::testing::FakeMachine;

TEST(TextFile, ReadsByByteOrderMarkAndSplitsEveryBreak) {
    FakeMachine m;
    const std::wstring path = L"C:\\t\\f.txt";
    m.fs.MakeDirectory(L"C:\\t");
    const std::vector<std::wstring> abc{L"a\u00E9", L"", L"b", L"c"};
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"ANSI, CR LF", "a\xE9\r\n\r\nb\r\nc\r\n"},
        {"ANSI, LF and a lone CR, no final break", "a\xE9\n\rb\nc"},
        {"UTF-8 mark", "\xEF\xBB\xBF" "a\xC3\xA9\r\n\r\nb\r\nc"},
        {"UTF-16LE mark", std::string("\xFF\xFE" "a\0\xE9\0\r\0\n\0\n\0b\0\r\0c\0", 18)},
    };
    for (const auto& c : cases) {
        m.WriteFile(path, c.bytes);
        EXPECT_EQ(ReadTextLines(path), abc) << c.name;
    }
}

TEST(TextFile, WritesAnsiWithoutMarkEveryLineEndedByCrLf) {
    FakeMachine m;
    m.fs.MakeDirectory(L"C:\\t");
    m.WriteFile(L"C:\\t\\f.txt", "old content that is longer");
    WriteTextLines(L"C:\\t\\f.txt", {L"set X=\u00E9\u20AC", L"", L"\u4E00"});
    std::string bytes;
    ASSERT_TRUE(m.ReadFile(L"C:\\t\\f.txt", bytes));
    EXPECT_EQ(bytes, "set X=\xE9\x80\r\n\r\n?\r\n");
    EXPECT_THROW(ReadTextLines(L"C:\\t\\missing.txt"), IoError);
}

// What is written reads back as written, also when the first line begins
// with the bytes of a byte-order mark (a mark an ANSI read kept as text).
TEST(TextFile, WrittenLinesReadBackTheSame) {
    FakeMachine m;
    m.fs.MakeDirectory(L"C:\\t");
    struct Case {
        std::vector<std::wstring> lines, back;
    } cases[] = {
        {{L"\u00EF\u00BB\u00BF@echo off", L"rem caf\u00E9"}, {L"@echo off", L"rem caf\u00E9"}},
        {{L"\u00FF\u00FEx"}, {L"x"}},
        {{L"\u00FE\u00FF", L"y"}, {L"", L"y"}},
        {{L"\u00FE\u00FF\u00FF\u00FEz"}, {L"z"}},
        {{L"a\u00EF\u00BB\u00BF"}, {L"a\u00EF\u00BB\u00BF"}},
    };
    for (const auto& c : cases) {
        WriteTextLines(L"C:\\t\\f.txt", c.lines);
        EXPECT_EQ(ReadTextLines(L"C:\\t\\f.txt"), c.back) << WideToUtf8(c.lines[0]);
    }
}
