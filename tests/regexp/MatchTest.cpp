// Matching: leftmost-longest, the line anchors and their two separators, and cp932 characters.
#include <gtest/gtest.h>

#include "tests/regexp/RegexpTestUtil.h"

namespace norvex::test {
namespace {

struct Case {
    std::string pattern;
    std::string subject;
    Found found;
    TMatchCORE_LineSeparator separator = mcls_CRLF;
};

void CheckAll(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(MatchOf(c.pattern, c.subject, c.separator), c.found)
            << "/" << c.pattern << "/ on \"" << c.subject << "\" separator " << c.separator;
}

TEST(MatchTest, PatternsTheSystemUses) {
    CheckAll({
        {"[_ \\.0-9]+[a-z]?$", "files_01", {6, 3}},
        {"[_ \\.0-9]+[a-z]?$", "v1.2b", {2, 4}},
        {"[_ \\.0-9]+[a-z]?$", "abc", {0, 0}},
        {"[_ \\.0-9]+[a-z]?$", "2009", {1, 4}},
        {"[_ \\.0-9]+[a-z]?$", Sj("写真_2009"), {5, 5}},
        {"part[0-9]+\\..*$", "name.part2.rar", {6, 9}},
        {"part[0]*1\\..*$", "name.part001.rar", {6, 11}},
        {"part[0]*1\\..*$", "name.part2.rar", {0, 0}},
        {"name\\.r[0-9]+$", "name.r00", {1, 8}},
        {"name\\.r[0-9]+$", "name.rar", {0, 0}},
    });
}

TEST(MatchTest, LeftmostThenLongest) {
    CheckAll({
        {"abc", "xxabcabc", {3, 3}},
        {"a*", "baaa", {1, 0}},  // the empty match at the first position wins
        {"a|ab", "ab", {1, 2}},
        {"(a|ab)(c|bcd)", "abcd", {1, 4}},
        {"x*y", "xxzxy", {4, 2}},
        {"", "", {1, 0}},
        {"", "abc", {1, 0}},
        {"a", "", {0, 0}},
        {"()", "abc", {1, 0}},
        {"a+", "baab", {2, 2}},
        {"(a*)*b", "aab", {1, 3}},
        {"((a+)+)+$", "aaa", {1, 3}},
    });
}

TEST(MatchTest, LineAnchors) {
    CheckAll({
        {"^b", "a\nb", {3, 1}},
        {"^b", "ab", {0, 0}},
        {"^b", "a\rb", {0, 0}},  // only a line feed starts a line
        {"a^b", "a^b", {1, 3}},  // not at the start: the character itself
        {"x*^a", "x^a", {1, 3}},
        {"^*", "^^a", {1, 2}},
        {"(^a|b)c", "xbc", {2, 2}},
        {"(^a|b)c", "x\nac", {3, 2}},
        {"(^a|b)c", "xac", {0, 0}},
        {"a$", "ab", {0, 0}},
        {"a$", "a\r\nb", {1, 1}},
        {"a$", "a\r\nb", {0, 0}, mcls_LF},
        {"a$", "a\nb", {1, 1}, mcls_LF},
        {"a$", "a\nb", {0, 0}},
        {"$", "abc", {4, 0}},
        {"$", "", {1, 0}},
        {"^$", "", {1, 0}},
        {"^$", "a\n", {3, 0}},
        {"^$", "a\n\nb", {3, 0}, mcls_LF},
        {"$a", "$a", {1, 2}},
        {"a$b", "a$b", {1, 3}},
        {"(a$|b$)", "ba", {2, 1}},
        {"a+$", "baa", {2, 2}},
        {"[_0-9]+$", "a_1\r\n_22", {2, 2}},
        // An anchored alternative must not be lost when another alternative runs on across the
        // separator: "a" ends a line here although "a\r\nb" cannot complete.
        {"a$|a\r\nb", "a\r\nc", {1, 1}},
        {"a$|a\r\nb", "a\r\nb", {1, 4}},
        {"a$|a\nb", "a\nc", {1, 1}, mcls_LF},
    });
}

TEST(MatchTest, DoubleByteCharactersAreWhole) {
    const std::string a = Sj("あ");
    CheckAll({
        {".", a + "x", {1, 2}},
        {"..", a + "x", {1, 3}},
        {"x", a + "x", {3, 1}},
        {"A", Sj("ア"), {0, 0}},  // "A" is the trail byte of ア
        {"A", Sj("アA"), {3, 1}},
        {"x", Sj("亜x"), {3, 1}},               // the trail byte of 亜 has a lead-byte value
        {"x", "\x81\x81\x81x", {0, 0}},     // x is the trail byte of the second character
        {"x", "\x81\x81\x81xx", {5, 1}},
        {"\\\\", Sj("ソ"), {0, 0}},  // a trail byte 0x5C is not a backslash
        {"\\]", Sj("ゾ"), {0, 0}},
        {Sj("[ソ]+"), Sj("ソソ\\"), {1, 4}},
        {a + "+", "x" + a + a, {2, 4}},
        {"[^x]", a, {1, 2}},
        {"\\x82a0", a, {1, 2}},
        {Sj("ｶ."), Sj("ｶﾞ"), {1, 2}},
        {"a.", "a\x82", {1, 2}},  // a lone lead byte at the end is one character of its own
        {"\\x82$", "a\x82", {2, 1}},
        {"b", "a\x82", {0, 0}},
    });
}

TEST(MatchTest, CodesNoSubjectHasNeverMatch) {
    CheckAll({
        {"\\0", "abc", {0, 0}},  // code 0 is the end of the text, never consumed
        {"a\\0*", "a", {1, 1}},
        {"a\\0", "a", {0, 0}},
        {"[\\0-a]+", "a", {1, 1}},
        {"\\xFFFF", "abc", {0, 0}},  // not an empty transition
        {"a\\xFFFFb", "ab", {0, 0}},
        {"\\xFFFDa", "a", {0, 0}},  // not a line head
        {"a\\xFFFE", "a", {0, 0}},  // not a line tail
        {"a[\\xFFF0-\\xFFFF]", "a", {0, 0}},
        {"ab", std::string("a\0b", 3), {0, 0}},  // the subject ends at its first NUL
    });
}

TEST(MatchTest, FreshObjectMatchesLikeTheEmptyPattern) {
    TAWKStr re;
    EXPECT_EQ(MatchOf(re, "abc"), (Found{1, 0}));
    EXPECT_EQ(re.RegExp(), "");
}

}  // namespace
}  // namespace norvex::test
