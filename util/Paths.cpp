// Paths: file-name parts, joins, wildcards and the base folder.
#include "util/Paths.h"

#include "platform/AnsiCodec.h"

namespace norvex {

AnsiString ExtractName(const AnsiString& path) {
    const std::size_t last = AnsiLastDelimiter(path, "/\\:");
    return last == AnsiString::npos ? path : path.substr(last + 1);
}

AnsiString JoinPath(const AnsiString& folder, const AnsiString& name) {
    if (folder.empty()) return name;
    if (AnsiEndsWithSeparator(folder)) return folder + name;
    return folder + PathDelim + name;
}

bool HasWildcard(const AnsiString& text) {
    // "?" and "*" are below 0x40 and so never a cp932 trail byte: a byte search is exact.
    return text.find_first_of("?*") != AnsiString::npos;
}

bool IsFolder(const AnsiString& path) {
    const uint32_t attr = FileGetAttr(path);
    return attr != INVALID_FILE_ATTRIBUTES && (attr & faDirectory);
}

int FindFirstEntry(const AnsiString& pattern, uint32_t attr, TSearchRec& rec) {
    const int result = FindFirst(pattern, attr, rec);
    if (result != 0) FindClose(rec);
    return result;
}

AnsiString ExtractHostFolder(const AnsiString& path) {
    const std::size_t last = path.rfind(PathDelim);  // "/" is never a trail byte
    return last == AnsiString::npos ? AnsiString() : path.substr(0, last + 1);
}

AnsiString ExtractHostName(const AnsiString& path) {
    const std::size_t last = path.rfind(PathDelim);
    return last == AnsiString::npos ? path : path.substr(last + 1);
}

bool EnterBaseFolder(const AnsiString& base, TSavedFolders& saved) {
    if (base.empty()) return true;
    const AnsiString previous = GetCurrentDir();
    if (!SetCurrentDir(base)) return false;
    saved.Previous = previous;
    saved.DriveFolder.clear();
    saved.Entered = true;
    return true;
}

void RestoreFolders(TSavedFolders& saved) {
    if (!saved.Entered) return;
    if (!saved.DriveFolder.empty()) SetCurrentDir(saved.DriveFolder);
    SetCurrentDir(saved.Previous);
    saved.Entered = false;
}

}  // namespace norvex
