// The fuzzy character dictionary: 145 groups of characters that a fuzzy search treats as one
// (full-width and ASCII letters and digits, numerals, similar punctuation, kana in all their forms).
#pragma once
#include "regexp/REPreProcessor.h"

namespace norvex {

// The process-wide dictionary, built on first use and read-only afterwards.
const TREDictionary& FuzzyCharDic();

// Splits a comma text: items separated by ","; a double-quoted item may hold blanks and commas
// (a doubled quote stands for one); an unquoted item ends at "," or at any byte up to the blank;
// blanks between items are skipped; a "," at the very end adds an empty item.
std::vector<AnsiString> SplitCommaText(const AnsiString& text);

}  // namespace norvex
