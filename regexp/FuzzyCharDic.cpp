// The fuzzy character dictionary and the comma-text reader its table is written in.
// Tested by tests/regexp/FuzzyTest.cpp.
#include "regexp/FuzzyCharDic.h"

#include <cstdint>
#include <vector>

namespace norvex {

namespace {

#include "platform/Cp932Table.inc"

// UTF-8 -> cp932 by the codec's table and its choice among duplicate codes (the first code of a
// character, unless the preferred table names another; half-width katakana are single bytes). The
// dictionary holds only characters that cp932 has, so no carrier is ever needed here.
class TCp932Encoder {
public:
    TCp932Encoder() : FEncode(0x10000, 0) {
        for (const auto& p : kCp932DoubleByte)
            if (FEncode[p[1]] == 0) FEncode[p[1]] = p[0];
        for (const auto& p : kCp932Preferred) FEncode[p[0]] = p[1];
        for (unsigned b = 0xA1; b <= 0xDF; ++b) FEncode[0xFF61 + (b - 0xA1)] = static_cast<uint16_t>(b);
    }
    AnsiString operator()(const char* utf8) const {
        AnsiString out;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8); *p;) {
            if (*p < 0x80) {
                out += static_cast<char>(*p++);
                continue;
            }
            char32_t c = 0;
            int extra = *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : 1;
            c = *p++ & (0x3F >> extra);
            for (; extra > 0 && *p; --extra) c = (c << 6) | (*p++ & 0x3F);
            const uint16_t code = c < 0x10000 ? FEncode[c] : 0;
            if (code >= 0x100) out += static_cast<char>(code >> 8);
            if (code != 0) out += static_cast<char>(code & 0xFF);
        }
        return out;
    }

private:
    std::vector<uint16_t> FEncode;
};

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
        const TCp932Encoder toCp932;
        TREDictionary d;
        d.reserve(std::size(kFuzzyCharTable));
        for (const char* row : kFuzzyCharTable) d.push_back(SplitCommaText(toCp932(row)));
        return d;
    }();
    return dic;
}

}  // namespace norvex
