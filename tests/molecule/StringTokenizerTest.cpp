#include "molecule/StringTokenizer.h"

#include <gtest/gtest.h>

using vornax::StringTokenizer;

TEST(StringTokenizerTest, CollapsesRunsAndTrimsOneDelimiterAtEachEnd)
{
    StringTokenizer t(",,A,,B,C,,", ",");
    EXPECT_EQ(t.countTokens(), 3);
    EXPECT_EQ(t.nextToken(), "A");
    EXPECT_EQ(t.nextToken(), "B");
    EXPECT_TRUE(t.hasMoreTokens());
    EXPECT_EQ(t.nextToken(), "C");
    EXPECT_FALSE(t.hasMoreTokens());
    EXPECT_EQ(t.nextToken(), "");
    EXPECT_EQ(t.countTokens(), 0);
}

TEST(StringTokenizerTest, MultiCharacterDelimitersAndNumbers)
{
    StringTokenizer t("10 - 20 - - x", " - ");
    EXPECT_EQ(t.countTokens(), 3);
    EXPECT_EQ(t.nextIntToken(), 10);
    EXPECT_DOUBLE_EQ(t.nextFloatToken(), 20.0);
    EXPECT_EQ(t.nextIntToken(), 0); // "x" is not a number
    EXPECT_EQ(t.nextIntToken(), 0); // nothing left
}

TEST(StringTokenizerTest, EmptyInputs)
{
    EXPECT_FALSE(StringTokenizer("", ",").hasMoreTokens());
    EXPECT_FALSE(StringTokenizer("a,b", "").hasMoreTokens());
    EXPECT_EQ(StringTokenizer("abc", ",").countTokens(), 1);
    StringTokenizer only(",,,", ",");
    EXPECT_FALSE(only.hasMoreTokens());
}
