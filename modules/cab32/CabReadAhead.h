// A folder decoded on a thread of its own, a few pieces ahead of the reader: while the extraction
// writes one piece, the next ones are being read, checked and inflated. The pieces live in a small
// ring of buffers (a few MiB in all, whatever the folder's size).
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modules/cab32/CabFolderDecoder.h"

namespace norvex::modules::cab {

class CabReadAhead {
public:
    CabReadAhead();
    ~CabReadAhead();
    CabReadAhead(const CabReadAhead&) = delete;
    CabReadAhead& operator=(const CabReadAhead&) = delete;

    // Starts over in folder, at its start or at a checkpoint at or before from
    // (CabFolderDecoder::start); a decoding still running for an earlier start is stopped first.
    void start(int fd, uint64_t fileSize, const CabFolder& folder, uint8_t dataReserve, uint64_t from);
    // The next piece, as CabFolderDecoder::next gives it. The piece handed out before is let go.
    int32_t next(const unsigned char*& data, std::size_t& size);
    // Where the next piece starts, in the folder's decoded data.
    uint64_t position() const { return position_; }
    const std::string& message() const { return message_; }
    // Stops the decoding thread (it reads the descriptor given to start()).
    void stop();

private:
    struct Piece {
        std::size_t slot = 0;
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        int32_t code = 0;
    };
    void run();

    CabFolderDecoder decoder_;
    std::vector<std::unique_ptr<unsigned char[]>> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Nothing here allocates once made (the decoding thread must not fail on memory): free_ keeps
    // the capacity of every slot, ready_ is a ring of as many pieces as there are slots.
    // The piece being written, the one being decoded, and room to even out the two.
    static constexpr std::size_t kSlots = 4;
    std::vector<std::size_t> free_;   // slots the decoder may fill
    Piece ready_[kSlots];             // decoded, in order: readyCount_ pieces from readyHead_
    std::size_t readyHead_ = 0, readyCount_ = 0;
    bool started_ = false;
    bool threaded_ = false;           // false: next() decodes on the caller's thread
    bool stopping_ = false;
    bool held_ = false;               // the reader holds heldSlot_
    std::size_t heldSlot_ = 0;
    bool ended_ = false;              // the last piece (the end or a failure) was handed out
    int32_t endCode_ = 0;
    uint64_t position_ = 0;
    std::string message_;
    std::thread thread_;
};

}  // namespace norvex::modules::cab
