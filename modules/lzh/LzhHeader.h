// Headers of LZH archives: a reader for header levels 0 to 3 that keeps names as the raw cp932
// bytes they are, and the builder of the level-2 headers our writer puts out.
//
// Names: in the name field of levels 0 and 1 the separators are "\\" (sometimes "/" or 0xFF); in
// the directory extended header of levels 1 to 3 they are 0xFF. The reader walks names by whole
// cp932 characters, so the trail byte 0x5C of "ソ" or "表" stays part of its character, and hands
// out paths with "\\" as the only separator.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex::lzh {

struct LzhEntryHeader {
    int level = 0;
    std::string method;             // five characters, "-lh5-"
    uint64_t headerOffset = 0;      // where the header starts in the file
    uint64_t dataOffset = 0;        // where the entry's data starts
    uint64_t compressedSize = 0;
    uint64_t originalSize = 0;
    uint16_t crc = 0;               // CRC-16 of the decoded data
    bool hasCrc = true;             // level 0 headers of some writers carry none
    uint8_t os = 0;                 // 'M', 'U', 'w', ...
    int64_t mtime = 0;              // seconds since the epoch, UTC
    uint8_t dosAttribute = 0x20;
    uint16_t unixMode = 0;
    bool hasUnixMode = false;
    AnsiString path;                // cp932, "\\"-separated, as stored (not yet made safe)
    bool isDirectory = false;       // method -lhd-
    bool isSymlink = false;         // a Unix symbolic link entry ("name|target")

    uint64_t nextOffset() const { return dataOffset + compressedSize; }
};

enum class HeaderStatus {
    Ok,
    End,          // the end-of-archive mark (or the clean end of the file)
    Broken,       // not a header, or a header that contradicts itself or the file
    BadChecksum,  // the header's own checksum or CRC does not match
    Truncated,    // the file ends inside the header
};

// The archive as the header reader reads it: straight from the descriptor (pread), or through a
// window of read-ahead for a walk from front to back, where the headers of small entries lie close
// together and one read serves many.
class HeaderInput {
public:
    explicit HeaderInput(int fd, bool readAhead = false);
    // n bytes at offset; false when the file ends before them or cannot be read.
    bool read(uint64_t offset, void* buf, std::size_t n);

private:
    static constexpr std::size_t kReadAhead = 32 * 1024;
    int fd_;
    bool readAhead_;
    uint64_t start_ = 0;          // the window's offset in the file
    std::vector<uint8_t> window_;
};

// Reads the header that starts at offset. fd must be open for reading (pread is used).
HeaderStatus ReadHeader(int fd, uint64_t offset, uint64_t fileSize, LzhEntryHeader& out);
HeaderStatus ReadHeader(HeaderInput& in, uint64_t offset, uint64_t fileSize, LzhEntryHeader& out);

// Finds the first header: at offset 0 (even a damaged one, so that its reader can tell what is
// wrong), or a sound one after a self-extracting stub within the first 64 KiB. Returns false when
// there is none.
bool FindFirstHeader(int fd, uint64_t fileSize, uint64_t& offset);

// Splits an entry path ("\\" or "/" separated, cp932) into the directory part with 0xFF after each
// component (the level-2 directory header) and the file name. Whole-character.
void SplitForLevel2(const AnsiString& path, std::string& dirField, std::string& nameField);

struct Level2Fields {
    AnsiString path;          // "\\" or "/" separated, cp932; a directory's path names the directory
    bool isDirectory = false;
    std::string method = "-lh5-";
    uint64_t compressedSize = 0;
    uint64_t originalSize = 0;
    uint16_t crc = 0;
    int64_t mtime = 0;
    uint16_t unixMode = 0644;
};

// A complete level-2 header, header CRC included. Its length depends only on the path, so a
// header written with provisional sizes can be overwritten in place with the final one.
// Returns an empty vector when the header would pass the format's 64 KiB limit.
std::vector<uint8_t> BuildLevel2Header(const Level2Fields& fields);

}  // namespace norvex::lzh
