// Messages of the archiver exceptions.
#include "archivers/ArchiverErrors.h"

#include "platform/AnsiCodec.h"

namespace norvex {
using namespace norvex::literals;

std::string EArchiver::MessageUtf8() const { return FromAnsi(FMessage); }

ESfxNoRequiredFile::ESfxNoRequiredFile(const AnsiString& format, const AnsiString& qualifier,
                                       const AnsiString& requiredFile)
    : EArchiver(format + " 書庫からの"_ansi + qualifier + "自己解凍書庫の作成には '"_ansi + requiredFile +
                "' ファイルが必要です。"_ansi),
      FFormat(format), FQualifier(qualifier), FRequiredFile(requiredFile) {}

EFCreateError::EFCreateError(const AnsiString& path)
    : FMessage("ファイル "_ansi + path + " を作成できません。"_ansi) {}

AnsiString FormatMessage2(const AnsiString& pattern, const AnsiString& arg0, const AnsiString& arg1) {
    AnsiString out;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, 4, "%0:s") == 0) {
            out += arg0;
            i += 4;
        } else if (pattern.compare(i, 4, "%1:s") == 0) {
            out += arg1;
            i += 4;
        } else {
            // Copy whole characters so that a trail byte never starts a placeholder.
            const std::size_t n = AnsiCharLength(pattern, i);
            out.append(pattern, i, n);
            i += n;
        }
    }
    return out;
}

}  // namespace norvex
