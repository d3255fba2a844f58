// TRegularExpression: a pattern compiled to a TRE_DFA, with a cache of the last 30 patterns.
#pragma once
#include <memory>
#include <vector>

#include "regexp/REDFA.h"
#include "regexp/REPreProcessor.h"

namespace norvex {

class TRegularExpression {
public:
    TRegularExpression();
    virtual ~TRegularExpression();
    TRegularExpression(const TRegularExpression&) = delete;
    TRegularExpression& operator=(const TRegularExpression&) = delete;

    // The pattern last set successfully, as the caller gave it (before rewriting).
    const AnsiString& RegExp() const { return FRegExp; }
    // Rewrites, then finds in the cache or compiles, the pattern. Raises ERegExpParser for a bad
    // pattern; the object then holds the empty pattern and RegExp() is empty.
    virtual void SetRegExp(const AnsiString& str);

    static constexpr std::size_t CompiledListCapacity = 30;

    // The cache, for inspection: the rewritten pattern texts, index 0 always the empty pattern.
    std::size_t CompiledCount() const { return FCompiledList.size(); }
    const AnsiString& CompiledKey(std::size_t index) const { return FCompiledList[index].Key; }
    std::size_t CurrentIndex() const { return FCurrentIndex; }
    const TRE_DFA& CurrentDFA() const { return *FCompiledList[FCurrentIndex].DFA; }

protected:
    virtual void CompileCurrent();
    virtual REChar GetLineHeadChar() const { return CONST_LINEHEAD; }
    virtual REChar GetLineTailChar() const { return CONST_LINETAIL; }

    TREPreProcessor& PreProcessor() { return *FPreProcessor; }
    const TREPreProcessor& PreProcessor() const { return *FPreProcessor; }

    REChar FLineHeadChar = CONST_LINEHEAD;
    REChar FLineTailChar = CONST_LINETAIL;

private:
    struct TCompiled {
        AnsiString Key;
        std::unique_ptr<TRE_DFA> DFA;
    };

    AnsiString FRegExp;
    std::vector<TCompiled> FCompiledList;
    std::size_t FCurrentIndex = 0;
    std::unique_ptr<TREPreProcessor> FPreProcessor;
};

}  // namespace norvex
