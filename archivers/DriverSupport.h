// Helpers shared by the format drivers: the shared binding of a format, the content check by opening,
// file-name pieces, and the search and joining of self-extracting stubs.
#pragma once
#include <memory>
#include <string_view>

#include "archivers/ArchiverDll.h"
#include "platform/AnsiString.h"

namespace norvex {

// The process-wide binding of one format, created on first LoadDLL and kept until FreeDLL.
template <typename Dll>
struct TSharedBinding {
    std::unique_ptr<Dll> dll;
};

// The extension of a file name with its dot ("" when the name part has none).
AnsiString ExtractFileExt(const AnsiString& name);
// The name with its extension replaced (ext includes the dot).
AnsiString ChangeFileExt(const AnsiString& name, const AnsiString& ext);

// OpenArchive with no window and mode 0x800002, closed at once: true when a handle came back.
bool CheckByOpening(TCustomArchiverDll& dll, const AnsiString& fullName);

// Looks a stub file up beside the program, in the module folder, in the current folder and on PATH
// (names compare without regard to case); empty when it is nowhere.
AnsiString FindStubFile(const AnsiString& name);
// Also looks in folder first (when not empty).
AnsiString FindStubFileIn(const AnsiString& folder, const AnsiString& name);

// The target of a self-extracting archive: the archive with the new extension, moved into folder when
// one is given.
AnsiString SfxTargetName(const AnsiString& archive, const AnsiString& ext, const AnsiString& folder);
// Creates target (replacing it) as stub + archive + tail. Throws EArchiver when a file cannot be read
// or written; a partial target is removed.
void WriteSfxFile(const AnsiString& target, const AnsiString& stub, const AnsiString& archive,
                  std::string_view tail = {});

}  // namespace norvex
