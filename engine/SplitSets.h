// Split archive sets: which naming styles make a set, whether a name is the first or a later volume,
// and which files of its folder belong to the same set. The styles live in one table (SplitSets.cpp);
// a new style is one more row.
//
// Names are compared as a Linux user expects: the base name exactly, the fixed parts of the style
// (".part", ".rar", ".r") without regard to ASCII case, so "UP.PART1.RAR" and "Up.Part01.Rar" start
// their sets. A set never collects the volumes of another base ("x" never takes those of "xx").
#pragma once
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

struct TSplitSetRule;

enum class TVolumeKind {
    NotSplit,     // no style of the archive's extension applies to the name
    FirstVolume,  // the first volume of a numbered style (x.part1.rar, x.part01.rar)
    LaterVolume,  // a later volume of a numbered style (x.part2.rar): skipped
    Unnumbered,   // a name that starts a set only when numbered volumes lie beside it (x.rar + x.r00)
};

struct TVolumeName {
    TVolumeKind Kind = TVolumeKind::NotSplit;
    AnsiString Base;                     // the set's base name ("x")
    const TSplitSetRule* Rule = nullptr;  // the style that applied
    unsigned Width = 0;                  // digits of the first volume's number, zeros included
};

// How a file name (no folder) with the given lower-cased extension fits the split styles.
TVolumeName ClassifyVolumeName(const AnsiString& name, const AnsiString& extension);

// The numbered volumes of the set in folder (host path, with or without its trailing "/"), as
// folder + name, in volume order, up to the first missing number. Numbers are written as the first
// volume writes its own, at least as many digits (x.part1.rar takes x.part2.rar, never x.part02.rar).
// For an unnumbered first volume the list does not hold it. When a volume of the set lies past the
// first missing number, missing (if given) is set to the name the missing volume would have (folder +
// name), else cleared.
std::vector<AnsiString> CollectSetVolumes(const AnsiString& folder, const TVolumeName& volume,
                                          AnsiString* missing = nullptr);

}  // namespace norvex
