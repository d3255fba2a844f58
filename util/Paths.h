// Paths: the file-name part, joins, wildcards, folders, a find-first that is safe to close, and
// entering a base folder for a while.
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"
#include "platform/FileSystem.h"

namespace norvex {

// The part after the last "/", "\\" or ":" (whole characters), or the whole path when there is none.
// Meant for names of either world (entry paths inside archives use "\\" as well).
AnsiString ExtractName(const AnsiString& path);
// Host paths: name when folder is empty; folder + name when folder ends in "/"; otherwise
// folder + PathDelim + name. "\\" is an ordinary character of a Linux name: a folder "back\\"
// gets "back\\/name".
AnsiString JoinPath(const AnsiString& folder, const AnsiString& name);
// True when text holds "?" or "*".
bool HasWildcard(const AnsiString& text);
// True when the attributes of path can be read and carry faDirectory.
bool IsFolder(const AnsiString& path);
// FindFirst that leaves rec.FindHandle at nullptr on failure, so that FindClose is always harmless.
int FindFirstEntry(const AnsiString& pattern, uint32_t attr, TSearchRec& rec);

// True when a host path ends in "/" (never a cp932 trail byte).
inline bool HostEndsWithDelim(const AnsiString& path) { return !path.empty() && path.back() == PathDelim; }
// The host path with one trailing "/" (an empty path stays empty).
inline AnsiString WithHostDelim(const AnsiString& path) {
    return path.empty() || HostEndsWithDelim(path) ? path : path + PathDelim;
}
// The host path without its trailing "/"s ("/" itself stays).
AnsiString WithoutHostDelim(AnsiString path);

// An absolute host path written plainly: "." components and doubled "/" dropped, each ".." taking
// away the component before it (never above "/"), no trailing "/" ("/usr/bin/../lib/" gives
// "/usr/lib"). The file system is not asked; a relative path is only tidied the same way.
AnsiString NormalizeHostPath(const AnsiString& path);

// Host paths split at the last "/" only: on Linux "\\" and ":" are ordinary characters of a name.
// The folder part keeps its trailing "/" ("a/b.txt" gives "a/" and "b.txt"; "b.txt" gives "").
AnsiString ExtractHostFolder(const AnsiString& path);
AnsiString ExtractHostName(const AnsiString& path);

// The folders remembered by EnterBaseFolder. Linux has no drives, so DriveFolder stays empty; it is
// kept so that callers restore both, as the design does.
struct TSavedFolders {
    AnsiString Previous;
    AnsiString DriveFolder;
    bool Entered = false;
};
// Remembers the current folder and makes base the current folder. An empty base does nothing.
// Returns false when base could not be entered (the current folder is then unchanged).
bool EnterBaseFolder(const AnsiString& base, TSavedFolders& saved);
// Goes back to the remembered folder (nothing when EnterBaseFolder did nothing).
void RestoreFolders(TSavedFolders& saved);

// Enters a base folder for the life of a scope and always goes back, exceptions included.
class TBaseFolderScope {
public:
    explicit TBaseFolderScope(const AnsiString& base) { ok_ = base.empty() || EnterBaseFolder(base, saved_); }
    ~TBaseFolderScope() { RestoreFolders(saved_); }
    TBaseFolderScope(const TBaseFolderScope&) = delete;
    TBaseFolderScope& operator=(const TBaseFolderScope&) = delete;
    bool ok() const { return ok_; }

private:
    TSavedFolders saved_;
    bool ok_ = true;
};

}  // namespace norvex
