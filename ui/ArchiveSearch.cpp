// The search across listed archives without a window: masks, entry paths and the walk.
#include "ui/ArchiveSearch.h"

#include <cstring>
#include <exception>

#include "archivers/Archives.h"
#include "platform/AnsiCodec.h"
#include "regexp/bmRegExp.h"

namespace norvex {

namespace {

constexpr bool IsWild(char c) { return c == '*' || c == '?'; }

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whole characters a (at ia, la bytes) and b (at ib, lb bytes) are the same literal.
bool SameChar(std::string_view a, std::size_t ia, std::size_t la, std::string_view b, std::size_t ib,
              std::size_t lb) {
    if (la != lb) return false;
    if (la == 2) return a[ia] == b[ib] && a[ia + 1] == b[ib + 1];
    return FoldAscii(a[ia]) == FoldAscii(b[ib]);
}

// The pieces of a mask list between its ";" (whole characters), empty ones dropped.
std::vector<std::string_view> MaskPieces(std::string_view list) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size();) {
        if (i == list.size() || list[i] == ';') {
            if (i > start) pieces.push_back(list.substr(start, i - start));
            start = ++i;
            continue;
        }
        i += AnsiCharLength(list, i);
    }
    return pieces;
}

}  // namespace

// ---- Wildcard masks --------------------------------------------------------------------------------

AnsiString NormalizeMask(std::string_view mask) {
    AnsiString out;
    out.reserve(mask.size() + 1);
    std::size_t i = 0;
    while (i < mask.size()) {
        if (!IsWild(mask[i])) {
            const std::size_t len = AnsiCharLength(mask, i);
            out.append(mask.substr(i, len));
            i += len;
            continue;
        }
        // A run of "*" and "?": its question marks first, then at most one star.
        std::size_t questions = 0;
        bool star = false;
        for (; i < mask.size() && IsWild(mask[i]); ++i) {
            if (mask[i] == '?')
                ++questions;
            else
                star = true;
        }
        out.append(questions, '?');
        if (star) out += '*';
    }
    // "*" and "." are never trail bytes, so the last two bytes are the last two characters.
    if (out.size() >= 2 && out[out.size() - 2] == '*' && out.back() == '.') out += '*';
    return out;
}

// The classic single-backtrack wildcard walk: a star remembers where it stood and, when a later
// literal fails, lets the name advance by one more character past the previous try. With "?" moved
// before "*" by the normalisation, this is the "jump to the next occurrence of the literal" rule.
// Tested against a recursive reference matcher in tests/search/ArchiveSearchTest.cpp.
bool MatchMask(std::string_view mask, std::string_view name) {
    std::size_t m = 0, n = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size()) {
            if (mask[m] == '*') {
                starMask = m++;
                starName = n;
                continue;
            }
            const std::size_t ln = AnsiCharLength(name, n);
            if (mask[m] == '?') {
                ++m;
                n += ln;
                continue;
            }
            const std::size_t lm = AnsiCharLength(mask, m);
            if (SameChar(mask, m, lm, name, n, ln)) {
                m += lm;
                n += ln;
                continue;
            }
        }
        if (starMask == std::string_view::npos) return false;
        m = starMask + 1;
        starName += AnsiCharLength(name, starName);
        n = starName;
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

TMaskList::TMaskList(std::string_view list) {
    for (std::string_view piece : MaskPieces(list)) masks_.push_back(NormalizeMask(piece));
}

bool TMaskList::Matches(std::string_view name) const {
    for (const AnsiString& mask : masks_)
        if (MatchMask(mask, name)) return true;
    return false;
}

// ---- Entry paths -----------------------------------------------------------------------------------

bool IsFolderEntry(std::string_view path) { return AnsiEndsWithSeparator(path); }

void SplitEntryPath(std::string_view path, AnsiString& folder, AnsiString& name) {
    const std::size_t at = AnsiLastDelimiter(path, "/\\");
    if (at == std::string_view::npos) {
        folder.clear();
        name.assign(path);
    } else {
        folder.assign(path.substr(0, at + 1));
        name.assign(path.substr(at + 1));
    }
}

