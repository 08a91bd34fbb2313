// Text helpers on code page 1252: the case tables byte by byte, and the small
// string operations with their edge cases.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "base/Exception.h"
#include "env/Text.h"

namespace {

unsigned char Up(int c) { return static_cast<unsigned char>(ToUpperChar(static_cast<char>(c))); }
unsigned char Low(int c) { return static_cast<unsigned char>(ToLowerChar(static_cast<char>(c))); }

TEST(EnvText, CaseTablesAtTheirEdges) {
    struct Case {
        int byte, upper, lower;
    } cases[] = {
        {0x40, 0x40, 0x40}, {0x41, 0x41, 0x61}, {0x5A, 0x5A, 0x7A}, {0x5B, 0x5B, 0x5B}, {0x60, 0x60, 0x60},
        {0x61, 0x41, 0x61}, {0x7A, 0x5A, 0x7A}, {0x7B, 0x7B, 0x7B}, {0x8A, 0x8A, 0x9A}, {0x8B, 0x8B, 0x8B},
        {0x8C, 0x8C, 0x9C}, {0x8E, 0x8E, 0x9E}, {0x9A, 0x8A, 0x9A}, {0x9B, 0x9B, 0x9B}, {0x9C, 0x8C, 0x9C},
        {0x9E, 0x8E, 0x9E}, {0x9F, 0x9F, 0xFF}, {0xBF, 0xBF, 0xBF}, {0xC0, 0xC0, 0xE0}, {0xD7, 0xD7, 0xF7},
        {0xDE, 0xDE, 0xFE}, {0xDF, 0xDF, 0xDF}, {0xE0, 0xC0, 0xE0}, {0xF7, 0xD7, 0xF7}, {0xFE, 0xDE, 0xFE},
        {0xFF, 0x9F, 0xFF}, {0x00, 0x00, 0x00},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Up(c.byte), c.upper) << "byte " << c.byte;
        EXPECT_EQ(Low(c.byte), c.lower) << "byte " << c.byte;
    }
}

TEST(EnvText, CaseRulesOnGermanText) {
    std::string text = "Größe äöü ß Š ÿ ÷";
    UpperCaseText(text);
    EXPECT_EQ(text, "GRÖßE ÄÖÜ ß Š Ÿ ×");
    LowerCaseText(text);
    EXPECT_EQ(text, "größe äöü ß š ÿ ÷");
    EXPECT_EQ(UpperCased("abc"), "ABC");
}

TEST(EnvText, FirstLastAndDropLast) {
    EXPECT_EQ(FirstChar(""), ' ');
    EXPECT_EQ(LastChar(""), ' ');
    EXPECT_EQ(FirstChar("ab"), 'a');
    EXPECT_EQ(LastChar("ab"), 'b');
    EXPECT_EQ(DropLastChar(""), "");
    EXPECT_EQ(DropLastChar("x"), "");
    EXPECT_EQ(DropLastChar("xy"), "x");
}

TEST(EnvText, TrimmingTouchesBlanksOnly) {
    struct Case {
        const char* in;
        const char* right;
        const char* left;
        const char* both;
    } cases[] = {
        {"", "", "", ""},
        {"   ", "", "", ""},
        {"  a b  ", "  a b", "a b  ", "a b"},
        {"\ta\t", "\ta\t", "\ta\t", "\ta\t"},
        {" \t x \t ", " \t x \t", "\t x \t ", "\t x \t"},
    };
    for (const Case& c : cases) {
        std::string r = c.in, l = c.in, b = c.in;
        TrimRightBlanks(r);
        TrimLeftBlanks(l);
        TrimBlanks(b);
        EXPECT_EQ(r, c.right) << "[" << c.in << "]";
        EXPECT_EQ(l, c.left) << "[" << c.in << "]";
        EXPECT_EQ(b, c.both) << "[" << c.in << "]";
    }
}

TEST(EnvText, StripQuotes) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"\"abc\"", "abc"}, {"'abc'", "abc"},  {"\"\"", ""},       {"\"abc'", "\"abc'"},
        {"\"", "\""},       {"'", "'"},        {"abc", "abc"},     {"\"a\"b\"", "a\"b"},
        {"", ""},           {"'x\"", "'x\""},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        StripQuotes(text);
        EXPECT_EQ(text, c.out) << "[" << c.in << "]";
    }
}

