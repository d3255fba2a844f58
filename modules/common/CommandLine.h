// The command line a module receives: tokens, response files, the command word, the switches of each
// module's dialect, the archive, the destination folder and the file masks after it.
//
// Contract (what every module of the family accepts):
//  - Tokens are separated by blanks; a double quote starts or ends a quoted run inside a token
//    ("C:\a b\x.lzh" is one token without its quotes), and inside a quoted run two double quotes
//    stand for one ("a""b" is the token a"b). Blanks, CR and LF inside a quoted run are kept. A token
//    that is "@path" after unquoting names a response file: cp932 text whose tokens (one quoted name
//    per line, CR LF) replace it in place. The host's builder (archivers/ArchiverOptions) writes every
//    name by this rule and puts "./" before a name that starts with "@" or "-", so any name the file
//    system allows arrives as one token, and none reads as a response file or a switch.
//  - The first token is the command word ("x", "-x", "e", "-e", "t", "u", ...). Tokens that start with
//    "-" and come before the archive are switches; the first other token is the archive.
//  - After the archive, the first token is the destination folder (it normally ends in "\\" or "/");
//    every further token is a file mask. A token ending in a separator that is not the first after the
//    archive is a mask of a folder (it matches the folder and what lies under it).
//  - Masks: "*" and "?" match whole cp932 characters; ASCII letters match without regard to case; a
//    mask without a separator matches the entry's file name, one with a separator its whole path ("/"
//    and "\\" are the same). The ZIP dialect also knows "[...]" sets ("[[]" is a literal "[", "[-]"
//    a literal "-"), as the host escapes names that way. No mask means every entry.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex::modules {

// The switch language of a module; each maps the host's switches onto ExtractOptions.
//   LHA: -x1 / -x0 folders on / off; -jyc1 ask (wins over -u0), -u0 always, -jn1 never, -u1 if newer.
//   ZIP: -j no folders; no switch ask, -o always, -n never, -u if newer.
//   CAB: -j no folders; no switch ask, -o always, -o- never, -n if newer.
//   RAR: command -x folders / -e no folders; no switch ask, -o always, -o- never, -u if newer.
//   TAR: -j no folders; no switch ask, -o always, -n never, -u if newer.
//   7z: command x folders / e no folders; -o<folder> is the destination and every token after the
//       archive a file mask; no switch ask, -aoa or -y always, -aos never, -aou never (existing
//       files are kept: renaming is not offered), -aon if newer.
// Any other switch is accepted and ignored.
enum class SwitchDialect { Lha, Zip, Cab, Rar, Tar, SevenZip };

enum class OverwritePolicy { Ask, Always, Never, IfNewer };

enum class CommandKind {
    Extract,      // x / -x: with folders unless a switch says otherwise
    ExtractFlat,  // e / -e: without folders
    Test,         // t / -t: read every entry, write nothing
    List,         // l / v / -l / -v: nothing to do for a module without a console
    Other         // anything else (the LHA module's "u" packing, say): the module decides
};

struct ExtractOptions {
    bool useFolders = true;
    OverwritePolicy overwrite = OverwritePolicy::Ask;
};

struct CommandLine {
    AnsiString word;                  // the command word as given
    CommandKind kind = CommandKind::Other;
    std::vector<AnsiString> switches; // every switch token as given, in order
    AnsiString archive;               // empty when missing
    AnsiString destination;           // as given (may be empty: the current folder)
    bool hasDestination = false;
    std::vector<AnsiString> masks;    // file masks after the destination
};

// Splits a command line into tokens (quotes removed). "@file" tokens are expanded; an unreadable
// response file gives ARC_ERROR_RESPONSE_READ in error (tokens then holds what was read). Returns
// ARC_OK otherwise.
int32_t TokenizeCommandLine(std::string_view cmdLine, std::vector<AnsiString>& tokens);

// Tokenizes and assigns the parts (see the contract above). The command kind follows from the word
// (with or without a leading "-"): x extract, e extract flat, t test, l / v list. Returns ARC_OK, or
// ARC_ERROR_RESPONSE_READ, or ARC_ERROR_COMMAND_NAME for an empty line.
int32_t ParseCommandLine(std::string_view cmdLine, CommandLine& out);

// Lays the parts out as the dialect writes them: the 7z dialect names its destination in a switch
// (-o<folder>), so that every token after the archive is a file mask. Other dialects are unchanged.
void ApplyDialectLayout(SwitchDialect dialect, CommandLine& line);

// The options the switches of one dialect express; an ExtractFlat command always turns folders off.
ExtractOptions InterpretSwitches(SwitchDialect dialect, const CommandLine& line);

// Whole-character wildcard match of a cp932 text: "*" any run, "?" one character, ASCII case folded;
// "/" and "\\" match each other. brackets enables "[...]" sets ("[!...]" negates, "a-z" ranges).
bool WildcardMatch(std::string_view pattern, std::string_view text, bool brackets = false);

// The file masks of one command. Empty = every entry matches.
class MaskSet {
public:
    MaskSet() = default;
    MaskSet(std::vector<AnsiString> masks, bool brackets);
    // entryPath is the entry's path as in the archive ("/" or "\\" separated, cp932).
    bool matches(std::string_view entryPath) const;
    bool empty() const { return masks_.empty(); }

private:
    std::vector<AnsiString> masks_;
    bool brackets_ = false;
    bool all_ = true;  // no masks, or one that takes every entry ("*", "*.*")
};

// The last path component of an entry path (whole-character separator search), without trailing
// separators.
AnsiString EntryFileName(std::string_view entryPath);

}  // namespace norvex::modules
