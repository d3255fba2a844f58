// Folders the run must not move: the folder that holds the archive being extracted, or any archive
// (or listed folder) still waiting in the list. Moving it aside as "_old" would move the archives
// with it, and the run would then find them missing or extract from the moved copy.
#pragma once
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// True when folder is one of paths, or holds one of them at any depth. Paths are compared as
// absolute, plainly written host paths (relative ones are taken from the current folder).
bool FolderHoldsAny(const AnsiString& folder, const std::vector<AnsiString>& paths);

// The next free name for a fresh folder beside path: path + "_new" + n, n = 1, 2, ... passing over
// every existing name (a file as well as a folder).
AnsiString NextFreshFolderName(const AnsiString& path);

}  // namespace norvex
