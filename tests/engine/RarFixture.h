// Split RAR 4 sets on disk for the engine's tests: the shared stored-RAR writer cuts the entries
// evenly over the volumes (so entries span volume boundaries), and the volumes get RAR's names.
#pragma once
#include <string>
#include <vector>

#include "tests/support/RarWriter.h"

namespace norvex::test {

enum class RarNaming {
    NewStyle,  // base.part1.rar, base.part2.rar, ...
    OldStyle,  // base.rar, base.r00, base.r01, ...
};

// Writes entries into volumeCount volumes in folder (host path) and returns the volume paths in order.
// A volumeCount of 1 writes a plain archive base.rar.
std::vector<std::string> WriteRar(const std::string& folder, const std::string& base,
                                  const std::vector<RarEntry>& entries, int volumeCount,
                                  RarNaming naming = RarNaming::NewStyle);

}  // namespace norvex::test
