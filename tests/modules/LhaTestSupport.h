// Helpers of the LZH tests: archives from our writer, and hand-made level-0 and level-1 entries
// (stored) for the older header forms that no packaged tool writes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "modules/lzh/LzhEncoder.h"
#include "tests/modules/ModuleTestSupport.h"  // RandomBytes

namespace norvex::test {

// One entry of a hand-made archive. name holds the raw header bytes (cp932, "\\" separators).
struct HandEntry {
    std::string name;
    std::string data;
    int level = 0;                  // 0 or 1
    std::string method = "-lh0-";   // data is stored as given
    std::string dirExt;             // level 1: the directory extended header (0xFF separated)
    uint32_t dosTime = (40u << 25) | (5u << 21) | (6u << 16) | (7u << 11) | (8u << 5) | 5u;
    bool directory = false;
};

// The bytes of an archive of hand-made entries, with the end mark.
std::string BuildHandArchive(const std::vector<HandEntry>& entries);

// A one-entry archive whose data is coded by our encoder, fed in chunks of chunkSize bytes.
std::string EncodeOneEntry(const std::string& name, const std::string& data, lzh::LzhMethod method,
                           std::size_t chunkSize = 65536);

// Packs every file and folder under root (UTF-8 host paths) into archive with our writer, names in
// cp932 relative to root. allowStored = false keeps even incompressible data coded.
bool WriteLzhTree(const std::string& root, const std::string& archive, lzh::LzhMethod method,
                  bool allowStored = true);

// Test data: text-like (compressible, with long and short repeats); random bytes are RandomBytes.
std::string TextLike(std::size_t size, uint32_t seed = 1);

}  // namespace norvex::test
