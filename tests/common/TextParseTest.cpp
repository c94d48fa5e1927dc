#include "common/TextParse.h"

#include <gtest/gtest.h>

using namespace vornax::text;

TEST(TextParseTest, ColumnsAreClippedToTheLine)
{
    const std::string line = "ATOM      1  CA  ALA A   1";
    EXPECT_EQ(columns(line, 13, 16), " CA ");
    EXPECT_EQ(columns(line, 23, 26), "   1");
    EXPECT_EQ(columns(line, 25, 40), " 1");
    EXPECT_EQ(columns(line, 27, 30), "");
    EXPECT_EQ(columns(line, 0, 3), "");
    EXPECT_EQ(columnsToEnd(line, 22), "A   1");
    EXPECT_EQ(columnsToEnd(line, 100), "");
    EXPECT_EQ(trim("  \t x y \r\n"), "x y");
    EXPECT_EQ(trim("   "), "");
}

TEST(TextParseTest, NumbersMustBeWholeAndFinite)
{
    double d = -1;
    EXPECT_TRUE(parseDouble("  100.00", d));
    EXPECT_DOUBLE_EQ(d, 100.0);
    EXPECT_TRUE(parseDouble("+2.5", d));
    EXPECT_DOUBLE_EQ(d, 2.5);
    EXPECT_TRUE(parseDouble("-1e-3", d));
    EXPECT_DOUBLE_EQ(d, -0.001);
    d = 7;
    for (const char* bad : {"", "   ", "100; 200", "12abc", "NULL", "nan", "inf", "-", "1.2.3"}) {
        EXPECT_FALSE(parseDouble(bad, d)) << bad;
        EXPECT_EQ(d, 7) << bad;
    }
    float f = 0;
    EXPECT_TRUE(parseFloat("-11.294", f));
    EXPECT_FLOAT_EQ(f, -11.294f);
    EXPECT_FALSE(parseFloat("1e60", f)); // beyond float range
}

TEST(TextParseTest, LongRunsOfBlankLinesAreCut)
{
    // 70 blank lines, every other one of blanks and '\r': its first 64 are 160 bytes.
    const std::string run70 = [] {
        std::string s;
        for (int i = 0; i < 70; ++i) s += i % 2 ? "  \r\n" : "\n";
        return s;
    }();
    const std::pair<std::string, std::string> cases[] = {
        {"A\n\n\nB\n", "A\n\n\nB\n"},
        {"A\n" + run70 + "B", "A\n" + run70.substr(0, 160) + "B"},
        {run70 + "A\n" + run70, run70.substr(0, 160) + "A\n" + run70.substr(0, 160)},
        {std::string(1000, '\n'), std::string(64, '\n')},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        std::string text = in;
        dropLongBlankRuns(text, 64);
        EXPECT_EQ(text, out) << in.size();
    }
}
