// The directory of a cabinet: its header (reserved areas, the names of the neighbouring cabinets of a
// set), its folders (where each folder's data blocks start, how many there are, how they are
// compressed) and its files (each a range of one folder's decoded data).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex::modules::cab {

// typeCompress of a folder (the low four bits name the method; LZX and Quantum keep a window size above).
constexpr uint16_t kCompressNone = 0, kCompressMszip = 1;
// Header flags.
constexpr uint16_t kFlagPrevCabinet = 0x0001, kFlagNextCabinet = 0x0002, kFlagReservePresent = 0x0004;
// File attributes.
constexpr uint16_t kAttrReadOnly = 0x01, kAttrHidden = 0x02, kAttrSystem = 0x04, kAttrArchive = 0x20,
                   kAttrExecute = 0x40, kAttrNameIsUtf8 = 0x80;
// A file's folder index at or above this continues from or into another cabinet of a set.
constexpr uint16_t kFolderContinued = 0xFFFD;

struct CabFolder {
    uint64_t dataOffset = 0;   // the first data block, from the start of the file (stub included)
    uint16_t blocks = 0;
    uint16_t compression = 0;  // typeCompress
};

struct CabFile {
    AnsiString name;           // cp932, "/" between folders
    uint32_t size = 0;
    uint32_t offset = 0;       // in the folder's decoded data
    uint16_t folder = 0;
    uint16_t date = 0, time = 0, attributes = 0;
};

struct CabDirectory {
    uint64_t start = 0;        // where the cabinet starts in the file
    uint16_t flags = 0;
    uint8_t dataReserve = 0;   // bytes reserved in every data block's header
    std::vector<CabFolder> folders;
    std::vector<CabFile> files;
};

// Reads the directory of the cabinet that starts at `start` in the file fd (fileSize bytes long).
// False, with a Japanese reason in why (UTF-8), when the directory is broken or cut short.
bool ReadCabDirectory(int fd, uint64_t start, uint64_t fileSize, CabDirectory& out, std::string& why);

// True when every folder of the cabinet is one that CabFolderDecoder reads (stored or MSZIP), the
// cabinet is not part of a set, and its data blocks carry no reserved bytes.
bool OwnDecoderReads(const CabDirectory& directory);

// A cabinet name as cp932 with "/" between folders: the bytes as they are (cp932), or UTF-8 turned
// into cp932 when the file says so. A "\\" that is the trail byte of a character stays.
AnsiString CabinetName(const std::string& stored, bool utf8);

}  // namespace norvex::modules::cab
