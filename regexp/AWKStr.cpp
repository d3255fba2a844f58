// The matcher class callers use.
#include "regexp/AWKStr.h"

#include "regexp/FuzzyCharDic.h"

namespace norvex {

TAWKStr::TAWKStr() { PreProcessor().FuzzyCharDicList().push_back(&FuzzyCharDic()); }

void TAWKStr::SetRegExp(const AnsiString& str) {
    TMatchCORE::SetRegExp(str);
    FAnchored = CurrentDFA().LHeadFound || CurrentDFA().LTailFound;
}

int TAWKStr::Match(const AnsiString& str, int& start, int& length) const {
    const auto* subject = reinterpret_cast<const unsigned char*>(str.c_str());
    Pos first = nullptr;
    Pos last = nullptr;
    // After a failed SetRegExp the current pattern is the empty one, which either procedure
    // matches at the first position.
    const bool found = FAnchored ? MatchAnchored(subject, first, last) : MatchPlain(subject, first, last);
    if (!found) {
        start = length = 0;
        return 0;
    }
    start = static_cast<int>(first - subject) + 1;
    length = static_cast<int>(last - first);
    return start;
}

bool TAWKStr::UseFuzzyCharDic() const { return PreProcessor().UseFuzzyCharDic; }

bool TAWKStr::UseSynonymDic() const { return PreProcessor().UseSynonymDic; }

void TAWKStr::SetUseFuzzyCharDic(bool value) {
    PreProcessor().UseFuzzyCharDic = value;
    const AnsiString current = RegExp();
    SetRegExp(current);
}

void TAWKStr::SetUseSynonymDic(bool value) {
    PreProcessor().UseSynonymDic = value;
    const AnsiString current = RegExp();
    SetRegExp(current);
}

}  // namespace norvex
