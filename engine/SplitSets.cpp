// Split-set naming styles and the collection of a set's volumes from its folder.
#include "engine/SplitSets.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/NaturalOrder.h"
#include "util/Paths.h"

namespace norvex {

// One naming style: volume n is base + NumberPrefix + digits + NumberSuffix. With FirstNumber 0 the
// first volume has no number and is base + FirstName (x.rar, then x.r00, x.r01, ...).
struct TSplitSetRule {
    const char* Extension;     // lower-cased extension of the names the style applies to
    const char* NumberPrefix;  // fixed text before the number (ASCII, compared without case)
    const char* NumberSuffix;  // fixed text after the number
    unsigned FirstNumber;      // number of the first volume; 0 when it is unnumbered
    const char* FirstName;     // suffix of an unnumbered first volume
};

namespace {

// Tried in order: the numbered style of RAR before its old style, since x.part1.rar ends in ".rar".
const TSplitSetRule kRules[] = {
    {".rar", ".part", ".rar", 1, nullptr},
    {".rar", ".r", "", 0, ".rar"},
    {".7z", ".7z.", "", 1, nullptr},  // x.7z.001, x.7z.002, ...: the engine knows them by ".7z"
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// text[at, at + size(word)) equals word without regard to ASCII case. word is ASCII and starts
// with "." or is empty, so a match always starts on a character boundary.
bool EqualsAt(const AnsiString& text, std::size_t at, const AnsiString& word) {
    if (at + word.size() > text.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (Lower(text[at + k]) != Lower(word[k])) return false;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// name = base + prefix + digits + suffix: the base and the number, or false.
bool SplitNumbered(const AnsiString& name, const TSplitSetRule& rule, AnsiString& base, uint64_t& number,
                   unsigned* width = nullptr) {
    const AnsiString prefix = rule.NumberPrefix, suffix = rule.NumberSuffix;
    if (name.size() < prefix.size() + suffix.size() + 1) return false;
    const std::size_t digitsEnd = name.size() - suffix.size();
    if (!EqualsAt(name, digitsEnd, suffix)) return false;
    std::size_t digitsStart = digitsEnd;
    while (digitsStart > 0 && IsDigit(name[digitsStart - 1])) --digitsStart;
    if (digitsStart == digitsEnd || digitsStart < prefix.size()) return false;
    const std::size_t baseEnd = digitsStart - prefix.size();
    if (!EqualsAt(name, baseEnd, prefix) || baseEnd == 0) return false;
    number = 0;
    for (std::size_t k = digitsStart; k < digitsEnd; ++k)
        number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(name[k] - '0'), UINT32_MAX + 1ULL);
    base = name.substr(0, baseEnd);
    if (width) *width = static_cast<unsigned>(digitsEnd - digitsStart);
    return true;
}

}  // namespace

TVolumeName ClassifyVolumeName(const AnsiString& name, const AnsiString& extension) {
    TVolumeName v;
    for (const TSplitSetRule& rule : kRules) {
        if (extension != rule.Extension) continue;
        AnsiString base;
        uint64_t number = 0;
        if (rule.FirstNumber != 0 && SplitNumbered(name, rule, base, number, &v.Width)) {
            v.Kind = number == rule.FirstNumber ? TVolumeKind::FirstVolume : TVolumeKind::LaterVolume;
            v.Base = base;
            v.Rule = &rule;
            return v;
        }
        if (rule.FirstNumber == 0 && rule.FirstName) {
            const AnsiString first = rule.FirstName;
            if (name.size() > first.size() && EqualsAt(name, name.size() - first.size(), first)) {
                v.Kind = TVolumeKind::Unnumbered;
                v.Base = name.substr(0, name.size() - first.size());
                v.Rule = &rule;
                v.Width = 2;  // x.r00, x.r01, ...: the numbered volumes have two digits
                return v;
            }
        }
    }
    return v;
}

std::vector<AnsiString> CollectSetVolumes(const AnsiString& folder, const TVolumeName& volume, AnsiString* missing) {
    std::vector<AnsiString> volumes;
    if (missing) missing->clear();
    if (!volume.Rule || volume.Kind == TVolumeKind::NotSplit) return volumes;
    const AnsiString base = folder.empty() || folder.back() == PathDelim ? folder : folder + PathDelim;
    struct TFound {
        uint64_t number;
        AnsiString name;
    };
    std::vector<TFound> found;
    TSearchRec rec;
    for (int r = FindFirstEntry(base + "*", faAnyFile, rec); r == 0; r = FindNext(rec)) {
        if (rec.Attr & faDirectory) continue;
        AnsiString setBase;
        uint64_t number = 0;
        unsigned width = 0;
        if (SplitNumbered(rec.Name, *volume.Rule, setBase, number, &width) && setBase == volume.Base &&
            width == std::max<std::size_t>(volume.Width, std::to_string(number).size()))
            found.push_back({number, rec.Name});
    }
    FindClose(rec);
    std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
        return a.number != b.number ? a.number < b.number : NaturalLess(a.name, b.name);
    });
    // The set runs from its first number without a gap, as the module reads it: a file numbered
    // past a missing volume (or before the first) was never read, so it is neither tested nor
    // disposed of with the set. Names of one number differ only in the case of ".part" or ".rar".
    uint64_t next = volume.Rule->FirstNumber;
    for (const TFound& f : found) {
        if (!volumes.empty() && f.number + 1 == next) {
            volumes.push_back(base + f.name);
        } else if (f.number == next) {
            volumes.push_back(base + f.name);
            ++next;
        } else if (f.number > next) {
            // A volume of the set lies past the gap: the one at the gap is missing. Its name is the
            // later one's with the missing number, written as wide as the set writes its numbers.
            if (missing) {
                const std::size_t digitsEnd = f.name.size() - AnsiString(volume.Rule->NumberSuffix).size();
                std::size_t digitsStart = digitsEnd;
                while (digitsStart > 0 && IsDigit(f.name[digitsStart - 1])) --digitsStart;
                AnsiString digits = std::to_string(next);
                if (digits.size() < volume.Width) digits.insert(0, volume.Width - digits.size(), '0');
                *missing = base + f.name.substr(0, digitsStart) + digits + f.name.substr(digitsEnd);
            }
            break;
        }
    }
    return volumes;
}

}  // namespace norvex
