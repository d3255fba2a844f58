// The cache of compiled patterns, bad patterns, and the bound on automaton size.
#include <gtest/gtest.h>

#include "tests/regexp/RegexpTestUtil.h"

namespace norvex::test {
namespace {

TEST(CacheTest, NewPatternsGoFirstAndTheOldestFallOut) {
    TAWKStr re;
    EXPECT_EQ(re.CompiledCount(), 1u);
    for (int i = 0; i < 40; ++i) re.SetRegExp("p" + std::to_string(i));
    EXPECT_EQ(re.CompiledCount(), TRegularExpression::CompiledListCapacity);
    EXPECT_EQ(re.CompiledKey(0), "");
    EXPECT_EQ(re.CompiledKey(1), "p39");
    EXPECT_EQ(re.CompiledKey(29), "p11");

    // A hit selects the entry and reorders nothing.
    re.SetRegExp("p20");
    EXPECT_EQ(re.CurrentIndex(), 20u);
    EXPECT_EQ(re.CompiledKey(1), "p39");
    EXPECT_EQ(MatchOf(re, "xp20"), (Found{2, 3}));
    re.SetRegExp("");
    EXPECT_EQ(re.CurrentIndex(), 0u);
    // A miss compiles into index 1 again.
    re.SetRegExp("p5");
    EXPECT_EQ(re.CurrentIndex(), 1u);
    EXPECT_EQ(re.CompiledKey(29), "p12");
}

TEST(CacheTest, BadPatternLeavesTheEmptyPattern) {
    TAWKStr re;
    re.SetRegExp("a$");
    re.SetRegExp("b");
    const std::size_t count = re.CompiledCount();
    EXPECT_THROW(re.SetRegExp("a)"), ERegExpParser);
    EXPECT_EQ(re.RegExp(), "");
    EXPECT_EQ(re.CurrentIndex(), 0u);
    EXPECT_EQ(re.CompiledCount(), count);  // the failed entry is not kept
    EXPECT_EQ(MatchOf(re, "xyz"), (Found{1, 0}));

    re.SetRegExp("a$");  // still cached
    EXPECT_EQ(MatchOf(re, "ba"), (Found{2, 1}));
    EXPECT_THROW(re.SetRegExp("[z-a]"), ERegExpParser);
    EXPECT_EQ(MatchOf(re, "ba"), (Found{1, 0}));  // the anchored procedure on the empty pattern
}

TEST(CacheTest, ExplosivePatternsAreRefused) {
    // (a|b)*a(a|b)^n needs 2^(n+1) deterministic states.
    auto pattern = [](int n) {
        std::string p = "(a|b)*a";
        for (int i = 0; i < n; ++i) p += "(a|b)";
        return p;
    };
    const ParseError refused = ParseErrorOf(pattern(16));
    EXPECT_EQ(refused.message, remsg::TooComplex);
    EXPECT_EQ(refused.message, Sj("正規表現が複雑すぎます。"));

    TAWKStr re;
    re.SetRegExp(pattern(8));
    EXPECT_EQ(MatchOf(re, "bbabbbbbbbb"), (Found{1, 11}));
    EXPECT_EQ(MatchOf(re, "bbbbbbbbbbb"), (Found{0, 0}));

    // Each "+" copies its operand, so nesting doubles the automaton.
    std::string nested = "a";
    for (int i = 0; i < 40; ++i) nested = "(" + nested + ")+";
    EXPECT_EQ(ParseErrorOf(nested).message, remsg::TooComplex);
    EXPECT_THROW(re.SetRegExp(nested), ERegExpParser);
    EXPECT_EQ(re.RegExp(), "");
}

}  // namespace
}  // namespace norvex::test
