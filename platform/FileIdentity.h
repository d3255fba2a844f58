// Files known by what they are, not by their names: the device and inode of a file, the checks made
// right before acting on a name, and folders claimed by one run while it works in them.
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"

namespace norvex {

struct TFileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool Known() const { return device != 0 || inode != 0; }
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of path itself (a symbolic link is not followed); unknown when it cannot be read.
TFileIdentity IdentityOf(const AnsiString& path);
// The identity of the folder path names, a symbolic link followed (a destination may be reached
// through one); unknown when it cannot be read.
TFileIdentity IdentityOfFolder(const AnsiString& path);
// True when path is still the file or folder of that identity.
bool IsSameFile(const AnsiString& path, const TFileIdentity& identity);

// Deletes a file (never a folder) only when path is still that file, checked through the folder's
// descriptor right before the unlink.
bool DeleteFileIfSame(const AnsiString& path, const TFileIdentity& identity);
// The same, telling why the file was not deleted: 0 when it was; ENOENT when nothing has the name
// any more; EEXIST when another file or a folder has it now (or the identity is unknown); else the
// errno of opening the folder or of the unlink (EACCES, EROFS, EMFILE...).
int DeleteFileIfSameWhy(const AnsiString& path, const TFileIdentity& identity);
// Renames within one file system, never replacing, and only when from is still that file or folder.
bool RenameIfSame(const AnsiString& from, const AnsiString& to, const TFileIdentity& identity);

// The status change time of path, in seconds since 1970 (0 when it cannot be read).
int64_t ChangeTimeOf(const AnsiString& path);

// A folder that one run works in, locked (an advisory lock on the folder itself) for as long as the
// claim lives, so that another run can tell that it must not move, delete or fill it.
class TFolderClaim {
public:
    TFolderClaim() = default;
    ~TFolderClaim();
    TFolderClaim(TFolderClaim&& other) noexcept;
    TFolderClaim& operator=(TFolderClaim&& other) noexcept;
    TFolderClaim(const TFolderClaim&) = delete;
    TFolderClaim& operator=(const TFolderClaim&) = delete;

    // Creates the folder path, already locked: it is made under a hidden temporary name beside
    // path, locked, and then renamed onto path without replacing anything, so that no other run can
    // see it unlocked. False (errno EEXIST when the name is taken) when it cannot be made.
    bool Create(const AnsiString& path);
    // Claims an existing folder; false when another run holds it (or it is no folder).
    bool Take(const AnsiString& path);
    void Release();

    bool Held() const { return fd_ >= 0; }
    const TFileIdentity& Identity() const { return identity_; }

private:
    int fd_ = -1;
    TFileIdentity identity_;
};

// True when another process (another run) holds a claim on the folder path, or may hold one: the
// folder is there but cannot be opened to ask.
bool IsClaimedElsewhere(const AnsiString& path);

}  // namespace norvex
