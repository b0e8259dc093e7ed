// Wildcard matcher: stars, classes, ranges, escapes and the abort rule.
#include <gtest/gtest.h>

#include <string>

#include "files/wild.h"

namespace {

TEST(WildMatch, StarsSelectFileNames)
{
    EXPECT_EQ(wild_match("*.tpl", "index.tpl"), 1);
    EXPECT_EQ(wild_match("*.tpl", "index.tpl.bak"), 0);
    EXPECT_EQ(wild_match("*tpl*", "tpl"), 1);
    EXPECT_EQ(wild_match("*.htm*", "page.html"), 1);
    EXPECT_EQ(wild_match("*img*", "logo.gif"), 0);
    EXPECT_EQ(wild_match("a**b", "ab"), 1);
    EXPECT_EQ(wild_match("*", ""), 1);
    EXPECT_EQ(wild_match("*", nullptr), 1);
    EXPECT_EQ(wild_match("**", ""), 1);
    EXPECT_EQ(wild_match("*x", ""), 0);
}

TEST(WildMatch, QuestionMarkIsExactlyOneCharacter)
{
    EXPECT_EQ(wild_match("a?c", "abc"), 1);
    EXPECT_EQ(wild_match("a?c", "ac"), 0);
    EXPECT_EQ(wild_match("?", ""), 0);
    EXPECT_EQ(wild_match("?", "ab"), 0);
}

TEST(WildMatch, MatchingIsCaseSensitive)
{
    EXPECT_EQ(wild_match("*.TPL", "index.tpl"), 0);
    EXPECT_EQ(wild_match("[A-C]", "b"), 0);
}

TEST(WildMatch, ClassesAndRanges)
{
    EXPECT_EQ(wild_match("[a-c]x", "bx"), 1);
    EXPECT_EQ(wild_match("[a-c]x", "dx"), 0);
    EXPECT_EQ(wild_match("[^a-c]x", "dx"), 1);
    EXPECT_EQ(wild_match("[^a-c]x", "bx"), 0);
    EXPECT_EQ(wild_match("[xyz]", "y"), 1);
    EXPECT_EQ(wild_match("[a-cx-z]", "y"), 1);
    EXPECT_EQ(wild_match("[a-cx-z]", "m"), 0);
}

TEST(WildMatch, BracketAndDashFirstAreMembers)
{
    EXPECT_EQ(wild_match("[]a]", "]"), 1);
    EXPECT_EQ(wild_match("[]a]", "a"), 1);
    EXPECT_EQ(wild_match("[]a]", "b"), 0);
    EXPECT_EQ(wild_match("[^]]", "]"), 0);
    EXPECT_EQ(wild_match("[-a]", "-"), 1);
    EXPECT_EQ(wild_match("[a-]", "-"), 1);  // dash before "]" is no range
    EXPECT_EQ(wild_match("[a-]", "b"), 0);
}

TEST(WildMatch, RangesCompareSignedBytes)
{
    EXPECT_EQ(wild_match("[\x80-\x7f]", "\xe9"), 1);  // -128 .. 127: everything
    EXPECT_EQ(wild_match("[a-\xff]", "b"), 0);        // 97 .. -1: empty
    EXPECT_EQ(wild_match("[\xe0-\xef]", "\xe9"), 1);
}

TEST(WildMatch, UnclosedClassRunsToPatternEnd)
{
    EXPECT_EQ(wild_match("[ab", "a"), 1);
    EXPECT_EQ(wild_match("[ab", "ax"), 0);
    EXPECT_EQ(wild_match("x[", "xa"), 0);
    EXPECT_EQ(wild_match("x[a-", "x-"), 1);
}

TEST(WildMatch, BackslashTakesNextCharacterLiterally)
{
    EXPECT_EQ(wild_match("\\*", "*"), 1);
    EXPECT_EQ(wild_match("\\*", "a"), 0);
    EXPECT_EQ(wild_match("a\\?", "a?"), 1);
    EXPECT_EQ(wild_match("a\\?", "ab"), 0);
    EXPECT_EQ(wild_match("a\\", "a\\"), 0);  // trailing backslash escapes nothing
    EXPECT_EQ(wild_match("a\\", "a"), 0);
}

TEST(WildMatch, NullArgumentsNeverMatch)
{
    EXPECT_EQ(wild_match(nullptr, "a"), 0);
    EXPECT_EQ(wild_match("a", nullptr), 0);
    EXPECT_EQ(wild_match_core(nullptr, "a"), 0);
    EXPECT_EQ(wild_match_core("a", nullptr), 0);
}

TEST(WildMatchCore, AbortsWhenNoLaterPositionCanMatch)
{
    EXPECT_EQ(wild_match_core("ab", "abc"), -1);  // text ended first
    EXPECT_EQ(wild_match_core("abc", "ab"), 0);
    EXPECT_EQ(wild_match_core("bbb", "*a"), -1);
    EXPECT_EQ(wild_match_core("", "*a"), -1);
    EXPECT_EQ(wild_match_core("aaaa", "*a*b"), -1);  // inner star gives up for the outer
    EXPECT_EQ(wild_match_core("xay", "*a?"), 1);
    EXPECT_EQ(wild_match_core("abc", "a*"), 1);
}

TEST(WildMatchCore, ManyStarsStayCheapThanksToAbort)
{
    std::string text(20000, 'a');
    EXPECT_EQ(wild_match("*a*a*a*a*a*a*a*a*a*a*a*a*b", text.c_str()), 0);
    text += 'b';
    EXPECT_EQ(wild_match("*a*a*a*a*a*a*a*a*a*a*a*a*b", text.c_str()), 1);
}

}  // namespace
