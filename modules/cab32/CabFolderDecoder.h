// The decoded data of one cabinet folder, read front to back: its data blocks are read from the file,
// each block's checksum is checked (when it has one), and stored or MSZIP blocks are decoded, each to
// exactly the size its header gives. MSZIP blocks are raw deflate streams behind a "CK" signature,
// each using the folder's previous 32 KiB of decoded data as its dictionary (ISA-L).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/cab32/CabDirectory.h"

namespace norvex::modules::cab {

class CabFolderDecoder {
public:
    CabFolderDecoder();
    ~CabFolderDecoder();
    CabFolderDecoder(const CabFolderDecoder&) = delete;
    CabFolderDecoder& operator=(const CabFolderDecoder&) = delete;

    // Starts over in folder of the file fd (fileSize bytes long; the descriptor stays the caller's):
    // at the first block, or, when the folder was decoded before past `from`, at the last of the
    // checkpoints kept on the way (every 16 MiB: where the block stood and the 32 KiB before it)
    // that lies at or before `from`. position() tells where decoding resumes.
    void start(int fd, uint64_t fileSize, const CabFolder& folder, uint8_t dataReserve, uint64_t from = 0);
    // The bytes a piece buffer must hold.
    static std::size_t PieceCapacity();
    // Decodes the next piece (one or more whole blocks) into buffer (PieceCapacity() bytes; the
    // buffer of the piece before, or another; the previous piece's buffer must still hold it, as its
    // last 32 KiB are the dictionary). ARC_OK with size > 0 and data inside buffer, ARC_OK with size 0
    // after the folder's last block, or a failure code (message() tells why; the decoder then repeats
    // it until start()).
    int32_t next(unsigned char* buffer, const unsigned char*& data, std::size_t& size);
    // Where the piece next() hands out next starts, in the folder's decoded data.
    uint64_t position() const { return position_; }
    // A Japanese line about the failure (UTF-8).
    const char* message() const { return message_; }

private:
    int32_t fail(int32_t code, const char* why);
    // Makes the next block's header and data (size bytes from the current block) available in input_.
    bool fill(std::size_t size);
    int32_t decodeBlock(const unsigned char* data, std::size_t compressed, std::size_t uncompressed);

    struct Checkpoint {
        uint64_t position = 0;     // in the decoded data
        uint64_t readOffset = 0;   // the block's header in the file
        uint32_t blocksDone = 0;
        std::size_t history = 0;
        std::unique_ptr<unsigned char[]> bytes;  // the history decoded before position
    };
    void keepCheckpoint();

    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    std::unique_ptr<unsigned char[]> input_;
    unsigned char* output_ = nullptr;  // the buffer of the piece being decoded, or of the last one
    int fd_ = -1;
    uint64_t fileSize_ = 0;
    CabFolder folder_;
    uint8_t dataReserve_ = 0;
    uint64_t readOffset_ = 0;      // the file offset input_ is filled from next
    std::size_t inputStart_ = 0, inputEnd_ = 0;
    std::size_t outputEnd_ = 0;    // decoded bytes in output_ (history included)
    std::size_t history_ = 0;      // bytes at outputEnd_'s back usable as dictionary
    uint32_t blocksDone_ = 0;
    uint64_t position_ = 0;
    int32_t failed_ = 0;
    const char* message_ = "";  // a literal: decoding allocates nothing it could fail on
    std::vector<Checkpoint> checkpoints_;  // of the folder started last, ascending
};

// The checksum of a data block: every 32-bit little-endian word of data XORed into seed, the last one
// to three bytes as one word in the order that the format gives them.
uint32_t CabChecksum(const unsigned char* data, std::size_t size, uint32_t seed);

}  // namespace norvex::modules::cab
