// TRE_DFA: the deterministic automaton, built whole at compile time by subset construction, plus
// the lookup tables the matcher walks.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "regexp/RENFA.h"
#include "regexp/RENFAStateSet.h"

namespace norvex {

struct TRE_DFATransition {
    REChar CharBegin;
    REChar CharEnd;
    int TransitTo;
};

struct TRE_DFAState {
    std::unique_ptr<TRE_NFAStateSet> StateSet;  // released once the automaton is complete
    bool Visited = false;
    bool Accepted = false;
    std::vector<TRE_DFATransition> Next;  // disjoint, sorted by CharBegin
    int LineHeadNext = -1;                // the state reached on CONST_LINEHEAD, or -1
    int LineTailNext = -1;                // the state reached on CONST_LINETAIL, or -1
};

class TRE_DFA {
public:
    explicit TRE_DFA(const TRE_NFA& nfa);

    // Builds every state. Raises ERegExpParser (pattern too complex) past MaxStates states,
    // MaxSetBytes bytes of NFA state sets or MaxWork steps of construction, which bounds the
    // memory and the time a pattern may take.
    void Run();

    // The state reached from s on c, or -1 (sorted walk that stops at the first higher range).
    int NextState(int s, REChar c) const;
    // Fast lookups for the matcher: a single-byte code, and a double-byte code (>= 0x100).
    // Per state: bit 0 accepting, bit 1 has a line-tail transition (a compact copy for the matcher).
    std::uint8_t Flags(int s) const { return FFlags[static_cast<std::size_t>(s)]; }
    static constexpr std::uint8_t FlagAccepted = 1;
    static constexpr std::uint8_t FlagLineTail = 2;

    int ByteNext(int s, unsigned char b) const {
        return FByteTable[static_cast<std::size_t>(s) * FClassCount + FByteClass[b]];
    }
    int WideNext(int s, REChar c) const {
        const TRE_DFATransition* t = FWide.data() + FWideBegin[static_cast<std::size_t>(s)];
        const TRE_DFATransition* end = FWide.data() + FWideBegin[static_cast<std::size_t>(s) + 1];
        for (; t != end && c >= t->CharBegin; ++t)
            if (c <= t->CharEnd) return t->TransitTo;
        return -1;
    }

    // Whether a match can start at a character beginning with byte b (an over-estimate: the end,
    // line breaks and every lead byte that could begin a transition from the initial state).
    bool CanStartWith(unsigned char b) const { return FStartByte[b]; }
    // The one byte other than the terminator that can start a match, or -1 when there are more.
    int SingleStartByte() const { return FSingleStartByte; }

    std::vector<TRE_DFAState> StateList;
    int InitialState = 0;
    bool LHeadFound = false;
    bool LTailFound = false;

    static constexpr std::size_t MaxStates = 10000;
    static constexpr std::size_t MaxSetBytes = std::size_t(32) << 20;
    static constexpr std::size_t MaxWork = 8000000;

private:
    void CloseSet(TRE_NFAStateSet& set);
    void Spend(std::size_t steps);
    int Register(std::unique_ptr<TRE_NFAStateSet> set);
    void ExpandState(int index);
    void BuildTables();

    const TRE_NFA* FNFA;
    std::vector<std::pair<std::size_t, int>> FHashIndex;  // construction only: hash buckets
    std::vector<int> FBucketHead;
    std::size_t FSetBytes = 0;
    std::size_t FWork = 0;

    std::array<bool, 256> FStartByte{};
    int FSingleStartByte = -1;
    std::array<std::uint8_t, 256> FByteClass{};
    std::size_t FClassCount = 1;
    std::vector<int> FByteTable;
    std::vector<std::uint8_t> FFlags;
    std::vector<TRE_DFATransition> FWide;
    std::vector<std::size_t> FWideBegin;
};

}  // namespace norvex