std::vector<AnsiString> FolderComponents(std::string_view folder) {
    std::vector<AnsiString> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = AnsiFirstDelimiter(folder, "/\\", start);
        const std::size_t end = at == std::string_view::npos ? folder.size() : at;
        if (end > start) parts.emplace_back(folder.substr(start, end - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return parts;
}

AnsiString KiloBytes(uint64_t size) { return std::to_string(size / 1024) + " KB"; }

AnsiString ArchiveBaseName(const AnsiString& path) {
    const std::size_t at = AnsiLastDelimiter(path, "/");
    return at == AnsiString::npos ? path : path.substr(at + 1);
}

bool IsBrowsableArchive(const AnsiString& path) {
    const AnsiString name = ArchiveBaseName(path);
    const std::size_t dot = name.rfind('.');
    if (dot == AnsiString::npos) return false;
    AnsiString ext = name.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext == ".lzh" || ext == ".lha" || ext == ".zip" || ext == ".rar" || ext == ".cab";
}

// ---- Listing one archive ---------------------------------------------------------------------------

bool ListArchive(const AnsiString& archive, const std::function<bool(const TListedEntry&)>& each, NvxWindow* owner) {
    TArchiveFile arc;
    arc.SetFileName(archive);
    if (arc.OpenArchive(owner, 0) != 0) return false;
    const TListingCloser closer{arc};
    TArchiveEntryInfo info{};
    TListedEntry entry;
    for (int r = arc.FindFirst("*.*", &info); r == 0; r = arc.FindNext(&info)) {
        entry.path.assign(info.entry.fileName, strnlen(info.entry.fileName, ARC_FNAME_MAX));
        entry.originalSize = info.originalSize;
        entry.compressedSize = info.compressedSize;
        if (!each(entry)) break;
    }
    return true;
}

void PrepareArchiverBindings() {
    for (TArchiverType type : {atTar, atRar, atArj, atZip, atBga, atYz1, atCab, atLha}) {
        try {
            CreateArchiver(type);
        } catch (...) {
            // A missing module shows up again, with its message, when an archive needs it.
        }
    }
}

// ---- The search ------------------------------------------------------------------------------------

TArchiveSearch::TArchiveSearch() = default;
TArchiveSearch::TArchiveSearch(TArchiveSearch&&) noexcept = default;
TArchiveSearch& TArchiveSearch::operator=(TArchiveSearch&&) noexcept = default;
TArchiveSearch::~TArchiveSearch() = default;

TArchiveSearch TArchiveSearch::Wildcard(const AnsiString& text) {
    TArchiveSearch s;
    // The empty pieces of the text go before the stars are added: a trailing ";" would otherwise
    // leave a bare "*" that matches every name. A text of nothing but ";" finds nothing.
    AnsiString pieces;
    for (std::string_view piece : MaskPieces(text)) pieces.append(pieces.empty() ? "" : ";").append(piece);
    if (!pieces.empty()) s.masks_ = TMaskList("*" + pieces + "*");
    return s;
}

TArchiveSearch TArchiveSearch::RegExp(const AnsiString& pattern, bool fuzzy) {
    TArchiveSearch s;
    s.regexp_ = std::make_unique<TAWKStr>();
    s.regexp_->SetUseFuzzyCharDic(fuzzy);
    s.regexp_->SetRegExp(pattern);
    return s;
}

bool TArchiveSearch::Matches(const AnsiString& name) const {
    if (!regexp_) return masks_.Matches(name);
    int start = 0, length = 0;
    return regexp_->Match(name, start, length) != 0;
}

TSearchSummary TArchiveSearch::Run(const std::vector<AnsiString>& archives,
                                   const std::function<void(const TSearchHit&)>& onHit, const std::atomic<bool>* stop,
                                   const std::function<void(int, const AnsiString&)>& beforeArchive) const {
    TSearchSummary summary;
    auto stopAsked = [&] { return stop && stop->load(std::memory_order_relaxed); };
    AnsiString folder;
    TSearchHit hit;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        if (stopAsked()) {
            summary.stopped = true;
            break;
        }
        const AnsiString& archive = archives[i];
        if (!IsBrowsableArchive(archive)) {
            ++summary.skipped;
            continue;
        }
        if (beforeArchive) beforeArchive(static_cast<int>(i), archive);
        ++summary.searched;
        try {
            const bool opened = ListArchive(archive, [&](const TListedEntry& e) {
                if (stopAsked()) {
                    summary.stopped = true;
                    return false;
                }
                if (IsFolderEntry(e.path)) return true;
                SplitEntryPath(e.path, folder, hit.name);
                if (!Matches(hit.name)) return true;
                hit.entryPath = e.path;
                hit.originalSize = e.originalSize;
                hit.archive = archive;
                hit.archiveIndex = static_cast<int>(i);
                ++summary.hits;
                onHit(hit);
                return true;
            });
            if (!opened) summary.failures.push_back({archive, AnsiString()});
        } catch (const std::exception& e) {
            summary.failures.push_back({archive, e.what()});
        }
        if (summary.stopped) break;
    }
    return summary;
}

}  // namespace norvex
