// The folders that hold listed archives, and fresh folder names.
#include "engine/ArchiveFolders.h"

#include <string>

#include "platform/FileSystem.h"
#include "util/Paths.h"

namespace norvex {

namespace {

AnsiString Absolute(const AnsiString& path) { return NormalizeHostPath(ExpandFileName(path)); }

}  // namespace

bool FolderHoldsAny(const AnsiString& folder, const std::vector<AnsiString>& paths) {
    const AnsiString outer = Absolute(folder);
    const AnsiString prefix = outer == "/" ? outer : outer + PathDelim;
    for (const AnsiString& path : paths) {
        const AnsiString p = Absolute(path);
        if (p == outer || p.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

AnsiString NextFreshFolderName(const AnsiString& path) {
    const AnsiString base = WithoutHostDelim(path);
    int n = 1;
    AnsiString candidate = base + "_new" + std::to_string(n);
    while (FileGetAttr(candidate) != INVALID_FILE_ATTRIBUTES) candidate = base + "_new" + std::to_string(++n);
    return candidate;
}

}  // namespace norvex
