// The archive names the engine takes in a batch, and what each kind needs from the engine: the
// extension it is known by (".tar.gz" as a whole), the driver type the name alone does not tell,
// and the switches of the kinds beyond the classic five. The module of each kind is in
// FormatModules.h, the numbered 7z sets (name.7z.001, .002, ...) in SplitSets.h.
#pragma once
#include "archivers/ArchiverOptions.h"
#include "archivers/Archives.h"
#include "platform/AnsiString.h"
#include "settings/SettingsBlock.h"

namespace norvex {

// The lower-cased extension a name is known by, with its dot: a compound tar extension whole
// (".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst"), ".7z" for a part of a numbered 7z set
// ("x.7z.003"), otherwise the last extension (".zip"; empty when there is none).
AnsiString ArchiveExtension(const AnsiString& path);

// Whether the engine extracts archives known by ext: ".lzh", ".lha", ".zip", ".rar", ".cab" always;
// ".7z" and the tar family (".tar", ".tar.gz", ".tgz", ".tar.bz2", ".tbz", ".tbz2", ".tar.xz",
// ".txz", ".tar.zst", ".tzst") when extraFormats is on.
bool IsAcceptedExtension(const AnsiString& ext, bool extraFormats);
bool IsExtraFormatExtension(const AnsiString& ext);

// The driver type of an archive known by ext when the name alone would not choose it (".lha" and
// the compressed tar names the detection by extension does not know, parts of a 7z set); atNone
// when the name decides.
TArchiverType ForcedArchiverType(const AnsiString& ext);

// The extraction options of a 7z or tar archive for the overwrite choice and the folder choice.
// 7z: "e" instead of "x" without folders; ask: no switch, overwrite "-aoa", skip "-aos", newer "-aon".
// tar: "-j" without folders; ask: no switch, overwrite "-o", skip "-n", newer "-u". Other kinds are
// left as they are.
void SetExtraFormatOptions(TArchiverOptions& options, const AnsiString& ext, TOverWrite overWrite,
                           bool ignoreDirectory);

}  // namespace norvex
