// Grammar and errors: the tree each pattern parses into, and the message and position of each
// syntax error.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/regexp/RegexpTestUtil.h"

namespace norvex::test {
namespace {

// A compact picture of a tree: cat(l,r), alt(l,r), star(x), empty, none, ^, $, and leaves as the
// character or [lo-hi] in hex.
std::string Show(const TRENode* n) {
    switch (n->Op) {
        case TREOperator::Char: {
            if (n->Lo == n->Hi && n->Lo > 0x20 && n->Lo < 0x7F) return std::string(1, char(n->Lo));
            char buf[24];
            std::snprintf(buf, sizeof buf, "[%X-%X]", n->Lo, n->Hi);
            return buf;
        }
        case TREOperator::LHead: return "^";
        case TREOperator::LTail: return "$";
        case TREOperator::Concat: return "cat(" + Show(n->Left) + "," + Show(n->Right) + ")";
        case TREOperator::Union: return "alt(" + Show(n->Left) + "," + Show(n->Right) + ")";
        case TREOperator::Closure: return "star(" + Show(n->Left) + ")";
        case TREOperator::Empty: return "empty";
        case TREOperator::Nothing: return "none";
    }
    return "?";
}

std::string Tree(const std::string& pattern) {
    TREParser parser(pattern);
    parser.Parse();
    return Show(parser.ParseTree().HeadNode);
}

TEST(ParserTest, TreeShapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {"()", "empty"},
        {"(|)", "alt(empty,empty)"},
        {"(|x)", "alt(empty,x)"},
        {"abc", "cat(cat(a,b),c)"},
        {"a|b|c", "alt(alt(a,b),c)"},
        {"ab|cd", "alt(cat(a,b),cat(c,d))"},
        {"ab*", "cat(a,star(b))"},
        {"a+", "cat(a,star(a))"},
        {"a?", "alt(a,empty)"},
        {"(ab)*", "star(cat(a,b))"},
        {"{2}", "cat(cat({,2),})"},
        {"^a$", "cat(cat(^,a),$)"},
        {".", "alt(alt([1-9],[B-C]),[E-FCFC])"},
        {"[^a]", "alt(alt(alt([1-9],[B-C]),[E-60]),[62-FCFC])"},
        {"[^a-c\\x0b]", "alt(alt(alt([1-9],[E-60]),[64-FCFC]),[C-C])"},
        {"[^\\x01-\\x09\\x0b\\x0c\\x0e-\\xfcfc]", "none"},
        {"[_ \\.0-9]+[a-z]?$",
         "cat(cat(cat(alt(alt(alt(_,[20-20]),.),[30-39]),star(alt(alt(alt(_,[20-20]),.),[30-39]))),"
         "alt([61-7A],empty)),$)"},
    };
    for (const auto& [pattern, shape] : cases) EXPECT_EQ(Tree(pattern), shape) << pattern;
}

TEST(ParserTest, LeavesAreSharedAndMadeDisjoint) {
    TREParser parser("[a-e]|[c-g]|c|x+");
    parser.Run();
    const TREParseTree& tree = parser.ParseTree();
    std::vector<std::pair<int, int>> ranges;
    for (const TRENode* leaf : tree.LeafList()) ranges.emplace_back(leaf->Lo, leaf->Hi);
    std::sort(ranges.begin(), ranges.end());
    const std::vector<std::pair<int, int>> expected = {{'a', 'b'}, {'c', 'c'}, {'d', 'e'}, {'f', 'g'}, {'x', 'x'}};
    EXPECT_EQ(ranges, expected);
    // The leaf that was split became, in place, the union of its pieces.
    EXPECT_EQ(Show(tree.HeadNode),
              "alt(alt(alt(alt(alt([61-62],c),[64-65]),alt(alt(c,[64-65]),[66-67])),c),cat(x,star(x)))");
}

TEST(ParserTest, SyntaxErrorsCarryMessageAndPosition) {
    struct Case {
        std::string pattern;
        const char* message;
        int pos;
    };
    const Case cases[] = {
        {"a**", remsg::NeedOperand, 4},
        {"a+?", remsg::NeedOperand, 4},
        {"a?*", remsg::NeedOperand, 4},
        {"*a", remsg::NeedOperand, 2},
        {"a|*", remsg::NeedOperand, 4},
        {"(]", remsg::NeedOperand, 3},
        {"a)", remsg::ExtraCharacters, 3},
        {"(a", remsg::NeedRightParen, 3},
        {"((a)", remsg::NeedRightParen, 5},
        {"[z-a]", remsg::BadRange, 5},
        {"[abc", remsg::NeedRightBracket, 5},
        {"[", remsg::NeedRightBracket, 2},
        {"[a-", remsg::NeedRightBracket, 4},
        {"[]", remsg::BadClass, 3},
        {"[^]", remsg::BadClass, 4},
        {"\\x", remsg::BadHex, 3},
        {"\\xg", remsg::BadHex, 3},
        {"\\200000", remsg::BadOctal, 8},
        {"\\", remsg::NothingAfterBackslash, 2},
        {"[a\\", remsg::NothingAfterBackslash, 4},
        {"a\x82", remsg::BadDoubleByte, 2},  // the stray lead byte
        {Sj("あ") + "\x82", remsg::BadDoubleByte, 3},
        {std::string(TREParser::MaxGroupDepth + 1, '(') + "a" + std::string(TREParser::MaxGroupDepth + 1, ')'),
         remsg::TooComplex, TREParser::MaxGroupDepth + 2},
    };
    for (const Case& c : cases) {
        const ParseError e = ParseErrorOf(c.pattern);
        EXPECT_EQ(e.message, c.message) << c.pattern;
        EXPECT_EQ(e.pos, c.pos) << c.pattern;
    }
    EXPECT_EQ(std::string(remsg::NeedRightBracket), Sj("右ブラケット\"]\"が必要です"));
    EXPECT_EQ(std::string(remsg::NothingAfterBackslash), Sj("\"\\\"の次には文字が必要です。"));
}

TEST(ParserTest, DeepButLegalPatternsParse) {
    const int depth = TREParser::MaxGroupDepth;
    EXPECT_EQ(ParseErrorOf(std::string(depth, '(') + "a" + std::string(depth, ')')).message, "");
    // A long concatenation is a deep left-nested chain; nothing recurses along it.
    EXPECT_EQ(MatchOf(std::string(2000, 'a'), "b" + std::string(2000, 'a')), (Found{2, 2000}));
}

}  // namespace
}  // namespace norvex::test
