// Dictionary rewriting. The pattern is split into tokens; outside classes, each run of plain
// characters is matched against the dictionaries from its left, and the first group member that
// spells the next characters (groups and members in dictionary order, first hit wins) replaces
// them by the group as "(m1|m2|...)". Everything else is copied byte for byte.
// Tested by tests/regexp/FuzzyTest.cpp.
#include "regexp/REPreProcessor.h"

namespace norvex {

TREPreProcessor::TREPreProcessor(const AnsiString& str) { SetTargetRegExpStr(str); }

void TREPreProcessor::SetTargetRegExpStr(const AnsiString& str) { FTargetRegExpStr = str; }

void TREPreProcessor::Run() {
    FProcessedRegExpStr = FTargetRegExpStr;
    if (!UseSynonymDic && !UseFuzzyCharDic) return;
    FScanner.SetRegExpStr(FTargetRegExpStr);
    if (UseSynonymDic) {
        Process(FSynonymDicList);
        FScanner.SetRegExpStr(FProcessedRegExpStr);
    }
    if (UseFuzzyCharDic) Process(FFuzzyCharDicList);
}

void TREPreProcessor::MakeTokenList() {
    FTokenList.clear();
    FScanner.SetRegExpStr(FScanner.RegExpStr());
    for (;;) {
        const std::size_t start = FScanner.Position();
        const TREToken kind = FScanner.GetToken();
        FTokenList.push_back({kind, FScanner.Symbol(), start, FScanner.Position()});
        if (kind == TREToken::End) break;
    }
}

void TREPreProcessor::Process(const std::vector<const TREDictionary*>& dics) {
    MakeTokenList();
    const AnsiString& source = FScanner.RegExpStr();
    AnsiString out;
    auto copyToken = [&](std::size_t i) {
        const TREPreProcessorToken& t = FTokenList[i];
        out.append(source, t.StartPos - 1, t.EndPos - t.StartPos);
    };

    bool inClass = false;
    std::size_t i = 0;
    while (FTokenList[i].Kind != TREToken::End) {
        const TREToken kind = FTokenList[i].Kind;
        if (kind != TREToken::Char || inClass) {
            if (kind == TREToken::LBra || kind == TREToken::LBraNegative) inClass = true;
            if (kind == TREToken::RBra) inClass = false;
            copyToken(i++);
            continue;
        }
        std::size_t j = i;
        while (FTokenList[j].Kind == TREToken::Char) ++j;
        while (i < j) {
            const std::size_t after = ReferToOneList(i, j, dics);
            if (after > i) {
                out += FReplaceText;
                i = after;
            } else {
                copyToken(i++);
            }
        }
    }
    FProcessedRegExpStr = std::move(out);
}

// Whether member spells the characters of records i, i+1, ... without reaching j; after is the
// record past the match.
bool TREPreProcessor::MemberMatches(const AnsiString& member, std::size_t i, std::size_t j,
                                    std::size_t& after) const {
    if (member.empty()) return false;
    std::size_t k = i;
    for (std::size_t p = 0; p < member.size();) {
        const auto b = static_cast<unsigned char>(member[p]);
        REChar c = b;
        if (IsReLeadByte(b) && p + 1 < member.size()) {
            c = static_cast<REChar>(b << 8 | static_cast<unsigned char>(member[p + 1]));
            p += 2;
        } else {
            p += 1;
        }
        if (k >= j || FTokenList[k].Symbol != c) return false;
        ++k;
    }
    after = k;
    return true;
}

// The first dictionary hit at record i: sets FReplaceText and returns the record after the hit,
// or returns i when no member matches.
std::size_t TREPreProcessor::ReferToOneList(std::size_t i, std::size_t j,
                                            const std::vector<const TREDictionary*>& dics) {
    for (const TREDictionary* dic : dics)
        for (const TREDictionaryGroup& group : *dic)
            for (const AnsiString& member : group) {
                std::size_t after = i;
                if (!MemberMatches(member, i, j, after)) continue;
                FReplaceText.assign(1, '(');
                for (std::size_t m = 0; m < group.size(); ++m) {
                    if (m > 0) FReplaceText.push_back('|');
                    FReplaceText.append(QuoteMetaCharacters(group[m]));
                }
                FReplaceText.push_back(')');
                return after;
            }
    return i;
}

AnsiString QuoteMetaCharacters(const AnsiString& str) {
    static constexpr char meta[] = "^(|)+*?.[]$\\";
    AnsiString out;
    for (std::size_t p = 0; p < str.size(); ++p) {
        const char c = str[p];
        if (IsReLeadByte(static_cast<unsigned char>(c)) && p + 1 < str.size()) {
            out += c;
            out += str[++p];
            continue;
        }
        if (AnsiString::traits_type::find(meta, sizeof meta - 1, c) != nullptr) out += '\\';
        out += c;
    }
    return out;
}

}  // namespace norvex
