// Where an archive entry's name lands in the destination, as the modules write it: leading
// separators and a leading drive letter are stripped, "." components are dropped, and a name with a
// ".." component does not land at all. The top-level count and the bind decision count these parts,
// so "/etc/x.txt" counts as the top element "etc".
#pragma once
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// The components of an entry path, split at "/" and "\\" (whole characters).
std::vector<AnsiString> SplitEntryPath(const AnsiString& path);

// The components the entry lands as; empty when it lands nowhere (".." or nothing but separators).
std::vector<AnsiString> LandingParts(const AnsiString& entryPath);

// A drive letter and ":" at the start of a component ("C:", "c:x").
bool StartsWithDriveLetter(const AnsiString& component);

}  // namespace norvex
