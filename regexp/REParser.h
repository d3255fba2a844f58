// TREParser: parses a pattern into a TREParseTree by recursive descent.
#pragma once
#include "regexp/REParseTree.h"
#include "regexp/REScanner.h"

namespace norvex {

class TREParser {
public:
    explicit TREParser(const AnsiString& expr);

    // Parses the whole pattern and makes the tree's leaves disjoint. Raises ERegExpParser.
    void Run();
    // Parses the whole pattern without the disjoint-leaf step, for readers that take each leaf as
    // a plain range.
    void Parse();

    TREParseTree& ParseTree() { return FParseTree; }
    const TREParseTree& ParseTree() const { return FParseTree; }

    // Groups may nest this deep; the parser recurses once per level.
    static constexpr int MaxGroupDepth = 500;

private:
    TRENode* Regexp();
    TRENode* Term();
    TRENode* Factor();
    TRENode* Primary();
    TRENode* CharacterClass(TREParseTree& tree);
    TRENode* NegativeCharacterClass();
    void ExpectClassClose();
    TREToken Next() { return FScanner.GetToken(); }
    [[noreturn]] void Error(const char* message) const;

    TREScanner FScanner;
    TREParseTree FParseTree;
    int FDepth = 0;
};

}  // namespace norvex