TEST(EnvText, EndsWithTextIgnoresCase) {
    EXPECT_TRUE(EndsWithText(".bmp", "BILD.BMP"));
    EXPECT_TRUE(EndsWithText(".TTF", "schrift.ttf"));
    EXPECT_TRUE(EndsWithText("ä", "XÄ"));
    EXPECT_TRUE(EndsWithText("abc", "abc"));
    EXPECT_FALSE(EndsWithText("", "abc"));
    EXPECT_FALSE(EndsWithText("xabc", "abc"));
    EXPECT_FALSE(EndsWithText(".bmp", "bild.bmx"));
}

TEST(EnvText, SearchHelpers) {
    EXPECT_EQ(CutAtQuestionMark("a?b?c"), "a");
    EXPECT_EQ(CutAtQuestionMark("abc"), "abc");
    EXPECT_EQ(CutAtQuestionMark("?"), "");

    struct Case {
        char c;
        const char* text;
        int start;
        int position;
    } cases[] = {
        {'b', "abcb", 1, 2}, {'b', "abcb", 2, 2}, {'b', "abcb", 3, 4},
        {'b', "abcb", 5, 0}, {'x', "abcb", 1, 0}, {'a', "", 1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(FindCharFrom(c.c, c.text, c.start), c.position) << c.text << " " << c.start;
}

TEST(EnvText, SkipToStopsAtCharacterOrEnd) {
    const char* text = "key=value";
    const char* cursor = text;
    EXPECT_EQ(skipTo('=', cursor), '=');
    EXPECT_EQ(cursor, text + 3);
    EXPECT_EQ(skipTo('#', cursor), '\0');
    EXPECT_EQ(cursor, text + 9);
    const char* none = nullptr;
    try {
        skipTo('=', none);
        FAIL() << "no error for a null cursor";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "skipTo mit Nil-Pointer");
    }
}

TEST(EnvText, PathSeparators) {
    struct Case {
        const char* in;
        const char* added;    // AddPathSeparator
        const char* ensured;  // EnsureTrailingBackslash
        const char* dropped;  // DropTrailingBackslash
    } cases[] = {
        {"", "", "", ""},
        {"C:", "C:", "C:\\", "C:"},
        {"C:\\", "C:\\", "C:\\", "C:"},
        {"C:\\App", "C:\\App\\", "C:\\App\\", "C:\\App"},
        {"C:\\App\\\\", "C:\\App\\\\", "C:\\App\\\\", "C:\\App\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AddPathSeparator(c.in), c.added) << c.in;
        std::string ensured = c.in, dropped = c.in;
        EnsureTrailingBackslash(ensured);
        DropTrailingBackslash(dropped);
        EXPECT_EQ(ensured, c.ensured) << c.in;
        EXPECT_EQ(dropped, c.dropped) << c.in;
    }
}

TEST(EnvText, FolderAndNameParts) {
    EXPECT_EQ(FolderPart("C:\\Prog\\Tool.exe"), "C:\\Prog\\");
    EXPECT_EQ(NamePart("C:\\Prog\\Tool.exe"), "Tool.exe");
    EXPECT_EQ(FolderPart("C:Tool.exe"), "C:");
    EXPECT_EQ(NamePart("C:Tool.exe"), "Tool.exe");
    EXPECT_EQ(FolderPart("Tool.exe"), "");
    EXPECT_EQ(NamePart("Tool.exe"), "Tool.exe");
    EXPECT_TRUE(SameText("Tarnix.exe", "TARNIX.EXE"));
    EXPECT_FALSE(SameText("Tarnix.exe", "Tarnix.ex"));
    EXPECT_TRUE(StartsWithText("add\\", "ADD\\Teil\\x"));
}

// The one decimal routine against std::to_string at the edges of each integer type.
TEST(EnvText, DecimalTextAsToString) {
    using L = std::numeric_limits<std::int64_t>;
    const std::int64_t values[] = {0, 1, 9, 10, -1, -10, 4294967295LL, -2147483648LL, L::max(), L::min()};
    for (std::int64_t v : values) {
        EXPECT_EQ(DecimalText(v), std::to_string(v));
        EXPECT_EQ(DecimalText(std::uint64_t(v)), std::to_string(std::uint64_t(v)));
        EXPECT_EQ(DecimalText(std::int32_t(v)), std::to_string(std::int32_t(v)));
        EXPECT_EQ(DecimalText(std::uint32_t(v)), std::to_string(std::uint32_t(v)));
    }
}

}  // namespace
