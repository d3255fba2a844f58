// Writes small RAR 4 archives (stored entries) for the tests: single archives and split sets in both
// naming styles, with an entry that spans two volumes, so the engine's split handling meets real files.
#pragma once
#include <string>
#include <vector>

namespace norvex::test {

struct RarEntry {
    std::string name;     // bytes as stored in the header (cp932 for Japanese names)
    std::string content;
};

enum class RarNaming {
    NewStyle,  // base.part1.rar, base.part2.rar, ...
    OldStyle,  // base.rar, base.r00, base.r01, ...
};

// Writes entries into volumeCount volumes in folder (host path) and returns the volume paths in order.
// The bytes of all entries are cut evenly over the volumes, so entries span volume boundaries. A
// volumeCount of 1 writes a plain archive base.rar.
std::vector<std::string> WriteRar(const std::string& folder, const std::string& base,
                                  const std::vector<RarEntry>& entries, int volumeCount,
                                  RarNaming naming = RarNaming::NewStyle);

}  // namespace norvex::test
