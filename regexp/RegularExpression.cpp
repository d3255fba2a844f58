// Compilation (parser, NFA, DFA) and the cache of compiled patterns. Tested by
// tests/regexp/CacheTest.cpp.
#include "regexp/RegularExpression.h"

namespace norvex {

TRegularExpression::TRegularExpression() : FPreProcessor(std::make_unique<TREPreProcessor>()) {
    FCompiledList.reserve(CompiledListCapacity + 1);
    FCompiledList.push_back({AnsiString(), nullptr});
    CompileCurrent();
}

TRegularExpression::~TRegularExpression() = default;

void TRegularExpression::CompileCurrent() {
    TCompiled& entry = FCompiledList[FCurrentIndex];
    try {
        TREParser parser(entry.Key);
        parser.Run();
        FLineHeadChar = GetLineHeadChar();
        FLineTailChar = GetLineTailChar();
        TRE_NFA nfa(parser, FLineHeadChar, FLineTailChar);
        nfa.Run();
        auto dfa = std::make_unique<TRE_DFA>(nfa);
        dfa->Run();
        entry.DFA = std::move(dfa);
    } catch (...) {
        FCompiledList.erase(FCompiledList.begin() + static_cast<std::ptrdiff_t>(FCurrentIndex));
        FCurrentIndex = 0;
        throw;
    }
}

void TRegularExpression::SetRegExp(const AnsiString& str) {
    FPreProcessor->SetTargetRegExpStr(str);
    FPreProcessor->Run();
    const AnsiString& key = FPreProcessor->ProcessedRegExpStr();
    try {
        std::size_t found = 0;
        while (found < FCompiledList.size() && FCompiledList[found].Key != key) ++found;
        if (found < FCompiledList.size()) {
            FCurrentIndex = found;
        } else {
            if (FCompiledList.size() >= CompiledListCapacity) FCompiledList.pop_back();
            FCompiledList.insert(FCompiledList.begin() + 1, {key, nullptr});
            FCurrentIndex = 1;
            CompileCurrent();
        }
        FRegExp = str;
    } catch (...) {
        FCurrentIndex = 0;
        FRegExp.clear();
        throw;
    }
}

}  // namespace norvex
