// The freedesktop.org Trash: what Norvex moves to the trash, the desktop's own trash shows and can
// restore (files/NAME plus info/NAME.trashinfo with Path and DeletionDate).
#pragma once
#include <string>

#include "platform/AnsiString.h"

namespace norvex {

struct TrashResult {
    bool ok = false;
    AnsiString trashFolder;  // the trash used (its files/ and info/ are inside)
    AnsiString trashedName;  // the name under files/ (NAME, or NAME.2, NAME.3 ... on a collision)
    std::string error;       // what went wrong, in UTF-8, when !ok
};

// The user's home trash: $XDG_DATA_HOME/Trash (~/.local/share/Trash).
AnsiString HomeTrashFolder();

// Moves a file or folder to the trash. A path on the home trash's volume goes to the home trash; a
// path on another volume goes to that volume's $topdir/.Trash/$uid (when it is a proper sticky
// folder) or $topdir/.Trash-$uid; when neither can be used it is moved into the home trash across
// volumes. An earlier trashed item of the same name is never overwritten.
TrashResult MoveToTrash(const AnsiString& path);

}  // namespace norvex
