// The LHA module's reader: our own header reader walks the archive (so names are the raw cp932
// bytes, trail byte 0x5C included), and each entry's data is decoded by the library that knows its
// method: stored data is copied, -lh5-, -lh6- and -lh7- go through libarchive, the older methods
// (-lh1-, -lh4-, -lzs-, -lz5-, ...) through liblhasa. The CRC of every entry is checked here.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "modules/common/ArchiveSource.h"
#include "modules/lzh/LzhHeader.h"

namespace norvex::modules {

// Decodes one entry's data; implemented per library in LzhSource.cpp.
class LzhEntryDecoder {
public:
    virtual ~LzhEntryDecoder() = default;
    // Up to capacity decoded bytes into out; 0 at the end. A negative value is a failure code
    // negated (ARC_ERROR_HUFFMAN_CODE for data that does not decode, ...).
    virtual int64_t read(uint8_t* out, std::size_t capacity) = 0;
    // The same, but may hand out the decoder's own bytes instead of filling scratch (no copy);
    // data stays valid until the next call.
    virtual int64_t next(const uint8_t*& data, uint8_t* scratch, std::size_t capacity) {
        data = scratch;
        return read(scratch, capacity);
    }
};

class LzhSource : public ArchiveSource {
public:
    ~LzhSource() override;
    // Opens path (cp932). ARC_OK, ARC_ERROR_NOT_FIND_ARC_FILE, ARC_ERROR_ARC_FILE_OPEN.
    static int32_t Open(const AnsiString& path, std::unique_ptr<LzhSource>& out);

    int32_t nextEntry(EntryInfo& entry) override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    bool fatal() const override { return false; }
    AnsiString lastMessage() const override { return message_; }

    // The header of the entry last returned by nextEntry (for the packer's update).
    const lzh::LzhEntryHeader& currentHeader() const { return header_; }
    int fd() const { return fd_; }

private:
    LzhSource() = default;
    int32_t startDecoding();

    int fd_ = -1;
    uint64_t fileSize_ = 0;
    uint64_t nextHeader_ = 0;
    bool first_ = true;
    bool haveEntry_ = false;
    lzh::LzhEntryHeader header_;
    std::unique_ptr<LzhEntryDecoder> decoder_;
    bool decodingDone_ = false;
    uint64_t produced_ = 0;
    uint16_t crc_ = 0;
    std::vector<uint8_t> block_;
    AnsiString message_;
};

// Fills an EntryInfo from a parsed header (path, type, sizes, times, mode, method).
void EntryFromHeader(const lzh::LzhEntryHeader& header, EntryInfo& entry);

}  // namespace norvex::modules
