// Fuzzy rewriting: the dictionary, the comma-text reader, and what patterns become.
#include <gtest/gtest.h>

#include "platform/AnsiCodec.h"
#include "tests/regexp/RegexpTestUtil.h"

namespace norvex::test {
namespace {

// The pattern the parser receives for `pattern` with the fuzzy dictionary on.
std::string Fuzzy(const std::string& pattern) {
    TREPreProcessor pre;
    pre.FuzzyCharDicList().push_back(&FuzzyCharDic());
    pre.UseFuzzyCharDic = true;
    pre.SetTargetRegExpStr(pattern);
    pre.Run();
    return pre.ProcessedRegExpStr();
}

TEST(FuzzyTest, DictionaryHoldsTheGroupsInOrder) {
    const TREDictionary& dic = FuzzyCharDic();
    ASSERT_EQ(dic.size(), 145u);
    std::string keys;
    for (const TREDictionaryGroup& group : dic) keys += group.front() + " ";
    EXPECT_EQ(keys, Sj("Ａ Ｂ Ｃ Ｄ Ｅ Ｆ Ｇ Ｈ Ｉ Ｊ Ｋ Ｌ Ｍ Ｎ Ｏ Ｐ Ｑ Ｒ Ｓ Ｔ Ｕ Ｖ Ｗ Ｘ Ｙ Ｚ 0 1 2 3 4 5 6 7 8 9 "
                       "　 ! \" # $ % & ' ( ) * + ー - ･ / : ; < = > ? @ [ \\ ] ^ _ { | } ~ , ｡ 「 」 "
                       "ん が ぎ ぐ げ ご ざ じ ず ぜ ぞ だ で ど ば び ぶ べ ぼ ぱ ぴ ぷ ぺ ぽ "
                       "あ い う え お か き く け こ さ し す せ そ た ち つ て と な に ぬ ね の "
                       "は ひ ふ へ ほ ま み む め も や ゆ よ ら り る れ ろ わ ヰ ヱ を ﾞ ﾟ "));
    auto group = [&](const char* key) {
        for (const TREDictionaryGroup& g : dic)
            if (g.front() == Sj(key)) return g;
        return TREDictionaryGroup{};
    };
    EXPECT_EQ(group("　"), (TREDictionaryGroup{Sj("　"), " "}));
    EXPECT_EQ(group("\""), (TREDictionaryGroup{"\"", Sj("”")}));
    EXPECT_EQ(group(","), (TREDictionaryGroup{",", Sj("､"), Sj("、"), Sj("，")}));
    EXPECT_EQ(group("ー"), (TREDictionaryGroup{Sj("ー"), Sj("～"), Sj("ｰ"), ""}));
    EXPECT_EQ(group("1"), (TREDictionaryGroup{"1", Sj("１"), Sj("一"), Sj("①"), Sj("Ⅰ"), Sj("壱")}));
    EXPECT_EQ(group("じ").size(), 10u);
    EXPECT_EQ(group("ぶ").back(), Sj("ｳﾞ"));
    EXPECT_EQ(group("を").back(), Sj("ｳｫ"));
}

// A member the codec would write differently never matches a name: the name's bytes come from the
// codec (full-width "＇" is 0xFA56 there; a second code of the same character is not).
TEST(FuzzyTest, EveryMemberIsWhatTheCodecMakesOfItsCharacters) {
    int members = 0;
    for (const TREDictionaryGroup& group : FuzzyCharDic()) {
        for (const AnsiString& member : group) {
            const std::string utf8 = FromAnsi(member);
            EXPECT_EQ(ToAnsi(utf8), member) << utf8;
            // No member travels as a carrier of a character cp932 lacks.
            EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos) << utf8;
            ++members;
        }
    }
    EXPECT_GT(members, 500);
    const auto& apostrophe = FuzzyCharDic()[43];
    ASSERT_EQ(apostrophe.size(), 2u);
    EXPECT_EQ(apostrophe[1], ToAnsi("＇"));
    EXPECT_EQ(apostrophe[1], "\xFA\x56");
}

TEST(FuzzyTest, CommaTextRules) {
    using V = std::vector<AnsiString>;
    EXPECT_EQ(SplitCommaText("a,b"), (V{"a", "b"}));
    EXPECT_EQ(SplitCommaText("\"a, b\",c"), (V{"a, b", "c"}));
    EXPECT_EQ(SplitCommaText("\"\"\"\",x"), (V{"\"", "x"}));
    EXPECT_EQ(SplitCommaText("a,"), (V{"a", ""}));
    EXPECT_EQ(SplitCommaText("  a  ,  b c"), (V{"a", "b", "c"}));
    EXPECT_EQ(SplitCommaText(Sj("ソ,表")), (V{Sj("ソ"), Sj("表")}));
}

TEST(FuzzyTest, PatternsAreRewrittenOutsideClasses) {
    const std::pair<const char*, const char*> cases[] = {
        {"A", "(Ａ|ａ|A|a)"},
        {"ab", "(Ａ|ａ|A|a)(Ｂ|ｂ|B|b)"},
        {"ガ", "(が|ガ|ｶﾞ|か゛|カ゛)"},
        {"か゛", "(が|ガ|ｶﾞ|か゛|カ゛)"},
        {"ｶﾞ", "(が|ガ|ｶﾞ|か゛|カ゛)"},
        {"かき", "(か|カ|ｶ)(き|キ|ｷ)"},
        {"ー", "(ー|～|ｰ|)"},
        {"-", "(-|ー|－|～|ｰ)"},
        {"\\*", "(\\*|＊)"},
        {"\\.", "(｡|\\.|。|．)"},
        {"\\\\", "(\\\\|￥)"},
        {"ぞ", "(ぞ|ゾ|ｿﾞ|そ゛|ソ゛)"},
        {"a*", "(Ａ|ａ|A|a)*"},
        {"[a-z]x", "[a-z](Ｘ|ｘ|X|x)"},
        {"[^a]", "[^a]"},
        {"^.$", "^.$"},
        {"(|)", "(|)"},
        {"漢字", "漢字"},
    };
    for (const auto& [pattern, rewritten] : cases) EXPECT_EQ(Fuzzy(Sj(pattern)), Sj(rewritten)) << pattern;
}

TEST(FuzzyTest, SwitchesRewriteTheCurrentPattern) {
    TAWKStr re;
    re.SetRegExp("abc");
    EXPECT_EQ(re.CompiledKey(re.CurrentIndex()), "abc");  // off: unchanged
    EXPECT_EQ(MatchOf(re, Sj("ＡＢＣ")), (Found{0, 0}));
    re.SetUseFuzzyCharDic(true);
    EXPECT_TRUE(re.UseFuzzyCharDic());
    EXPECT_EQ(re.RegExp(), "abc");
    EXPECT_EQ(MatchOf(re, Sj("xＡｂC")), (Found{2, 5}));
    EXPECT_EQ(re.CompiledCount(), 3u);  // with and without the dictionary: two entries

    re.SetRegExp(Sj("ぞう1"));
    EXPECT_EQ(MatchOf(re, Sj("ゾウ①")), (Found{1, 6}));
    EXPECT_EQ(MatchOf(re, Sj("ｿﾞｳ１")), (Found{1, 5}));

    // A pattern the rewriting cannot read leaves the object as it was.
    EXPECT_THROW(re.SetRegExp("[ab"), ERegExpParser);
    EXPECT_EQ(re.RegExp(), Sj("ぞう1"));
    EXPECT_EQ(MatchOf(re, Sj("ぞうー1")), (Found{0, 0}));

    re.SetUseFuzzyCharDic(false);
    re.SetUseSynonymDic(true);  // no synonym dictionary: the pattern is unchanged
    EXPECT_EQ(re.CompiledKey(re.CurrentIndex()), Sj("ぞう1"));
}

}  // namespace
}  // namespace norvex::test
