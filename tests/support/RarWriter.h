// A small writer of stored (uncompressed) RAR 4 and RAR 5 archives, for test fixtures: no RAR creator is
// packaged, and these stay small enough to read against the format description.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace norvex::test {

struct RarEntry {
    std::string name;            // raw header bytes (cp932 for the tests); "\\" or "/" separated
    std::string data;            // a file's content, or a symbolic link's target
    // Copy (RAR 5 only): a file copy of the earlier entry named by data, with no data of its own.
    enum Kind { File, Directory, Symlink, Copy } kind = File;
    uint32_t unixMode = 0644;    // permission bits
    uint16_t dosDate = (40 << 9) | (5 << 5) | 6;  // 2020-05-06
    uint16_t dosTime = (7 << 11) | (8 << 5) | 5;  // 07:08:10
};

// Volumes of one archive. volumeLimit caps the data bytes of each volume (0 = one volume); with
// newNumbering the set is meant for names x.part1.rar ..., else for x.rar, x.r00 ...
std::vector<std::string> BuildRar4(const std::vector<RarEntry>& entries, std::size_t volumeLimit = 0,
                                   bool newNumbering = true);

// A split set whose volumes each hold whole entries (no entry crosses a volume boundary):
// perVolume[i] are the entries of volume i. Every volume but the last ends with the end block that
// announces a next volume (with the volume number), as a volume set is written.
std::vector<std::string> BuildRar4Set(const std::vector<std::vector<RarEntry>>& perVolume, bool newNumbering = true);

// A stored RAR 5 archive (one element of perVolume) or a set of volumes that each hold whole
// entries. Names are UTF-8 with "/" separators; files, folders and file copies (kind Symlink is not
// written); the DOS date and time are stored as a Unix time (UTC).
std::vector<std::string> BuildRar5(const std::vector<std::vector<RarEntry>>& perVolume);

}  // namespace norvex::test
