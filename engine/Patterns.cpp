// The matcher of the engine over TAWKStr.
#include "engine/Patterns.h"

#include "regexp/AWKStr.h"

namespace norvex {

TPatternMatcher::TPatternMatcher() : FAwk(std::make_unique<TAWKStr>()) {}
TPatternMatcher::~TPatternMatcher() = default;

void TPatternMatcher::SetPattern(const AnsiString& pattern) { FAwk->SetRegExp(pattern); }

int TPatternMatcher::Match(const AnsiString& subject) const {
    int start = 0, length = 0;
    return FAwk->Match(subject, start, length) != 0 ? start : 0;
}

}  // namespace norvex
