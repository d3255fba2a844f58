// The decoding thread of a folder and the ring of pieces it fills.
#include "modules/cab32/CabReadAhead.h"

#include <exception>

#include "archivers/ArchiverAbi.h"

namespace norvex::modules::cab {

CabReadAhead::CabReadAhead() {
    free_.reserve(kSlots);
    for (std::size_t i = 0; i < kSlots; ++i) {
        slots_.emplace_back(new unsigned char[CabFolderDecoder::PieceCapacity()]);
        free_.push_back(i);
    }
}

CabReadAhead::~CabReadAhead() { stop(); }

void CabReadAhead::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    readyHead_ = readyCount_ = 0;
    free_.clear();
    for (std::size_t i = 0; i < slots_.size(); ++i) free_.push_back(i);
    held_ = false;
    stopping_ = false;
}

void CabReadAhead::start(int fd, uint64_t fileSize, const CabFolder& folder, uint8_t dataReserve, uint64_t from) {
    stop();
    decoder_.start(fd, fileSize, folder, dataReserve, from);
    position_ = decoder_.position();
    ended_ = false;
    endCode_ = 0;
    message_.clear();
    started_ = true;
    try {
        thread_ = std::thread([this] { run(); });
        threaded_ = true;
    } catch (const std::exception&) {
        threaded_ = false;  // no thread to be had: the reader's calls decode
    }
}

void CabReadAhead::run() {
    for (;;) {
        std::size_t slot;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !free_.empty(); });
            if (stopping_) return;
            slot = free_.back();
            free_.pop_back();
        }
        Piece piece;
        piece.slot = slot;
        piece.code = decoder_.next(slots_[slot].get(), piece.data, piece.size);
        const bool last = piece.code != ARC_OK || piece.size == 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ready_[(readyHead_ + readyCount_++) % kSlots] = piece;
        }
        changed_.notify_all();
        if (last) return;
    }
}

int32_t CabReadAhead::next(const unsigned char*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (!started_) return ARC_ERROR_CANNOT_READ;
    if (ended_) return endCode_;
    Piece piece;
    if (!threaded_) {
        piece.code = decoder_.next(slots_[0].get(), piece.data, piece.size);
    } else {
        std::unique_lock<std::mutex> lock(mutex_);
        if (held_) {
            free_.push_back(heldSlot_);
            held_ = false;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return readyCount_ > 0; });
        piece = ready_[readyHead_];
        readyHead_ = (readyHead_ + 1) % kSlots;
        --readyCount_;
        if (piece.code == ARC_OK && piece.size > 0) {
            held_ = true;
            heldSlot_ = piece.slot;
        } else {
            free_.push_back(piece.slot);
        }
    }
    if (piece.code != ARC_OK || piece.size == 0) {
        // The decoding thread has stopped by now: its message can be read.
        ended_ = true;
        endCode_ = piece.code;
        if (piece.code != ARC_OK) message_ = decoder_.message();
        return piece.code;
    }
    position_ += piece.size;
    data = piece.data;
    size = piece.size;
    return ARC_OK;
}

}  // namespace norvex::modules::cab
