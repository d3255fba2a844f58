// Leftmost-longest matching: from each character position in turn, walk the DFA as far as it goes
// and keep the last accepting position; the first position that yields one wins. Anchors are fed
// as pseudo-characters: the line-head code only at a line start (the subject start and after a
// line feed), the line-tail code only as a look-up before a separator byte or the end.
// Tested by tests/regexp/MatchTest.cpp, tests/regexp/AnchorTest.cpp and the differential test.
#include "regexp/MatchCORE.h"

namespace norvex {

namespace {

// One subject character: a lead byte with a trail is two bytes; a lead byte just before the
// terminator stands alone, so nothing is read past the end.
inline int CharLength(const unsigned char* p) { return IsLeadByte(p[0]) && p[1] != 0 ? 2 : 1; }

}  // namespace

TMatchCORE::Pos TMatchCORE::LongestRun(int s, Pos p) const {
    if (s < 0) return nullptr;
    const TRE_DFA& dfa = CurrentDFA();
    const unsigned char separator = FLineSeparator == mcls_LF ? 10 : 13;
    Pos result = nullptr;
    for (;;) {
        const TRE_DFAState& state = dfa.StateList[static_cast<std::size_t>(s)];
        const unsigned char b = *p;
        if (state.Accepted || (state.LineTailNext >= 0 && (b == 0 || b == separator))) result = p;
        if (b == 0) break;
        int next;
        if (IsLeadByte(b) && p[1] != 0) {
            next = dfa.WideNext(s, static_cast<REChar>(b << 8 | p[1]));
            p += 2;
        } else {
            next = dfa.ByteNext(s, b);
            p += 1;
        }
        if (next < 0) break;
        s = next;
    }
    return result;
}

TMatchCORE::Pos TMatchCORE::LongestRunAtLineHead(int s, Pos p) const {
    const TRE_DFA& dfa = CurrentDFA();
    if (!dfa.LHeadFound) return LongestRun(s, p);
    const Pos h = LongestRun(dfa.StateList[static_cast<std::size_t>(s)].LineHeadNext, p);
    if (h == nullptr) return LongestRun(s, p);
    const Pos n = LongestRun(s, p);
    return n != nullptr && n >= h ? n : h;
}

bool TMatchCORE::MatchPlain(Pos subject, Pos& start, Pos& end) const {
    const TRE_DFA& dfa = CurrentDFA();
    const int initial = dfa.InitialState;
    if (*subject == 0) {
        if (!dfa.StateList[static_cast<std::size_t>(initial)].Accepted) return false;
        start = end = subject;
        return true;
    }
    for (Pos p = subject; *p != 0; p += CharLength(p)) {
        if (const Pos e = LongestRun(initial, p)) {
            start = p;
            end = e;
            return true;
        }
    }
    return false;
}

bool TMatchCORE::MatchAnchored(Pos subject, Pos& start, Pos& end) const {
    const TRE_DFA& dfa = CurrentDFA();
    const int initial = dfa.InitialState;
    if (const Pos e = LongestRunAtLineHead(initial, subject)) {
        start = subject;
        end = e;
        return true;
    }
    Pos p = subject;
    for (; *p != 0; p += CharLength(p)) {
        if (const Pos e = LongestRun(initial, p)) {
            start = p;
            end = e;
            return true;
        }
        if (*p == 10 && dfa.LHeadFound) {
            if (const Pos e = LongestRunAtLineHead(initial, p + 1)) {
                start = p + 1;
                end = e;
                return true;
            }
        }
    }
    if (dfa.LTailFound && dfa.StateList[static_cast<std::size_t>(initial)].LineTailNext >= 0) {
        start = end = p;
        return true;
    }
    return false;
}

}  // namespace norvex
