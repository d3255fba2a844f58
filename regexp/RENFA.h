// TRE_NFA: the nondeterministic automaton of a parse tree (Thompson construction).
#pragma once
#include <cstddef>
#include <vector>

#include "regexp/REParser.h"

namespace norvex {

struct TRE_NFATransition {
    REChar CharBegin;  // both CONST_EMPTY: an empty transition
    REChar CharEnd;
    int TransitTo;
    bool IsEmpty() const { return CharBegin == CONST_EMPTY && CharEnd == CONST_EMPTY; }
};

class TRE_NFA {
public:
    TRE_NFA(const TREParser& parser, REChar lineHeadChar, REChar lineTailChar);

    // Builds the automaton from the parser's tree. Raises ERegExpParser when it grows beyond
    // MaxStates (a pattern such as ((((a+)+)+)+)+ doubles its operand at every level).
    void Run();

    std::vector<std::vector<TRE_NFATransition>> StateList;
    int EntryState = 0;
    int ExitState = 1;
    bool LHeadFound = false;
    bool LTailFound = false;

    static constexpr std::size_t MaxStates = 100000;

private:
    int AddState();
    void AddTransition(int from, REChar lo, REChar hi, int to);
    void GenerateStateList(const TRENode* root, int entry, int exit);

    const TREParser& FParser;
    REChar FLineHeadChar;
    REChar FLineTailChar;
    std::size_t FTransitionCount = 0;
};

}  // namespace norvex
