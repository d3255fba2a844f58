// The search across listed archives without a window: the wildcard mask lists, the entry-path split,
// and the walk over the archives that yields the matching entries. No Qt here: the search window runs
// the walk on a worker thread, and the tests and the benchmark drive it directly.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "archivers/ArchiverAbi.h"
#include "platform/AnsiString.h"

namespace norvex {

class TAWKStr;

// ---- Wildcard masks --------------------------------------------------------------------------------

// One mask as it is matched: inside every run of "*" and "?" the "?" come first and the stars merge
// into one ("*?*" gives "?*"); a mask that ends in a star and a dot gets one more "*" ("a*." gives
// "a*.*").
AnsiString NormalizeMask(std::string_view mask);

// Matches a normalised mask against the whole of name, character by character on cp932 (a double-byte
// character is one character for "?" and is never split by a literal), ASCII letters without regard
// to case. A "*" before a literal tries each later occurrence of that literal in turn.
bool MatchMask(std::string_view mask, std::string_view name);

// A list of masks separated by ";" (empty pieces dropped), each normalised once; a name matches when
// any mask matches.
class TMaskList {
public:
    TMaskList() = default;
    explicit TMaskList(std::string_view list);
    bool Matches(std::string_view name) const;
    const std::vector<AnsiString>& Masks() const { return masks_; }

private:
    std::vector<AnsiString> masks_;
};

// ---- Entry paths -----------------------------------------------------------------------------------

// A folder entry: its path ends with "/" or "\\" (a trail byte 0x5C does not count).
bool IsFolderEntry(std::string_view path);
// Splits at the last whole-character "/" or "\\": folder keeps the delimiter, name is the rest.
void SplitEntryPath(std::string_view path, AnsiString& folder, AnsiString& name);
// The folder names of a folder part, outermost first ("a/b\\c/" gives a, b, c).
std::vector<AnsiString> FolderComponents(std::string_view folder);
// size / 1024 rounded down, followed by " KB".
AnsiString KiloBytes(uint64_t size);
// The file name of a path without its folder (whole characters; "/" is the host's separator).
AnsiString ArchiveBaseName(const AnsiString& path);
// The archives the preview and the search look into: ".lzh", ".lha", ".zip", ".rar", ".cab" (any case).
bool IsBrowsableArchive(const AnsiString& path);

// ---- Listing one archive ---------------------------------------------------------------------------

struct TListedEntry {
    AnsiString path;          // as the module gives it, at most 513 bytes
    uint64_t originalSize = 0;    // 64-bit when the module reports it
    uint64_t compressedSize = 0;
};

// Lists every entry of archive with a fresh archive object (type from the extension, else from the
// contents), in the archive's order. each answers false to stop early. Returns false when the module
// gave no handle (the archive could not be opened). Exceptions of the access layer (no module,
// undeterminable type) propagate; the listing is closed on every way out.
bool ListArchive(const AnsiString& archive, const std::function<bool(const TListedEntry&)>& each,
                 NvxWindow* owner = nullptr);

// Loads the bindings of every format the content detection asks, on the calling thread, so that a
// walk on a worker thread finds them made. Missing modules are ignored here.
void PrepareArchiverBindings();

// ---- The search ------------------------------------------------------------------------------------

struct TSearchHit {
    AnsiString name;       // the entry's name part (what was matched)
    AnsiString entryPath;  // the entry's whole path in the archive
    uint64_t originalSize = 0;
    AnsiString archive;    // full path of the archive
    int archiveIndex = 0;  // its row in the list
};

struct TSearchFailure {
    AnsiString archive;
    AnsiString message;  // the access layer's message, or empty when the module could not open it
};

struct TSearchSummary {
    int hits = 0;
    int searched = 0;   // archives listed (opened or not)
    int skipped = 0;    // rows whose extension is not searched
    std::vector<TSearchFailure> failures;
    bool stopped = false;
};

// One search: either a wildcard text (matched as the mask list "*" + text + "*", see Wildcard) or a
// compiled regular expression (a hit when it matches anywhere in the name part).
class TArchiveSearch {
public:
    // Wildcard mode: the pieces of text between its ";" (empty ones dropped, so a trailing ";" adds
    // nothing) wrapped as "*" + pieces + "*". A text with no piece at all matches no name.
    static TArchiveSearch Wildcard(const AnsiString& text);
    // Regular-expression mode; fuzzy turns on the fuzzy character dictionary. Raises ERegExpParser for
    // a pattern with a syntax error.
    static TArchiveSearch RegExp(const AnsiString& pattern, bool fuzzy);

    TArchiveSearch(TArchiveSearch&&) noexcept;
    TArchiveSearch& operator=(TArchiveSearch&&) noexcept;
    ~TArchiveSearch();

    bool IsRegExp() const { return static_cast<bool>(regexp_); }
    bool Matches(const AnsiString& name) const;

    // Walks archives in order. Rows of other extensions are passed over; each searchable archive is
    // opened with its own archive object, so its type never depends on the archive before it. An
    // archive that fails (no module, type unknown, unreadable) is recorded and the walk goes on.
    // onHit runs on the calling thread for each hit; stop (when given) is read between entries.
    // beforeArchive (when set) runs before each searchable archive with its index.
    TSearchSummary Run(const std::vector<AnsiString>& archives, const std::function<void(const TSearchHit&)>& onHit,
                       const std::atomic<bool>* stop = nullptr,
                       const std::function<void(int index, const AnsiString& archive)>& beforeArchive = {}) const;

private:
    TArchiveSearch();
    TMaskList masks_;
    std::unique_ptr<TAWKStr> regexp_;
};

}  // namespace norvex
