// The pack-list builder: expands a pack request (file arguments with wildcards, recursion, attribute
// and date filters, exclusions) into the sorted list of every file to pack.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// The "not given" value of a text switch: a string of one NUL character.
inline const AnsiString NotGivenText(1, '\0');

// The option values the builder reads, as plain data, so that this layer does not depend on the
// archiver options. The archivers layer copies them in from its options before the build and copies
// r, p, jo and job back afterwards (the builder resets them, see BuildPackList).
// A switch is a signed byte: -1 means not given, 0 off, greater than 0 on.
struct TPackListOptions {
    int8_t r = -1;   // > 0: descend into sub-folders; > 1: a folder argument stands for its contents
    int8_t p = -1;   // > 0: with r on, a mask without wildcards names one file and does not descend
    int8_t a = -1;   // > 0: hidden and system files too (hidden sub-folders are always walked)
    int8_t ji = -1;  // > 0: short (8.3) names where a volume has them; Linux has none, so long names
    int8_t jf = -1;  // > 0: a path under the base folder is stored relative to it (see RelativePath)
    AnsiString jo = NotGivenText;   // lower date bound ("yymmdd", "yyyymmddhhnnss", ...), time 00:00:00
    AnsiString job = NotGivenText;  // upper date bound, default time 23:59:59
    std::vector<AnsiString> jx;     // exclusion patterns, walked like file arguments
    AnsiString StreamSeparator = ";#";
    bool IncludeExtraStreams = true;
    // The relative-path rule of jf: given a walked path and the absolute base folder, the path to
    // store. When empty, an absolute path inside the base folder loses the base folder and its "/";
    // any other path is kept as it is (the archiver must still find the file).
    std::function<AnsiString(const AnsiString& path, const AnsiString& baseFolder)> RelativePath;
};

// The progress report of the builder: state 2053 and the path just added, NUL-terminated in a buffer
// of 513 bytes (longer paths are cut at a whole character). Setting abort cancels the build.
inline constexpr int PackListProgressState = 2053;
inline constexpr std::size_t PackListPathBufferSize = 513;
using TPackListProgress = std::function<void(int state, const char* path, bool& abort)>;

// One pack request's state besides the options.
struct TPackContext {
    // Set by anyone (another thread, or the progress callback) to stop the build at the next entry.
    std::atomic<bool> Cancel{false};
    TPackListProgress OnProgress;
    // Absolute paths of the stream files the build created; the caller deletes them after packing.
    std::vector<AnsiString> StreamFiles;
};

// Raised when the base folder cannot be entered; what() is UTF-8.
class EPackList : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Expands files under baseFolder (empty: the current folder) into the sorted list of files to pack,
// without duplicates. Two passes share one walk: the exclusion pass over options.jx (no streams, no
// progress), then the main pass over files (none: every file of the base folder) that leaves out the
// excluded paths. While it runs the base folder is the process's current folder; the previous one is
// restored afterwards, on every path out.
// After the main pass the options are set for the archiver call, since the list is already expanded:
// r not given (the byte 255), jo and job not given, p = 1.
// When context.Cancel is set the walk stops at once and the partial list is returned; the caller
// checks context.Cancel.
std::vector<AnsiString> BuildPackList(const std::vector<AnsiString>& files, TPackListOptions& options,
                                      const AnsiString& baseFolder, TPackContext& context);

}  // namespace norvex
