#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/Wildcard.h"

namespace {

struct Case {
    const char* pattern;
    const char* text;
    bool matches;
};

void ExpectAll(std::initializer_list<Case> cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(MatchesPattern(c.pattern, c.text), c.matches) << '"' << c.pattern << "\" on \"" << c.text << '"';
}

}  // namespace

TEST(MatchesPattern, DocumentedResults)
{
    ExpectAll({{"*", "", true}, {"**", "", false}, {"*?", "a", true}, {"a*??", "ab", false},
               {"abc**", "abc", false}, {"", "", true}, {"*.TXT", "readme.txt", true}, {"<a-c>x", "Bx", true},
               {"<!a-c>x", "bx", false}, {"<c-a>x", "bx", false}, {"*<0-9>.log", "2024.log", true},
               {"*<0-9>.log", "20a4.log", false}, {"*<a>b", "abzb", false}, {"a<>b", "a>b", false}});
}

TEST(MatchesPattern, LiteralsStarsAndSets)
{
    ExpectAll({{"", "a", false}, {"abc", "abcd", false}, {"abcd", "abc", false}, {"a?c", "ac", false},
               {"a*", "a", true}, {"a**", "ab", true}, {"a*c", "abbbd", false}, {"*a*b*c", "xaxbxcxc", true},
               {"?*?", "a", false}, {"<^abc>", "d", true}, {"<a-cx-z>", "y", true}, {"<a-cx-z>", "m", false},
               {"<A-C>", "b", true}, {"<-a>", "-", true}, {"<\x80-\xff>", "\xc3", true}});
    // Malformed sets never match, and nothing is read past the pattern's end.
    ExpectAll({{"<!>", "a", false}, {"<a->", "a", false}, {"<a-", "a", false}, {"<abc", "a", false},
               {"<", "<", false}, {"*<", "x", false}, {"*<0-", "x", false}, {"*<>", "x", false}});
}

// A star with a set consumes only characters of its set, wherever it stands.
TEST(MatchesPattern, StarWithSetConsumesOnlyItsSet)
{
    ExpectAll({{"file*<0-9>", "file123", true}, {"file*<0-9>", "fileabc", false}, {"file*<0-9>", "file12a", false},
               {"*<0-9>?.log", "12x.log", true}, {"*<0-9>?.log", "x12.log", false},
               {"*<0-9>*.log", "1abc.log", true}, {"*<0-9>*<a>.log", "12aa.log", true},
               {"*<0-9>*<a>.log", "12ba.log", false}, {"*<!a>x", "bcx", true}, {"*<!a>x", "bax", false}});
}

TEST(MatchesPattern, HostilePatternsFinishQuickly)
{
    const std::string text(2000, 'a');
    std::string stars;
    for (int i = 0; i < 40; ++i)
        stars += "*a";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesPattern(stars + "*b", text));
    EXPECT_TRUE(MatchesPattern(stars + "*", text));
    EXPECT_FALSE(MatchesPattern("*<a>*<a>*<a>*<a>*<a>*<a>*<a>*<a>b", text));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
