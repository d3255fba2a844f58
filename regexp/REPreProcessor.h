// TREPreProcessor: rewrites a pattern before it is parsed so that a written character also
// matches its variants from dictionaries of equivalent strings (full/half width, kana, ...).
#pragma once
#include <cstddef>
#include <vector>

#include "regexp/REScanner.h"

namespace norvex {

// A dictionary: groups of equivalent strings; the first string of a group is its key.
using TREDictionaryGroup = std::vector<AnsiString>;
using TREDictionary = std::vector<TREDictionaryGroup>;

struct TREPreProcessorToken {
    TREToken Kind;
    REChar Symbol;
    std::size_t StartPos;  // 1-based index of the token's first byte
    std::size_t EndPos;    // 1-based index just after it
};

class TREPreProcessor {
public:
    explicit TREPreProcessor(const AnsiString& str = AnsiString());

    void SetTargetRegExpStr(const AnsiString& str);
    const AnsiString& TargetRegExpStr() const { return FTargetRegExpStr; }
    // Rewrites the pattern; raises the scanner's ERegExpParser when the pattern cannot be split
    // into tokens (only when a dictionary is switched on).
    void Run();
    const AnsiString& ProcessedRegExpStr() const { return FProcessedRegExpStr; }

    // The preprocessor does not own the dictionaries registered here.
    std::vector<const TREDictionary*>& SynonymDicList() { return FSynonymDicList; }
    std::vector<const TREDictionary*>& FuzzyCharDicList() { return FFuzzyCharDicList; }

    bool UseFuzzyCharDic = false;
    bool UseSynonymDic = false;

private:
    void Process(const std::vector<const TREDictionary*>& dics);
    void MakeTokenList();
    std::size_t ReferToOneList(std::size_t i, std::size_t j, const std::vector<const TREDictionary*>& dics);
    bool MemberMatches(const AnsiString& member, std::size_t i, std::size_t j, std::size_t& after) const;

    TREScanner FScanner;
    AnsiString FTargetRegExpStr;
    AnsiString FProcessedRegExpStr;
    std::vector<const TREDictionary*> FSynonymDicList;
    std::vector<const TREDictionary*> FFuzzyCharDicList;
    std::vector<TREPreProcessorToken> FTokenList;
    AnsiString FReplaceText;
};

// A member written into a pattern: a backslash before each of ^ ( | ) + * ? . [ ] $ \ (by whole
// characters, so a trail byte 0x5C stays as it is).
AnsiString QuoteMetaCharacters(const AnsiString& str);

}  // namespace norvex
