// Our own reading of a ZIP archive's central directory, for what libarchive does not decide for us:
// which charset each name is in (the UTF-8 flag, the Unicode path extra field with its CRC, or an
// archive whose unflagged names are all UTF-8), CRCs and method names.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex::modules::zip {

struct CentralEntry {
    std::string rawName;        // the header's name bytes
    std::string unicodeName;    // the Unicode path extra field's UTF-8 name, when its CRC matches
    bool utf8Flag = false;      // general purpose bit 11
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;  // in the file (a stub in front counted)
    uint8_t madeBy = 0;         // the system that made it (high byte of "version made by": 0 DOS, 3 Unix, ...)
    uint32_t externalAttributes = 0;
    uint16_t dosTime = 0, dosDate = 0;
    bool centralMtime = false;  // the extended timestamp field here carries a modification time
    bool otherExtra = false;    // an extra field other than ZIP64, Unicode path, timestamps, NTFS, uid/gid
    bool symlink = false;       // made on Unix with the link type in its mode
    std::string linkTarget;     // a stored link's target bytes, read from its data (else empty)
};

struct CentralDirectory {
    std::vector<CentralEntry> entries;
    // True when every name without the flag or a valid Unicode field is valid UTF-8 and at least one
    // of them has a multi-byte sequence: the archive was made where names are UTF-8.
    bool unflaggedNamesAreUtf8 = false;
    bool anyUtf8Flag = false;  // some entry has the UTF-8 flag
    uint64_t directoryStart = 0;  // where the central directory starts in the file
    uint64_t directoryEnd = 0;    // and where it ends
    uint64_t endRecordEnd = 0;    // where the end record ends (its comment and anything else behind)
};

// Reads the central directory of the file at hostPath (UTF-8). False when there is none.
bool ReadCentralDirectory(const std::string& hostPath, CentralDirectory& out);
// The same from the open file fd of size bytes.
bool ReadCentralDirectory(int fd, uint64_t size, CentralDirectory& out);

// The entry's name as cp932, by the rules above.
AnsiString EntryName(const CentralEntry& entry, bool unflaggedNamesAreUtf8);

// A short method text ("Stored", "Deflate", ...), at most 7 characters.
std::string MethodName(uint16_t method);

// Strict UTF-8 check (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view s, bool* hasMultiByte = nullptr);

uint32_t Crc32(std::string_view data);

}  // namespace norvex::modules::zip
