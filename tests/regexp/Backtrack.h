// A reference matcher for the tests: leftmost-longest by exhaustive search over the parse tree,
// with none of the automata. Small subjects only (at most 31 characters).
#pragma once
#include <string>

#include "regexp/bmRegExp.h"

namespace norvex::test {

struct RefMatch {
    int start;   // 1-based byte index, 0 when there is no match
    int length;  // in bytes
};

class Backtracker {
public:
    // Parses pattern without the disjoint-leaf step. Raises ERegExpParser.
    explicit Backtracker(const std::string& pattern);
    RefMatch Match(const std::string& subject, TMatchCORE_LineSeparator separator) const;

private:
    TREParser FParser;
};

}  // namespace norvex::test
