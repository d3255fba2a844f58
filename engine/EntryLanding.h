// Where an archive entry's name lands in the destination, as the modules write it: leading
// separators and a leading drive letter are stripped, "." components are dropped, and a name with a
// ".." component does not land at all. The top-level count and the bind decision count these parts,
// so "/etc/x.txt" counts as the top element "etc".
#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// The components of an entry path, split at "/" and "\\" (whole characters).
std::vector<AnsiString> SplitEntryPath(const AnsiString& path);

// The components the entry lands as; empty when it lands nowhere (".." or nothing but separators).
std::vector<AnsiString> LandingParts(const AnsiString& entryPath);

// A drive letter and ":" at the start of a component ("C:", "c:x").
bool StartsWithDriveLetter(std::string_view component);

// What the top-level count needs of one entry name, read in one pass.
struct TEntryPath {
    bool EndsWithSeparator = false;  // a folder entry ("a/b/")
    std::size_t DirLength = 0;       // the length of the name up to and with its last separator
    bool LeavesDestination = false;  // as IsAbsoluteEntryPath (UUnPack.h) tells
    AnsiString Landing;              // the landing parts joined by "/"; empty when it lands nowhere
};

// Fills path for entryPath (path.Landing keeps its storage from one entry to the next).
void ReadEntryPath(std::string_view entryPath, TEntryPath& path);

}  // namespace norvex
