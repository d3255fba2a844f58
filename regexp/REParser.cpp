// The grammar of the pattern dialect:
//   expression := term { "|" term }            unions, left-nested
//   term       := empty | factor { factor }    concatenations, left-nested
//   factor     := primary [ "*" | "+" | "?" ]  at most one postfix operator
//   primary    := char | "(" expression ")" | class | negated class | "." | "^" | "$"
// x+ is concat(x, closure(x)) with the one node x shared; x? is union(x, empty).
// Tested by tests/regexp/ParserTest.cpp.
#include "regexp/REParser.h"

#include <utility>

namespace norvex {

TREParser::TREParser(const AnsiString& expr) : FScanner(expr) {}

void TREParser::Error(const char* message) const { throw ERegExpParser(message, FScanner.Position()); }

void TREParser::Parse() {
    FParseTree.Clear();
    FDepth = 0;
    FScanner.SetRegExpStr(FScanner.RegExpStr());
    Next();
    FParseTree.HeadNode = Regexp();
    if (FScanner.Token() != TREToken::End) Error(remsg::ExtraCharacters);
}

void TREParser::Run() {
    Parse();
    FParseTree.ForceCharClassDisjoint();
}

TRENode* TREParser::Regexp() {
    TRENode* node = Term();
    while (FScanner.Token() == TREToken::Union) {
        Next();
        node = FParseTree.MakeInternalNode(TREOperator::Union, node, Term());
    }
    return node;
}

static bool EndsTerm(TREToken t) {
    return t == TREToken::Union || t == TREToken::RPar || t == TREToken::End;
}

TRENode* TREParser::Term() {
    if (EndsTerm(FScanner.Token())) return FParseTree.MakeInternalNode(TREOperator::Empty);
    TRENode* node = Factor();
    while (!EndsTerm(FScanner.Token()))
        node = FParseTree.MakeInternalNode(TREOperator::Concat, node, Factor());
    return node;
}

TRENode* TREParser::Factor() {
    TRENode* primary = Primary();
    switch (FScanner.Token()) {
        case TREToken::Star:
            Next();
            return FParseTree.MakeInternalNode(TREOperator::Closure, primary);
        case TREToken::Plus:
            Next();
            return FParseTree.MakeInternalNode(TREOperator::Concat, primary,
                                               FParseTree.MakeInternalNode(TREOperator::Closure, primary));
        case TREToken::QMark:
            Next();
            return FParseTree.MakeInternalNode(TREOperator::Union, primary,
                                               FParseTree.MakeInternalNode(TREOperator::Empty));
        default:
            return primary;
    }
}

void TREParser::ExpectClassClose() {
    if (FScanner.Token() != TREToken::RBra) Error(remsg::NeedRightBracket);
    Next();
}

TRENode* TREParser::Primary() {
    TRENode* node = nullptr;
    switch (FScanner.Token()) {
        case TREToken::Char:
            node = FParseTree.MakeLeaf(FScanner.Symbol(), FScanner.Symbol());
            Next();
            return node;
        case TREToken::LPar:
            if (++FDepth > MaxGroupDepth) Error(remsg::TooComplex);
            Next();
            node = Regexp();
            if (FScanner.Token() != TREToken::RPar) Error(remsg::NeedRightParen);
            --FDepth;
            Next();
            return node;
        case TREToken::LBra:
            node = CharacterClass(FParseTree);
            ExpectClassClose();
            return node;
        case TREToken::LBraNegative:
            node = NegativeCharacterClass();
            ExpectClassClose();
            return node;
        case TREToken::Dot:
            node = FParseTree.MakeAnyCharsNode();
            Next();
            return node;
        case TREToken::LHead:
            node = FParseTree.MakeAnchorNode(TREOperator::LHead, FScanner.Symbol());
            Next();
            return node;
        case TREToken::LTail:
            node = FParseTree.MakeAnchorNode(TREOperator::LTail, FScanner.Symbol());
            Next();
            return node;
        default:
            Error(remsg::NeedOperand);
    }
}

// The members of a class, joined as unions; the scanner is in class mode. Leaves the class
// close as the current token.
TRENode* TREParser::CharacterClass(TREParseTree& tree) {
    if (Next() == TREToken::RBra) Error(remsg::BadClass);
    TRENode* node = nullptr;
    while (FScanner.Token() != TREToken::RBra) {
        TRENode* member = FScanner.Token() == TREToken::Range
                              ? tree.MakeLeaf(FScanner.Symbol(), FScanner.SymbolHigh())
                              : tree.MakeLeaf(FScanner.Symbol(), FScanner.Symbol());
        node = node == nullptr ? member : tree.MakeInternalNode(TREOperator::Union, node, member);
        Next();
    }
    return node;
}

// [^...]: the members, made disjoint in a scratch tree, are cut out of the universe of `.`
// (1..9, 11..12, 14..0xFCFC); what is left, in order, is the class. So a negated class never
// matches a line break. When nothing is left the class matches nothing.
TRENode* TREParser::NegativeCharacterClass() {
    TREParseTree members;
    CharacterClass(members);
    members.ForceCharClassDisjoint();

    std::vector<std::pair<REChar, REChar>> universe = {{1, 9}, {11, 12}, {14, CONST_MAXANYCHAR}};
    for (const TRENode* m : members.LeafList()) {
        for (std::size_t i = 0; i < universe.size();) {
            const auto [a, b] = universe[i];
            if (m->Hi < a || b < m->Lo) {
                ++i;
                continue;
            }
            universe.erase(universe.begin() + static_cast<std::ptrdiff_t>(i));
            if (a < m->Lo) universe.emplace_back(a, REChar(m->Lo - 1));
            if (m->Hi < b) universe.emplace_back(REChar(m->Hi + 1), b);
        }
    }

    TRENode* node = nullptr;
    for (const auto& [a, b] : universe) {
        TRENode* leaf = FParseTree.MakeLeaf(a, b);
        node = node == nullptr ? leaf : FParseTree.MakeInternalNode(TREOperator::Union, node, leaf);
    }
    return node != nullptr ? node : FParseTree.MakeInternalNode(TREOperator::Nothing);
}

}  // namespace norvex
