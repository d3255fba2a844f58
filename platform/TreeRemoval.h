// Removing a folder with everything in it, at any depth, with a bounded number of descriptors, and
// only when it is still the very folder the caller means (same device and inode).
#pragma once
#include "platform/AnsiString.h"
#include "platform/FileIdentity.h"

namespace norvex {

enum class TRemoval {
    Removed,   // the file or folder is gone, with all it held
    NotThere,  // nothing of that name
    NotSame,   // the name now belongs to another file or folder: left alone
    Partial,   // something could not be removed (it is still there)
};

// Removes path (a file, a symbolic link itself, or a folder with its contents; links inside are
// removed as links and never followed). With an identity, acts only while path is that file or
// folder. The walk keeps no recursion and at most a few descriptors open whatever the depth:
// the folders above the open window are found again through ".." and checked by device and inode,
// so a tree that is moved meanwhile is left alone rather than followed.
TRemoval RemoveTree(const AnsiString& path, const TFileIdentity* identity = nullptr);

}  // namespace norvex
