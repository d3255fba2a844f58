// Paths: file-name parts, joins, wildcards and the base folder.
#include "util/Paths.h"

#include <vector>

#include "platform/AnsiCodec.h"

namespace norvex {

AnsiString ExtractName(const AnsiString& path) {
    const std::size_t last = AnsiLastDelimiter(path, "/\\:");
    return last == AnsiString::npos ? path : path.substr(last + 1);
}

AnsiString JoinPath(const AnsiString& folder, const AnsiString& name) {
    if (folder.empty()) return name;
    if (HostEndsWithDelim(folder)) return folder + name;
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

AnsiString WithoutHostDelim(AnsiString path) {
    while (path.size() > 1 && HostEndsWithDelim(path)) path.pop_back();
    return path;
}

AnsiString NormalizeHostPath(const AnsiString& path) {
    const bool absolute = !path.empty() && path[0] == PathDelim;
    std::vector<AnsiString> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(PathDelim, start);  // "/" is never a trail byte
        if (end == AnsiString::npos) end = path.size();
        const AnsiString part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    AnsiString out = absolute ? AnsiString(1, PathDelim) : AnsiString();
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
    return out.empty() ? AnsiString(".") : out;
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
