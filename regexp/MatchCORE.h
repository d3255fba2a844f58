// TMatchCORE: the leftmost-longest search over a compiled pattern, with the choice of the byte that
// ends a line.
#pragma once
#include "regexp/RegularExpression.h"

namespace norvex {

enum TMatchCORE_LineSeparator {
    mcls_CRLF = 0,  // a carriage return (13) ends a line
    mcls_LF = 1,    // a line feed (10) ends a line
};

class TMatchCORE : public TRegularExpression {
public:
    TMatchCORE_LineSeparator LineSeparator() const { return FLineSeparator; }
    void SetLineSeparator(TMatchCORE_LineSeparator value) { FLineSeparator = value; }

protected:
    using Pos = const unsigned char*;

    // The end of the longest run of the automaton from p in state s, or nullptr. A state with a
    // line-tail transition also ends a run where the next byte ends a line or the subject.
    Pos LongestRun(int s, Pos p) const;
    // As LongestRun, at a line head: the run may also begin with the line-head transition.
    Pos LongestRunAtLineHead(int s, Pos p) const;
    // The two search procedures: for patterns without anchors, and for patterns with them.
    // subject is NUL-terminated; on a match start and end are set and the result is true.
    bool MatchPlain(Pos subject, Pos& start, Pos& end) const;
    bool MatchAnchored(Pos subject, Pos& start, Pos& end) const;

private:
    unsigned char SeparatorByte() const;

    TMatchCORE_LineSeparator FLineSeparator = mcls_CRLF;
};

}  // namespace norvex
