// Removing a folder with everything in it, at any depth, with a bounded number of descriptors, and
// only when it is still the very folder the caller means (same device and inode).
#pragma once
#include <functional>
#include <string_view>

#include "platform/AnsiString.h"
#include "platform/FileIdentity.h"

namespace norvex {

enum class TRemoval {
    Removed,   // the file or folder is gone, with all it held
    NotThere,  // nothing of that name
    NotSame,   // the name now belongs to another file or folder: left alone
    Partial,   // something could not be removed (it is still there)
    Refused,   // all went but what the filter kept (and the folders holding it)
};

// Tells which entries of a tree may go: called with each entry's path relative to the tree's top
// folder, a folder's with a trailing "/". A folder it refuses is kept whole and not looked into.
using TRemovalFilter = std::function<bool(std::string_view relative)>;

// Removes path (a file, a symbolic link itself, or a folder with its contents; links inside are
// removed as links and never followed). With an identity, acts only while path is that file or
// folder. The walk keeps no recursion and at most a few descriptors open whatever the depth:
// the folders above the open window are found again through ".." and checked by device and inode,
// so a tree that is moved meanwhile is left alone rather than followed. With a filter, a folder's
// contents go only as far as it allows. With error, a Partial removal tells the errno of the first
// step that failed there (EACCES, EROFS, EMFILE, ...; ESTALE when a folder of the tree was moved
// meanwhile; 0 when not known); 0 for any other outcome.
TRemoval RemoveTree(const AnsiString& path, const TFileIdentity* identity = nullptr,
                    const TRemovalFilter& filter = {}, int* error = nullptr);

}  // namespace norvex
