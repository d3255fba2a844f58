// The engine's use of the regular-expression engine, in one place: a matcher made for one task
// (split-set names, the tail cut) and freed after it.
#pragma once
#include <memory>

#include "platform/AnsiString.h"

namespace norvex {

class TAWKStr;

class TPatternMatcher {
public:
    TPatternMatcher();
    ~TPatternMatcher();
    TPatternMatcher(const TPatternMatcher&) = delete;
    TPatternMatcher& operator=(const TPatternMatcher&) = delete;

    // Compiles pattern; throws the engine's syntax error for a bad one.
    void SetPattern(const AnsiString& pattern);
    // The 1-based byte index of the leftmost-longest match in subject, or 0 when there is none.
    int Match(const AnsiString& subject) const;
    bool Found(const AnsiString& subject) const { return Match(subject) != 0; }

private:
    std::unique_ptr<TAWKStr> FAwk;
};

}  // namespace norvex
