// Scanner and escapes, and bracket classes: what each written form stands for.
#include <gtest/gtest.h>

#include "tests/regexp/RegexpTestUtil.h"

namespace norvex::test {
namespace {

// Whether the whole subject is one match of the pattern.
bool Whole(const std::string& pattern, const std::string& subject) {
    return MatchOf("^(" + pattern + ")$", subject) == Found{1, static_cast<int>(subject.size())};
}

struct Case {
    std::string pattern;
    std::string subject;
    bool whole;
};

void CheckAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(Whole(c.pattern, c.subject), c.whole) << c.pattern << " on " << c.subject;
}

TEST(ScannerTest, EscapesStandForOneCharacter) {
    CheckAll({
        {"\\x41", "A", true},
        {"\\x8140", Sj("　"), true},       // hex names a double-byte code
        {"\\x41G", "AG", true},            // the first non-digit ends the hex run
        {"\\x414243", "AB", false},        // at most four digits: \x4142 then "43"
        {"\\x4", "\x04", true},            // hex at the very end: nothing is pushed back
        {"\\101", "A", true},
        {"\\0101", "A", true},
        {"\\177777", "x", false},          // 0xFFFF: accepted, matches no subject character
        {"\\q", "q", true},
        {"\\n\\r\\t\\b", "\n\r\t\b", true},
        {"\\.", ".", true},
        {"\\.", "x", false},
        {"\\*\\[\\\\\\^\\$", "*[\\^$", true},
        {"{2}", "{2}", true},              // no counted repetition
        {"a{,}", "a{,}", true},
        {"\\" + Sj("あ"), Sj("あ"), true},  // an escaped double-byte character is itself
    });
}

TEST(ScannerTest, ClassesListMembersAndRanges) {
    CheckAll({
        {"[a-]", "a", true},
        {"[a-]", "-", true},
        {"[-a]", "-", true},
        {"[-a]", "a", true},
        {"[\\]]", "]", true},
        {"[a\\-z]", "-", true},
        {"[a\\-z]", "b", false},
        {"[\\x41-\\x43]", "B", true},
        {"[\\x41-\\x43]", "D", false},
        {"[.*+?(|)^$]+", ".*+?(|)^$", true},  // operators are plain members
        {"[.*+?(|)^$]", "a", false},
        {"[" + Sj("あ-ん") + "]", Sj("か"), true},
        {"[" + Sj("あ-ん") + "]", Sj("ア"), false},
        {"[" + Sj("あ-ん") + "]", "\x82", false},
        {"[a" + Sj("あ") + "]", Sj("あ"), true},  // pushing back a double-byte character
        {"[a" + Sj("亜") + "]", Sj("亜"), true},  // its trail byte has a lead-byte value
        {"[a" + Sj("ソ") + "]", "\\", false},     // its trail byte is a backslash
        {"[^a]", "b", true},
        {"[^a]", "a", false},
        {"[^a]", "\n", false},  // a negated class never matches a line break
        {"[^a]", "\r", false},
        {"[^a]", Sj("あ"), true},
        {".", "\n", false},
        {".", "\r", false},
        {".", Sj("あ"), true},
        {".", Sj("ｶ"), true},  // half-width katakana is one byte
        {"[^\\x01-\\x09]", "\x05", false},
        {"[^\\x01-\\x09]", "a", true},
        {"[^\\x0b\\x0c]", "\x0b", false},
    });
}

TEST(ScannerTest, NegatedClassCoveringEverythingMatchesNothing) {
    const std::string all = "[^\\x01-\\x09\\x0b\\x0c\\x0e-\\xfcfc]";
    EXPECT_EQ(MatchOf(all, "abc"), (Found{0, 0}));
    EXPECT_EQ(MatchOf(all + "|b", "ab"), (Found{2, 1}));
    EXPECT_EQ(MatchOf("a" + all + "*", "ab"), (Found{1, 1}));
}

TEST(ScannerTest, TokenPositionsStepOverDoubleByteCharacters) {
    TREScanner scanner(Sj("ア[亜-]"));
    EXPECT_EQ(scanner.GetToken(), TREToken::Char);
    EXPECT_EQ(scanner.Symbol(), 0x8341);
    EXPECT_EQ(scanner.Position(), 3u);
    EXPECT_EQ(scanner.GetToken(), TREToken::LBra);
    EXPECT_EQ(scanner.GetToken(), TREToken::Char);
    EXPECT_EQ(scanner.Symbol(), 0x889F);
    EXPECT_EQ(scanner.GetToken(), TREToken::Char);
    EXPECT_EQ(scanner.Symbol(), '-');
    EXPECT_EQ(scanner.GetToken(), TREToken::RBra);
    EXPECT_EQ(scanner.GetToken(), TREToken::End);
    EXPECT_EQ(scanner.GetToken(), TREToken::End);
}

}  // namespace
}  // namespace norvex::test
