// Archive kinds of the batch: extensions, forced driver types, the switches of 7z and tar.
#include "engine/ArchiveKinds.h"

#include <algorithm>

#include "platform/AnsiCodec.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

namespace {

AnsiString LowerAsciiText(AnsiString s) {
    // Lower-casing ASCII letters only: cp932 trail bytes in the letter range stay as they are, and
    // a name's extension is compared only with ASCII texts.
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = AnsiCharLength(s, i);
        if (n == 1 && s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] - 'A' + 'a');
        i += n;
    }
    return s;
}

bool EndsWith(const AnsiString& s, const AnsiString& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char* const kClassic[] = {".lzh", ".lha", ".zip", ".rar", ".cab"};
const char* const kTarFamily[] = {".tar", ".tar.gz", ".tgz", ".tar.bz2", ".tbz", ".tbz2",
                                  ".tar.xz", ".txz", ".tar.zst", ".tzst"};
const char* const kCompoundTar[] = {".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst"};

bool IsTarFamily(const AnsiString& ext) {
    return std::find(std::begin(kTarFamily), std::end(kTarFamily), ext) != std::end(kTarFamily);
}

// The position of ".7z." + digits at the end of a lower-cased name, or npos.
std::size_t NumberedPartStart(const AnsiString& lowerName, std::size_t& digitsStart) {
    std::size_t d = lowerName.size();
    while (d > 0 && lowerName[d - 1] >= '0' && lowerName[d - 1] <= '9') --d;
    if (d == lowerName.size() || d < 5 || lowerName.compare(d - 4, 4, ".7z.") != 0) return AnsiString::npos;
    digitsStart = d;
    return d - 4;
}

}  // namespace

AnsiString ArchiveExtension(const AnsiString& path) {
    const AnsiString name = LowerAsciiText(ExtractHostName(path));
    std::size_t digits = 0;
    if (NumberedPartStart(name, digits) != AnsiString::npos) return ".7z";
    for (const char* tail : kCompoundTar)
        if (EndsWith(name, tail)) return tail;
    const std::size_t dot = name.rfind('.');  // "." is never a cp932 trail byte
    return dot == AnsiString::npos ? AnsiString() : name.substr(dot);
}

bool IsExtraFormatExtension(const AnsiString& ext) { return ext == ".7z" || IsTarFamily(ext); }

bool IsAcceptedExtension(const AnsiString& ext, bool extraFormats) {
    if (std::find(std::begin(kClassic), std::end(kClassic), ext) != std::end(kClassic)) return true;
    return extraFormats && IsExtraFormatExtension(ext);
}

TArchiverType ForcedArchiverType(const AnsiString& ext) {
    if (ext == ".lha") return atLha;
    if (ext == ".7z") return at7z;
    // One module reads every tar compression; the drivers of the family differ only in packing.
    if (IsTarFamily(ext)) return atTar;
    return atNone;
}

void SetExtraFormatOptions(TArchiverOptions& o, const AnsiString& ext, TOverWrite overWrite, bool ignoreDirectory) {
    const int choice = static_cast<int>(overWrite) & 3;
    if (ext == ".7z") {
        o.x = ignoreDirectory ? 0 : 1;
        if (overWrite == TOverWrite::Overwrite) o.c = 1;
        if (overWrite == TOverWrite::Skip) o.jn = 1;
        if (overWrite == TOverWrite::IfNewer) o.UserOptions = "-aon";
    } else if (IsTarFamily(ext)) {
        static const char* const kSwitch[] = {"", "-o", "-n", "-u"};
        AnsiString sw = kSwitch[choice];
        if (ignoreDirectory) sw += sw.empty() ? "-j" : " -j";
        o.UserOptions = sw;
    }
}

}  // namespace norvex
