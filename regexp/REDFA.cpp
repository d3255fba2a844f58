// Subset construction, all states at compile time.
//
// The initial state is the empty closure of {entry}. Each state, in creation order, collects the
// non-empty transitions of its NFA states; their bounds cut the code space into elementary ranges,
// and for each range the closure of all targets is registered (found among the existing states or
// added). Cutting by bounds, rather than grouping equal ranges, keeps the automaton deterministic
// even where ranges overlap, as the literal `^` and `$` of a non-anchor position may overlap a
// class. Transitions come out sorted; adjacent ranges with one target are merged.
//
// The matcher then walks two tables per state: one for single bytes (via byte classes) and a
// sorted list for double-byte codes. Tested by tests/regexp/DifferentialTest.cpp.
#include "regexp/REDFA.h"

#include <algorithm>

namespace norvex {

TRE_DFA::TRE_DFA(const TRE_NFA& nfa) : FNFA(&nfa) {}

void TRE_DFA::Spend(std::size_t steps) {
    FWork += steps;
    if (FWork > MaxWork) throw ERegExpParser(remsg::TooComplex, 0);
}

void TRE_DFA::CloseSet(TRE_NFAStateSet& set) {
    std::vector<int> stack;
    set.ForEach([&](int s) { stack.push_back(s); });
    std::size_t steps = set.ByteSize() / 8;
    while (!stack.empty()) {
        const int s = stack.back();
        stack.pop_back();
        steps += FNFA->StateList[static_cast<std::size_t>(s)].size();
        for (const TRE_NFATransition& t : FNFA->StateList[static_cast<std::size_t>(s)])
            if (t.IsEmpty() && !set.Has(t.TransitTo)) {
                set.Include(t.TransitTo);
                stack.push_back(t.TransitTo);
            }
    }
    Spend(steps);
}

int TRE_DFA::Register(std::unique_ptr<TRE_NFAStateSet> set) {
    const std::size_t hash = set->Hash();
    const std::size_t bucket = hash & (FBucketHead.size() - 1);
    for (int i = FBucketHead[bucket]; i >= 0; i = FHashIndex[static_cast<std::size_t>(i)].second)
        if (FHashIndex[static_cast<std::size_t>(i)].first == hash && *StateList[static_cast<std::size_t>(i)].StateSet == *set)
            return i;

    FSetBytes += set->ByteSize();
    if (StateList.size() >= MaxStates || FSetBytes > MaxSetBytes) throw ERegExpParser(remsg::TooComplex, 0);
    const int index = static_cast<int>(StateList.size());
    TRE_DFAState state;
    state.Accepted = set->Has(FNFA->ExitState);
    state.StateSet = std::move(set);
    StateList.push_back(std::move(state));
    FHashIndex.emplace_back(hash, FBucketHead[bucket]);
    FBucketHead[bucket] = index;
    return index;
}

void TRE_DFA::ExpandState(int index) {
    struct Edge {
        REChar lo, hi;
        int to;
    };
    std::vector<Edge> edges;
    StateList[static_cast<std::size_t>(index)].StateSet->ForEach([&](int s) {
        for (const TRE_NFATransition& t : FNFA->StateList[static_cast<std::size_t>(s)])
            if (!t.IsEmpty()) edges.push_back({t.CharBegin, t.CharEnd, t.TransitTo});
    });
    if (edges.empty()) return;
    Spend(edges.size());

    std::vector<std::uint32_t> bounds;
    bounds.reserve(edges.size() * 2);
    for (const Edge& e : edges) {
        bounds.push_back(e.lo);
        bounds.push_back(std::uint32_t(e.hi) + 1);
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

    // Targets of each elementary range [bounds[k] .. bounds[k+1] - 1].
    const std::size_t nfaSize = FNFA->StateList.size();
    std::vector<std::unique_ptr<TRE_NFAStateSet>> targets(bounds.size() - 1);
    for (const Edge& e : edges) {
        auto k = static_cast<std::size_t>(std::lower_bound(bounds.begin(), bounds.end(), e.lo) - bounds.begin());
        for (; bounds[k] <= e.hi; ++k) {
            if (!targets[k]) {
                targets[k] = std::make_unique<TRE_NFAStateSet>(nfaSize);
                Spend(targets[k]->ByteSize() / 8);
            }
            targets[k]->Include(e.to);
        }
        Spend(1);
    }

    std::vector<TRE_DFATransition> next;
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        if (!targets[k]) continue;
        CloseSet(*targets[k]);
        const int to = Register(std::move(targets[k]));
        const auto lo = REChar(bounds[k]);
        const auto hi = REChar(bounds[k + 1] - 1);
        if (!next.empty() && next.back().TransitTo == to && std::uint32_t(next.back().CharEnd) + 1 == lo)
            next.back().CharEnd = hi;
        else
            next.push_back({lo, hi, to});
    }
    StateList[static_cast<std::size_t>(index)].Next = std::move(next);
}

void TRE_DFA::Run() {
    StateList.clear();
    FHashIndex.clear();
    FBucketHead.assign(1024, -1);
    FSetBytes = 0;
    FWork = 0;
    LHeadFound = FNFA->LHeadFound;
    LTailFound = FNFA->LTailFound;

    auto initial = std::make_unique<TRE_NFAStateSet>(FNFA->StateList.size());
    initial->Include(FNFA->EntryState);
    CloseSet(*initial);
    InitialState = Register(std::move(initial));
    for (std::size_t i = 0; i < StateList.size(); ++i) {
        StateList[i].Visited = true;
        ExpandState(static_cast<int>(i));
        if (StateList.size() > FBucketHead.size() * 2) {
            // Rehash into more buckets as the automaton grows.
            FBucketHead.assign(FBucketHead.size() * 4, -1);
            for (std::size_t j = 0; j < FHashIndex.size(); ++j) {
                const std::size_t b = FHashIndex[j].first & (FBucketHead.size() - 1);
                FHashIndex[j].second = FBucketHead[b];
                FBucketHead[b] = static_cast<int>(j);
            }
        }
    }

    for (TRE_DFAState& state : StateList) {
        state.StateSet.reset();
        state.LineHeadNext = -1;
        state.LineTailNext = -1;
    }
    for (std::size_t i = 0; i < StateList.size(); ++i) {
        StateList[i].LineHeadNext = NextState(static_cast<int>(i), CONST_LINEHEAD);
        StateList[i].LineTailNext = NextState(static_cast<int>(i), CONST_LINETAIL);
    }
    FHashIndex = {};
    FBucketHead = {};
    BuildTables();
    FNFA = nullptr;  // read during construction only
}

int TRE_DFA::NextState(int s, REChar c) const {
    for (const TRE_DFATransition& t : StateList[static_cast<std::size_t>(s)].Next) {
        if (c < t.CharBegin) return -1;
        if (c <= t.CharEnd) return t.TransitTo;
    }
    return -1;
}

// Bytes that no range bound separates behave alike in every state, so the byte table holds one
// column per class of such bytes.
void TRE_DFA::BuildTables() {
    std::array<bool, 257> cut{};
    for (const TRE_DFAState& state : StateList)
        for (const TRE_DFATransition& t : state.Next) {
            if (t.CharBegin < 256) cut[t.CharBegin] = true;
            if (t.CharEnd < 256) cut[t.CharEnd + 1u] = true;
        }
    std::array<int, 256> representative{};
    FClassCount = 0;
    for (int b = 0; b < 256; ++b) {
        if (b == 0 || cut[static_cast<std::size_t>(b)]) representative[FClassCount++] = b;
        FByteClass[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(FClassCount - 1);
    }

    FFlags.assign(StateList.size(), 0);
    for (std::size_t s = 0; s < StateList.size(); ++s)
        FFlags[s] = static_cast<std::uint8_t>((StateList[s].Accepted ? FlagAccepted : 0) |
                                              (StateList[s].LineTailNext >= 0 ? FlagLineTail : 0));
    FByteTable.assign(StateList.size() * FClassCount, -1);
    FWide.clear();
    FWideBegin.assign(1, 0);
    for (std::size_t s = 0; s < StateList.size(); ++s) {
        for (std::size_t k = 0; k < FClassCount; ++k)
            FByteTable[s * FClassCount + k] = NextState(static_cast<int>(s), REChar(representative[k]));
        for (const TRE_DFATransition& t : StateList[s].Next) {
            if (t.CharEnd < 0x100 || t.CharBegin > CONST_MAXSUBJECTCHAR) continue;
            FWide.push_back({std::max<REChar>(t.CharBegin, 0x100), t.CharEnd, t.TransitTo});
        }
        FWideBegin.push_back(FWide.size());
    }

    const TRE_DFAState& initial = StateList[static_cast<std::size_t>(InitialState)];
    const bool hasWide = FWideBegin[static_cast<std::size_t>(InitialState) + 1] > FWideBegin[static_cast<std::size_t>(InitialState)];
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        FStartByte[byte] = initial.Accepted || b == 0 || ByteNext(InitialState, byte) >= 0 ||
                           (IsReLeadByte(byte) && hasWide) ||
                           ((b == 10 || b == 13) && (initial.LineTailNext >= 0 || LHeadFound));
    }
    FSingleStartByte = -1;
    for (int b = 1; b < 256; ++b) {
        if (!FStartByte[static_cast<std::size_t>(b)]) continue;
        if (FSingleStartByte >= 0 || IsReLeadByte(static_cast<unsigned char>(b))) {
            FSingleStartByte = -1;
            break;
        }
        FSingleStartByte = b;
    }
}

}  // namespace norvex
