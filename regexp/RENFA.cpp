// Thompson construction over the parse tree, with the anchors decided by position: `^` anchors
// only when generated from the entry state and `$` only when generated into the final state;
// anywhere else they are the characters themselves. Tested by the differential test in
// tests/regexp/DifferentialTest.cpp and by tests/regexp/AnchorTest.cpp.
#include "regexp/RENFA.h"

#include <algorithm>
#include <tuple>

namespace norvex {

TRE_NFA::TRE_NFA(const TREParser& parser, REChar lineHeadChar, REChar lineTailChar)
    : FParser(parser), FLineHeadChar(lineHeadChar), FLineTailChar(lineTailChar) {}

int TRE_NFA::AddState() {
    if (StateList.size() >= MaxStates) throw ERegExpParser(remsg::TooComplex, 0);
    StateList.emplace_back();
    return static_cast<int>(StateList.size() - 1);
}

void TRE_NFA::AddTransition(int from, REChar lo, REChar hi, int to) {
    if (++FTransitionCount > 4 * MaxStates) throw ERegExpParser(remsg::TooComplex, 0);
    StateList[static_cast<std::size_t>(from)].push_back({lo, hi, to});
}

void TRE_NFA::Run() {
    StateList.clear();
    FTransitionCount = 0;
    LHeadFound = LTailFound = false;
    EntryState = AddState();
    ExitState = AddState();
    GenerateStateList(FParser.ParseTree().HeadNode, EntryState, ExitState);
}

// Iterative, since a long pattern is a deep left-nested chain of concatenations.
void TRE_NFA::GenerateStateList(const TRENode* root, int entry, int exit) {
    std::vector<std::tuple<const TRENode*, int, int>> work{{root, entry, exit}};
    while (!work.empty()) {
        const auto [node, from, to] = work.back();
        work.pop_back();
        switch (node->Op) {
            case TREOperator::Char: {
                // Code 0 is the end of the subject, never a character to consume, and no subject
                // character is above CONST_MAXSUBJECTCHAR (which keeps escapes of the reserved
                // codes from posing as anchors or empty transitions).
                const REChar lo = std::max<REChar>(node->Lo, 1);
                const REChar hi = std::min<REChar>(node->Hi, CONST_MAXSUBJECTCHAR);
                if (lo <= hi) AddTransition(from, lo, hi, to);
                break;
            }
            case TREOperator::LHead:
                if (from == EntryState) {
                    LHeadFound = true;
                    AddTransition(from, FLineHeadChar, FLineHeadChar, to);
                } else {
                    AddTransition(from, node->Lo, node->Lo, to);
                }
                break;
            case TREOperator::LTail:
                if (to == ExitState) {
                    LTailFound = true;
                    AddTransition(from, FLineTailChar, FLineTailChar, to);
                } else {
                    AddTransition(from, node->Lo, node->Lo, to);
                }
                break;
            case TREOperator::Concat: {
                const int middle = AddState();
                work.emplace_back(node->Right, middle, to);
                work.emplace_back(node->Left, from, middle);
                break;
            }
            case TREOperator::Union:
                work.emplace_back(node->Right, from, to);
                work.emplace_back(node->Left, from, to);
                break;
            case TREOperator::Closure: {
                const int c = AddState();
                const int d = AddState();
                AddTransition(from, CONST_EMPTY, CONST_EMPTY, c);
                AddTransition(d, CONST_EMPTY, CONST_EMPTY, c);
                AddTransition(c, CONST_EMPTY, CONST_EMPTY, to);
                work.emplace_back(node->Left, c, d);
                break;
            }
            case TREOperator::Empty:
                AddTransition(from, CONST_EMPTY, CONST_EMPTY, to);
                break;
            case TREOperator::Nothing:
                break;
            default:
                throw std::runtime_error(remsg::NfaCannotHappen);
        }
    }
}

}  // namespace norvex
