// What a module's decoder hands the shared code: one archive read from front to back, entry by entry,
// and the description of one entry.
//
// Contract for a decoder (libarchive through LibarchiveSource, or the LHA module's own reader):
//  - nextEntry() fills the next header; it first skips whatever data of the previous entry was not
//    read. It returns ARC_OK, ARC_FIND_END after the last entry, or a failure code (the archive cannot
//    be read on: ARC_ERROR_NOT_ARC_FILE for a first header that is not one, ARC_ERROR_HEADER_BROKEN,
//    ARC_ERROR_HEADER_CRC, ARC_ERROR_EOF, ...). After a failure no further call is made.
//  - readBlock() returns the entry's data in blocks: ARC_OK with size > 0 for data, ARC_OK with
//    size == 0 at the end (every checksum of the entry has been checked by then), or a failure code
//    for this entry (ARC_FILE_CRC, ARC_METHOD, ARC_PASSWORD_FILE, ARC_ERROR_CANNOT_READ,
//    ARC_ERROR_EOF, ...). The block stays valid until the next call. data == nullptr with size > 0
//    is a hole of a sparse entry: size bytes of zeros that were never stored (handed out whole, so
//    that a hole costs no work in proportion to its size).
//  - A decoder hands out only what it really decoded: it never pads an entry that ends early up to
//    its declared size. The writer compares what came with the declared size and refuses a
//    shortfall or an excess.
//  - fatal() tells whether, after a failed readBlock(), the archive can still be read on (false) or
//    not (true).
//  - Names are cp932 with "/" or "\\" as separators (a trail byte 0x5C is part of its character).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "archivers/ArchiverAbi.h"
#include "modules/common/DosClock.h"
#include "platform/AnsiString.h"

namespace norvex::modules {

enum class EntryType { File, Directory, Symlink, Hardlink, Other /* device, fifo, socket */ };

struct EntryInfo {
    AnsiString path;                 // cp932, as stored (the record's fileName)
    EntryType type = EntryType::File;
    int64_t size = 0;                // original size in bytes
    int64_t compressedSize = -1;     // -1 when the format does not tell
    uint32_t crc = 0;
    bool hasMtime = false, hasAtime = false, hasBirthtime = false;
    int64_t mtime = 0, atime = 0, birthtime = 0;           // seconds since 1970, UTC
    int32_t mtimeNsec = 0, atimeNsec = 0, birthtimeNsec = 0;
    bool hasMode = false;
    uint32_t mode = 0;               // permission bits (07777)
    bool readOnly = false;           // the DOS read-only attribute, when there is no mode
    AnsiString linkTarget;           // symlink or hardlink target, cp932
    bool encrypted = false;
    uint32_t osType = 0;
    std::string method;              // up to 7 characters: "-lh5-", "Deflate", "Stored", ...
};

// Fills the 558-byte record from an entry (sizes saturated at 0xFFFFFFFF, DOS date and time in local
// time, path truncated at a whole character to fit, attribute text, method text).
void FillEntryRecord(const EntryInfo& entry, ArcEntryRecord& record, DosClock& clock);
// Fills the 32-bit part and the 64-bit sizes of a progress record (destination given separately).
void FillProgressRecord(const EntryInfo& entry, const AnsiString& destPath, int64_t written,
                        ArcProgressRecord& record, DosClock& clock);
// "-----a-" style attribute text of an entry (7 characters).
std::string AttributeText(const EntryInfo& entry);
// DOS date and time (local time) of a Unix time; 1980-01-01 00:00 for earlier times.
void UnixToDosTime(int64_t unixTime, uint16_t& dosDate, uint16_t& dosTime);
// FILETIME (100 ns since 1601, UTC) of a Unix time.
uint64_t UnixToFileTime(int64_t unixTime, int32_t nsec);
// Copies text into a buffer, NUL-terminated, cut at a whole cp932 character; returns the bytes
// copied before the NUL. What follows the NUL is left as it was.
std::size_t CopyAnsiText(char* buffer, std::size_t bufferSize, std::string_view text);
// As CopyAnsiText, and the rest of the fixed field cleared (records handed to a host).
void CopyAnsiField(char* field, std::size_t fieldSize, std::string_view text);

// Asking the user for a password while reading (the window ABI's ARC_ASK_PASSWORD).
struct SourceContext {
    NvxWindow* window = nullptr;     // nullptr: nobody to ask; encrypted entries give PASSWORD_FILE
    bool listing = false;            // the walk lists the archive (an extraction is likely to follow)
};

// The data of one entry, read apart from the walk over the archive (another thread may read it while
// the walk goes on). readBlock() and lastMessage() as ArchiveSource's.
class EntryDataReader {
public:
    virtual ~EntryDataReader() = default;
    virtual int32_t readBlock(const void*& data, std::size_t& size) = 0;
    virtual AnsiString lastMessage() const { return {}; }
};

class ArchiveSource {
public:
    virtual ~ArchiveSource() = default;
    virtual int32_t nextEntry(EntryInfo& entry) = 0;
    // nextEntry() for a walk that only looks: entry points at a record valid until the next call.
    // A source that keeps its entries hands out its own (no copy per entry); the rest fill one here.
    virtual int32_t viewNextEntry(const EntryInfo*& entry) {
        entry = &viewed_;
        return nextEntry(viewed_);
    }
    virtual int32_t readBlock(const void*& data, std::size_t& size) = 0;
    virtual bool fatal() const { return false; }
    // A Japanese line about the last failure, cp932 (for the command's output text); may be empty.
    virtual AnsiString lastMessage() const { return {}; }
    // A reader of the current entry's data that needs nothing more of this source, or nullptr when the
    // data can only be read through readBlock(). After a reader was taken, readBlock() is not called
    // for this entry; the next nextEntry() skips the data.
    virtual std::unique_ptr<EntryDataReader> takeDataReader() { return nullptr; }

private:
    EntryInfo viewed_;
};

}  // namespace norvex::modules
