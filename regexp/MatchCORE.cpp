// Leftmost-longest matching: from each character position in turn, walk the DFA as far as it goes
// and keep the last accepting position; the first position that yields one wins. Anchors are fed
// as pseudo-characters: the line-head code only at a line start (the subject start and after a
// line feed), the line-tail code only as a look-up before a separator byte or the end.
// Tested by tests/regexp/MatchTest.cpp and the differential test.
#include "regexp/MatchCORE.h"

#include <cstring>

namespace norvex {

namespace {

using Pos = const unsigned char*;

// One subject character: a lead byte with a trail is two bytes; a lead byte just before the
// terminator stands alone, so nothing is read past the end.
inline int CharLength(Pos p) { return IsReLeadByte(p[0]) && p[1] != 0 ? 2 : 1; }

// A state with a line-tail transition also ends a run where the next byte ends a line or the
// subject: the line-tail transition always leads to the final state. This is checked at every
// step, not only where the walk stops, so "a$|a\r\nb" still ends a line after "a" in "a\r\nc".
inline Pos Run(const TRE_DFA& dfa, int s, Pos p, unsigned char separator) {
    if (s < 0) return nullptr;
    Pos result = nullptr;
    for (;;) {
        const unsigned char b = *p;
        const std::uint8_t flags = dfa.Flags(s);
        if ((flags & TRE_DFA::FlagAccepted) || ((flags & TRE_DFA::FlagLineTail) && (b == 0 || b == separator)))
            result = p;
        if (b == 0) break;
        int next;
        if (IsReLeadByte(b) && p[1] != 0) {
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

// The next character position at or after p (a character position) whose byte is c, or the
// terminator. strchr finds the byte fast; a hit is a trail byte when the run of lead-byte values
// just before it, back to p, has odd length (a byte that is not a lead byte always ends a
// character), and then the search goes on after it.
inline Pos SkipTo(Pos p, unsigned char c) {
    for (;;) {
        const auto* hit = reinterpret_cast<Pos>(std::strchr(reinterpret_cast<const char*>(p), c));
        if (hit == nullptr) return p + std::strlen(reinterpret_cast<const char*>(p));
        std::size_t run = 0;
        for (Pos q = hit; q > p && IsReLeadByte(q[-1]); --q) ++run;
        if (run % 2 == 0) return hit;
        p = hit + 1;
    }
}

inline Pos RunAtLineHead(const TRE_DFA& dfa, int s, Pos p, unsigned char separator) {
    const Pos n = Run(dfa, s, p, separator);
    if (!dfa.LHeadFound) return n;
    const Pos h = Run(dfa, dfa.StateList[static_cast<std::size_t>(s)].LineHeadNext, p, separator);
    return n != nullptr && (h == nullptr || n >= h) ? n : h;
}

}  // namespace

unsigned char TMatchCORE::SeparatorByte() const { return FLineSeparator == mcls_LF ? 10 : 13; }

TMatchCORE::Pos TMatchCORE::LongestRun(int s, Pos p) const { return Run(CurrentDFA(), s, p, SeparatorByte()); }

TMatchCORE::Pos TMatchCORE::LongestRunAtLineHead(int s, Pos p) const {
    return RunAtLineHead(CurrentDFA(), s, p, SeparatorByte());
}

bool TMatchCORE::MatchPlain(Pos subject, Pos& start, Pos& end) const {
    const TRE_DFA& dfa = CurrentDFA();
    const unsigned char separator = SeparatorByte();
    const int initial = dfa.InitialState;
    if (*subject == 0) {
        if (!dfa.StateList[static_cast<std::size_t>(initial)].Accepted) return false;
        start = end = subject;
        return true;
    }
    const int only = dfa.SingleStartByte();
    for (Pos p = subject; *p != 0; p += CharLength(p)) {
        if (only >= 0 && *p != only) {
            p = SkipTo(p, static_cast<unsigned char>(only));
            if (*p == 0) break;
        }
        if (!dfa.CanStartWith(*p)) continue;
        if (const Pos e = Run(dfa, initial, p, separator)) {
            start = p;
            end = e;
            return true;
        }
    }
    return false;
}

bool TMatchCORE::MatchAnchored(Pos subject, Pos& start, Pos& end) const {
    const TRE_DFA& dfa = CurrentDFA();
    const unsigned char separator = SeparatorByte();
    const int initial = dfa.InitialState;
    if (const Pos e = RunAtLineHead(dfa, initial, subject, separator)) {
        start = subject;
        end = e;
        return true;
    }
    const int only = dfa.SingleStartByte();
    Pos p = subject;
    for (; *p != 0; p += CharLength(p)) {
        if (only >= 0 && *p != only) {
            p = SkipTo(p, static_cast<unsigned char>(only));
            if (*p == 0) break;
        }
        if (!dfa.CanStartWith(*p)) continue;
        if (const Pos e = Run(dfa, initial, p, separator)) {
            start = p;
            end = e;
            return true;
        }
        if (*p == 10 && dfa.LHeadFound) {
            if (const Pos e = RunAtLineHead(dfa, initial, p + 1, separator)) {
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
