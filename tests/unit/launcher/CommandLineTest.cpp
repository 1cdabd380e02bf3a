#include <gtest/gtest.h>

#include "common/CommandLine.h"

using vexlo::splitCommandLine;

namespace {

std::vector<std::wstring> split(std::wstring_view text) {
    std::vector<std::wstring> args;
    splitCommandLine(text, args);
    return args;
}

using Args = std::vector<std::wstring>;

}  // namespace

TEST(SplitCommandLine, WhitespaceSeparatesWithoutEmptyArguments) {
    EXPECT_EQ(split(L"a b"), (Args{L"a", L"b"}));
    EXPECT_EQ(split(L"one  two"), (Args{L"one", L"two"}));
    EXPECT_EQ(split(L"one\t \ttwo"), (Args{L"one", L"two"}));
    EXPECT_EQ(split(L"word   "), (Args{L"word"}));
    EXPECT_EQ(split(L"single"), (Args{L"single"}));
    // Only space and tab separate.
    EXPECT_EQ(split(L"a\nb\rc\vd"), (Args{L"a\nb\rc\vd"}));
}

TEST(SplitCommandLine, LeadingWhitespaceGivesAnEmptyFirstArgument) {
    EXPECT_EQ(split(L" a"), (Args{L"", L"a"}));
    EXPECT_EQ(split(L"\t\ta b"), (Args{L"", L"a", L"b"}));
    EXPECT_EQ(split(L"   "), (Args{L""}));
}

TEST(SplitCommandLine, EmptyTextGivesNothingAndAppends) {
    Args args{L"kept"};
    splitCommandLine(L"", args);
    EXPECT_EQ(args, (Args{L"kept"}));
    splitCommandLine(L"x y", args);
    EXPECT_EQ(args, (Args{L"kept", L"x", L"y"}));
}

TEST(SplitCommandLine, QuotedPartsKeepWhitespace) {
    EXPECT_EQ(split(L"\"C:\\Program Files\\app.exe\" -x"), (Args{L"C:\\Program Files\\app.exe", L"-x"}));
    EXPECT_EQ(split(L"\"a\tb\""), (Args{L"a\tb"}));
    // Quotes open and close in the middle of an argument.
    EXPECT_EQ(split(L"-Dx=\"a b\"c d"), (Args{L"-Dx=a bc", L"d"}));
    EXPECT_EQ(split(L"ab\"cd\"ef"), (Args{L"abcdef"}));
    // An unclosed quote runs to the end.
    EXPECT_EQ(split(L"\"a b"), (Args{L"a b"}));
}

TEST(SplitCommandLine, EmptyQuotesGiveAnEmptyArgument) {
    EXPECT_EQ(split(L"\"\""), (Args{L""}));
    EXPECT_EQ(split(L"a \"\" b"), (Args{L"a", L"", L"b"}));
    EXPECT_EQ(split(L"a \"\""), (Args{L"a", L""}));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsLiteralAndStaysQuoted) {
    EXPECT_EQ(split(L"\"say \"\"hi there\"\" now\""), (Args{L"say \"hi there\" now"}));
    EXPECT_EQ(split(L"\"a\"\"b c\""), (Args{L"a\"b c"}));
    // Three quotes: open, close, then a literal quote that opens again.
    EXPECT_EQ(split(L"\"\"\"x y\""), (Args{L"\"x y"}));
    // Four quotes: open, close, literal, close.
    EXPECT_EQ(split(L"\"\"\"\" z"), (Args{L"\"", L"z"}));
}

TEST(SplitCommandLine, BackslashesNeverEscape) {
    EXPECT_EQ(split(L"a\\\"b c\""), (Args{L"a\\b c"}));
    EXPECT_EQ(split(L"\"C:\\dir\\\\\" next"), (Args{L"C:\\dir\\\\", L"next"}));
    EXPECT_EQ(split(L"\\\\server\\share\\"), (Args{L"\\\\server\\share\\"}));
}

TEST(SplitCommandLine, QuoteAfterWhitespaceStartsTheNextArgument) {
    EXPECT_EQ(split(L"a \"b c\" d"), (Args{L"a", L"b c", L"d"}));
    EXPECT_EQ(split(L"\"x\" \"y\""), (Args{L"x", L"y"}));
}

TEST(SplitCommandLine, NonAsciiTextPassesUnchanged) {
    EXPECT_EQ(split(L"\u0437\u0430\u043f\u0443\u0441\u043a \"\u65e5\u672c \u8a9e\""),
              (Args{L"\u0437\u0430\u043f\u0443\u0441\u043a", L"\u65e5\u672c \u8a9e"}));
}

TEST(SplitCommandLine, NextArgumentReportsWhereTheNextOneStarts) {
    std::wstring arg;
    std::wstring_view text = L"ab  \"c d\"";
    auto next = vexlo::detail::nextArgument(text, 0, arg);
    EXPECT_EQ(arg, L"ab");
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(*next, 4u);
    next = vexlo::detail::nextArgument(text, *next, arg);
    EXPECT_EQ(arg, L"c d");
    EXPECT_FALSE(next.has_value());
}
