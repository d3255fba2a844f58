// A cabinet whose folders are all stored or MSZIP, read by the module itself: each file is the slice
// of its folder's decoded data that the table gives. The files come in the order of their data
// (folder, then offset; the table's order among equals), so that a folder is decoded front to back
// once; a file that overlaps the one before beyond the piece at hand makes the folder start over from
// a checkpoint. The folder is decoded on a thread of its own, ahead of the extraction's writing.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/cab32/CabDirectory.h"
#include "modules/cab32/CabReadAhead.h"
#include "modules/common/ArchiveSource.h"

namespace norvex::modules::cab {

class CabSource : public ArchiveSource {
public:
    // fd is the opened cabinet (the source closes it), directory its directory (OwnDecoderReads).
    CabSource(int fd, uint64_t fileSize, CabDirectory directory);
    ~CabSource() override;
    int32_t nextEntry(EntryInfo& entry) override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    AnsiString lastMessage() const override { return message_; }

private:
    int32_t fail(int32_t code, const std::string& why);

    // Where a folder's data can no longer be decoded (from this decoded offset on), and why.
    struct Broken {
        uint64_t at = UINT64_MAX;
        int32_t code = 0;
        std::string why;
    };

    int fd_;
    uint64_t fileSize_;
    CabDirectory directory_;
    std::vector<Broken> broken_;   // per folder
    std::vector<std::size_t> order_;  // indexes into directory_.files, in the order handed out
    CabReadAhead decoder_;
    int decoderFolder_ = -1;       // the folder decoder_ reads, -1 for none
    const unsigned char* piece_ = nullptr;  // the decoder's current piece
    std::size_t pieceSize_ = 0;
    uint64_t pieceStart_ = 0;      // its offset in the folder's decoded data
    std::size_t index_ = 0;        // the next file's index in order_
    const CabFile* current_ = nullptr;
    uint64_t position_ = 0;        // the next byte of the current file, in the folder's decoded data
    bool done_ = false;            // the current file's data was handed out whole
    AnsiString message_;
};

// Unix time of a DOS date and time, read as local time (-1 for a date that is not one).
int64_t DosToUnixTime(uint16_t date, uint16_t time);

}  // namespace norvex::modules::cab
