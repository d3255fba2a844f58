// The option set of the archivers (switches named after the LHA module's) and the builder of one
// module command line.
#pragma once
#include <cstdint>
#include <functional>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// A text switch that was not given: one NUL character (an empty text is a given, empty value).
inline const AnsiString kNotGiven(1, '\0');
inline bool IsNotGiven(const AnsiString& s) { return s.size() == 1 && s[0] == '\0'; }

using TSwitch = int8_t;  // -1 = not given

enum class TPackFilter { pfArchiver, pfComponent };
enum TResFileUse : uint8_t { ruOnPack = 1, ruOnUnpack = 2, ruOnRemoveItem = 4, ruOnUpdate = 8 };
using TResFileUsage = uint8_t;  // a set of TResFileUse

class TArchiverOptions {
public:
    TArchiverOptions() { Reset(); }

    // Every value back to its default, except IncludeExtraStreams and StreamSeparator.
    void Reset();
    // Copies every property into target (jx line by line into target's own list).
    void AssignTo(TArchiverOptions& target) const { target = *this; }

    TSwitch a, c, e, f, h, i, l, m, n, o, p, r, s, t, u;
    AnsiString w;
    TSwitch x, y, z, jc, jd, je, jf, jh, ji, jm, jn;
    AnsiString jo, job;
    TSwitch jp, jr, jsb, jsc, jsd, jse, jsf, jsl, jso, jss, jst, jsv, jsz, jw;
    std::vector<AnsiString> jx;
    TSwitch jyc, jyd, jyk, jyn, jyo;
    AnsiString jz;
    TSwitch ga, gd, ge, gf, gj, gm, gn, go, gp;
    AnsiString gr;
    TSwitch gs, gu, gw, gya, gyc;
    AnsiString gyd, gye;
    TSwitch gyo, gyq, gys;
    AnsiString gyt, gyw;
    TSwitch gyx;
    AnsiString UserOptions;
    AnsiString UserFileList;
    TPackFilter PackFilter;
    AnsiString ResFileName;
    TResFileUsage ResFileUsage;
    bool IncludeExtraStreams = true;
    AnsiString StreamSeparator = ";#";

    bool Uses(TResFileUse use) const { return (ResFileUsage & use) != 0; }
};

// One item of a file list: a name, a C string, a NULL-terminated array of C strings, or a string
// list. Empty names are dropped; std::monostate (and null pointers) yield nothing.
using TFileListItem =
    std::variant<std::monostate, AnsiString, const char*, const char* const*, std::vector<AnsiString>>;
using TFileList = std::vector<TFileListItem>;

// The names a file list yields, in order.
std::vector<AnsiString> ExpandFileList(const TFileList& files);

// The quoting rule of the modules' command lines (the reader is modules/common/CommandLine):
// blanks separate items, a double quote starts or ends a quoted run, and inside a quoted run two
// double quotes stand for one. QuoteArgument wraps text in double quotes and doubles every double
// quote in it, so that any text arrives as one item, byte for byte.
AnsiString QuoteArgument(std::string_view text);
// A name (archive, folder, file) that starts with "@" or "-" would read as a response file or a
// switch: "./" goes in front, which names the same file and matches the same entries.
AnsiString ProtectName(const AnsiString& name);

// Accumulates one command line; every item is preceded by one blank.
class TCmdOpt {
public:
    bool QuoteStyle = false;
    std::function<AnsiString(const AnsiString&)> ConvertNameFunc;
    AnsiString CommandLine;

    void Add(std::string_view text);
    void AddValue(const AnsiString& name, const AnsiString& value);
    void AddNumber(const AnsiString& name, int number);
    void AddFlag(const AnsiString& name, bool on);
    void AddQuoted(const AnsiString& name, const AnsiString& value) { AddValue(name, value); }
    // The folder with a trailing separator (PathDelim) added when missing; nothing when empty or not given.
    void AddFolder(const AnsiString& name, const AnsiString& folder);
    void AddFile(const AnsiString& name, const AnsiString& file) { AddValue(name, ConvertName(file)); }
    int AddFiles(const AnsiString& name, const TFileList& files);
    // Writes the names into a cp932 response file (replacing it) and appends "@path" in quotes.
    // EFCreateError when the file cannot be written; the command line then stays as it was.
    int AddResponseFile(const TFileList& files, const AnsiString& path);
    AnsiString ConvertName(const AnsiString& name) const { return ConvertNameFunc ? ConvertNameFunc(name) : name; }
};

// True when the last whole character of s is PathDelim.
bool EndsWithPathDelim(const AnsiString& s);
AnsiString IncludeTrailingPathDelim(const AnsiString& s);

}  // namespace norvex
