// The fuzzy character dictionary and the comma-text reader its table is written in.
// Tested by tests/regexp/FuzzyTest.cpp.
#include "regexp/FuzzyCharDic.h"

namespace norvex {

namespace {

// Order matters: voiced kana precede plain kana, so a written "か゛" is caught by the が group
// before the か group is tried; "ー,～,ｰ," precedes "-,ー,－,～,ｰ".
constexpr const char* kFuzzyCharTable[] = {
#include "regexp/FuzzyCharDicTable.inc"
};
static_assert(sizeof kFuzzyCharTable / sizeof kFuzzyCharTable[0] == 145);

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\0'; }

}  // namespace

std::vector<AnsiString> SplitCommaText(const AnsiString& text) {
    std::vector<AnsiString> items;
    std::size_t p = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (p < n && IsBlank(text[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
        AnsiString item;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                const bool dbcs = IsReLeadByte(static_cast<unsigned char>(text[p])) && p + 1 < n;
                item.append(text, p, dbcs ? 2 : 1);
                p += dbcs ? 2 : 1;
            }
        } else {
            const std::size_t start = p;
            while (p < n && !IsBlank(text[p]) && text[p] != ',') {
                const bool dbcs = IsReLeadByte(static_cast<unsigned char>(text[p])) && p + 1 < n;
                p += dbcs ? 2 : 1;
            }
            item.assign(text, start, p - start);
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (p < n && text[p] == ',') {
            if (p + 1 == n) items.emplace_back();
            ++p;
            skipBlanks();
        }
    }
    return items;
}

const TREDictionary& FuzzyCharDic() {
    static const TREDictionary dic = [] {
        TREDictionary d;
        d.reserve(std::size(kFuzzyCharTable));
        for (const char* row : kFuzzyCharTable) d.push_back(SplitCommaText(row));
        return d;
    }();
    return dic;
}

}  // namespace norvex
