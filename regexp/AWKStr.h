// TAWKStr: the matcher the rest of Norvex uses. Set RegExp, then call Match on any number of
// subjects.
#pragma once
#include "regexp/MatchCORE.h"

namespace norvex {

class TAWKStr : public TMatchCORE {
public:
    TAWKStr();

    // Compiles (or finds in the cache) the pattern and chooses the search procedure for it.
    void SetRegExp(const AnsiString& str) override;

    // The leftmost-longest match in str, which ends at its first NUL byte. On a match start is
    // the 1-based index of its first byte and length its length in bytes (0 for an empty match),
    // and the result is start. No match: start = length = 0 and the result is 0. Never fails.
    int Match(const AnsiString& str, int& start, int& length) const;

    bool UseFuzzyCharDic() const;
    bool UseSynonymDic() const;
    // Store the switch and set RegExp again, so the pattern is rewritten and compiled anew.
    void SetUseFuzzyCharDic(bool value);
    void SetUseSynonymDic(bool value);

private:
    bool FAnchored = false;
};

}  // namespace norvex
