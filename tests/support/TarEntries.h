// Hand-made tar entries for tests: a header block as GNU tar writes it (a sparse entry's map in the
// header itself) and data padded to whole blocks. No end blocks: the caller closes the archive.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace norvex::test {

// A header block: name, type ('0' a file, 'S' a sparse file), the size stored and, for a sparse
// entry, up to four regions of its map (offset, length) and the size the file has with its holes.
std::string TarHeader(const std::string& name, char type, uint64_t stored,
                      const std::vector<std::pair<uint64_t, uint64_t>>& map = {}, uint64_t realSize = 0);
// data followed by zeros up to a whole block.
std::string TarData(const std::string& data);
// One regular file: its header and its data.
inline std::string TarEntry(const std::string& name, const std::string& data) {
    return TarHeader(name, '0', data.size()) + TarData(data);
}

}  // namespace norvex::test
