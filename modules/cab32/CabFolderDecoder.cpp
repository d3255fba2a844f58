// Reading and decoding a folder's data blocks.
#include "modules/cab32/CabFolderDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

#include <isa-l/igzip_lib.h>

#include "archivers/ArchiverAbi.h"

namespace norvex::modules::cab {

namespace {

constexpr std::size_t kBlockHeader = 8;
constexpr std::size_t kMaxBlockData = 0xFFFF;
constexpr std::size_t kHistory = 32 * 1024;
// Compressed data is read this much at a time; decoded data is handed out in pieces of about this
// size (whole blocks), small enough to be written while still in the cache.
constexpr std::size_t kInput = 1024 * 1024;
constexpr std::size_t kPiece = 256 * 1024;
// A file listed before one that starts earlier in the folder, or overlapping it, makes the folder
// start over; from a checkpoint, that costs at most this much decoding ahead of the file.
constexpr uint64_t kCheckpointInterval = 16u << 20;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }

}  // namespace

uint32_t CabChecksum(const unsigned char* data, std::size_t size, uint32_t seed) {
    uint32_t sum = seed;
    std::size_t words = size / 4;
    // Eight words a step in independent lanes, so that the compiler can keep them in vector registers.
    uint32_t lanes[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= words; i += 8)
        for (int k = 0; k < 8; ++k) lanes[k] ^= Le32(data + 4 * (i + k));
    for (; i < words; ++i) sum ^= Le32(data + 4 * i);
    for (uint32_t lane : lanes) sum ^= lane;
    const unsigned char* tail = data + 4 * words;
    uint32_t last = 0;
    switch (size % 4) {
    case 3: last = static_cast<uint32_t>(tail[0]) << 16 | static_cast<uint32_t>(tail[1]) << 8 | tail[2]; break;
    case 2: last = static_cast<uint32_t>(tail[0]) << 8 | tail[1]; break;
    case 1: last = tail[0]; break;
    default: break;
    }
    return sum ^ last;
}

struct CabFolderDecoder::Inflater {
    inflate_state state;
};

CabFolderDecoder::CabFolderDecoder() : input_(new unsigned char[kInput + kBlockHeader + 255 + kMaxBlockData]) {}

std::size_t CabFolderDecoder::PieceCapacity() { return kHistory + kPiece + kMaxBlockData + 1; }

CabFolderDecoder::~CabFolderDecoder() = default;

void CabFolderDecoder::start(int fd, uint64_t fileSize, const CabFolder& folder, uint8_t dataReserve, uint64_t from) {
    const bool sameFolder = fd == fd_ && folder.dataOffset == folder_.dataOffset && folder.blocks == folder_.blocks &&
                            folder.compression == folder_.compression && dataReserve == dataReserve_;
    if (!sameFolder) checkpoints_.clear();
    fd_ = fd;
    fileSize_ = fileSize;
    folder_ = folder;
    dataReserve_ = dataReserve;
    readOffset_ = folder.dataOffset;
    inputStart_ = inputEnd_ = 0;
    output_ = nullptr;
    outputEnd_ = history_ = 0;
    blocksDone_ = 0;
    position_ = 0;
    failed_ = 0;
    message_ = "";
    const Checkpoint* resume = nullptr;
    for (const Checkpoint& c : checkpoints_)
        if (c.position <= from) resume = &c;
    if (resume) {
        readOffset_ = resume->readOffset;
        blocksDone_ = resume->blocksDone;
        position_ = resume->position;
        output_ = resume->bytes.get();
        outputEnd_ = history_ = resume->history;
    }
}

void CabFolderDecoder::keepCheckpoint() {
    if (position_ == 0 || position_ < (checkpoints_.empty() ? 0 : checkpoints_.back().position) + kCheckpointInterval)
        return;
    Checkpoint c;
    c.position = position_;
    c.readOffset = readOffset_ - (inputEnd_ - inputStart_);
    c.blocksDone = blocksDone_;
    c.history = std::min(history_, kHistory);
    // Decoding runs on a thread of its own, where nothing may throw: without memory there is no
    // checkpoint, only a longer way back.
    c.bytes.reset(new (std::nothrow) unsigned char[c.history]);
    if (!c.bytes) return;
    std::memcpy(c.bytes.get(), output_ + outputEnd_ - c.history, c.history);
    try {
        checkpoints_.push_back(std::move(c));
    } catch (const std::bad_alloc&) {
    }
}

int32_t CabFolderDecoder::fail(int32_t code, const char* why) {
    failed_ = code;
    message_ = why;
    return code;
}

bool CabFolderDecoder::fill(std::size_t size) {
    if (inputEnd_ - inputStart_ >= size) return true;
    std::memmove(input_.get(), input_.get() + inputStart_, inputEnd_ - inputStart_);
    inputEnd_ -= inputStart_;
    inputStart_ = 0;
    // Read a whole buffer, or less where the file ends.
    const std::size_t room = std::max(kInput, size) - inputEnd_;
    const std::size_t want = readOffset_ >= fileSize_ ? 0 : static_cast<std::size_t>(std::min<uint64_t>(room, fileSize_ - readOffset_));
    std::size_t got = 0;
    while (got < want) {
        ssize_t n = ::pread(fd_, input_.get() + inputEnd_ + got, want - got, static_cast<off_t>(readOffset_ + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    inputEnd_ += got;
    readOffset_ += got;
    return inputEnd_ >= size;
}

int32_t CabFolderDecoder::decodeBlock(const unsigned char* data, std::size_t compressed, std::size_t uncompressed) {
    unsigned char* out = output_ + outputEnd_;
    const uint16_t method = folder_.compression & 0x000F;
    if (method == kCompressNone) {
        if (compressed != uncompressed) return fail(ARC_ERROR_CANNOT_READ, "無圧縮ブロックの大きさが一致しません");
        std::memcpy(out, data, compressed);
        return ARC_OK;
    }
    if (compressed < 2 || data[0] != 'C' || data[1] != 'K')
        return fail(ARC_ERROR_CANNOT_READ, "MSZIP ブロックの署名がありません");
    if (!inflater_) {
        inflater_.reset(new (std::nothrow) Inflater);  // not value-initialised: isal_inflate_init sets it up
        if (!inflater_) return fail(ARC_ERROR_ENOUGH_MEMORY, "メモリが足りません");
        isal_inflate_init(&inflater_->state);
    } else {
        isal_inflate_reset(&inflater_->state);
    }
    inflate_state& s = inflater_->state;
    const std::size_t dictionary = std::min(history_, kHistory);
    if (dictionary > 0 && isal_inflate_set_dict(&s, out - dictionary, static_cast<uint32_t>(dictionary)) != COMP_OK)
        return fail(ARC_ERROR_CANNOT_READ, "圧縮データを展開できません");
    s.next_in = const_cast<unsigned char*>(data + 2);
    s.avail_in = static_cast<uint32_t>(compressed - 2);
    s.next_out = out;
    // One byte more than the block may hold: a block that decodes to more than its header says is
    // caught, not cut.
    s.avail_out = static_cast<uint32_t>(uncompressed + 1);
    int r = isal_inflate(&s);
    const std::size_t produced = uncompressed + 1 - s.avail_out;
    if (r < 0) return fail(ARC_ERROR_CANNOT_READ, "圧縮データが壊れています");
    // A block normally ends its deflate stream; one that stops at a flush point instead is whole when
    // all of its input was used.
    if (s.block_state != ISAL_BLOCK_FINISH && s.avail_in != 0)
        return fail(ARC_ERROR_CANNOT_READ, "ブロックのデータがヘッダの大きさを超えています");
    if (produced != uncompressed) return fail(ARC_ERROR_CANNOT_READ, "ブロックの展開後の大きさが一致しません");
    return ARC_OK;
}

int32_t CabFolderDecoder::next(unsigned char* buffer, const unsigned char*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (failed_) return failed_;
    keepCheckpoint();
    // The last 32 KiB of the piece before go in front of the new piece, as the next block's dictionary
    // (memmove: the buffer may be the same).
    const std::size_t keep = std::min(history_, kHistory);
    if (keep > 0) std::memmove(buffer, output_ + outputEnd_ - keep, keep);
    output_ = buffer;
    outputEnd_ = keep;
    const std::size_t pieceStart = outputEnd_;
    int32_t code = ARC_OK;
    while (blocksDone_ < folder_.blocks && outputEnd_ - pieceStart < kPiece) {
        if (!fill(kBlockHeader + dataReserve_)) {
            code = fail(ARC_ERROR_EOF, "キャビネットのデータが途中で終わっています");
            break;
        }
        const unsigned char* header = input_.get() + inputStart_;
        const uint32_t checksum = Le32(header);
        const std::size_t compressed = Le16(header + 4), uncompressed = Le16(header + 6);
        const std::size_t total = kBlockHeader + dataReserve_ + compressed;
        if (!fill(total)) {
            code = fail(ARC_ERROR_EOF, "キャビネットのデータが途中で終わっています");
            break;
        }
        header = input_.get() + inputStart_;
        const unsigned char* blockData = header + kBlockHeader + dataReserve_;
        // The checksum covers the data, then the two sizes. (Cabinets with reserved bytes in their
        // data blocks are left to libarchive: OwnDecoderReads.)
        if (checksum != 0 &&
            CabChecksum(header + 4, 4, CabChecksum(header + kBlockHeader, dataReserve_ + compressed, 0)) != checksum) {
            code = fail(ARC_FILE_CRC, "データブロックのチェックサムが一致しません");
            break;
        }
        if ((code = decodeBlock(blockData, compressed, uncompressed)) != ARC_OK) break;
        inputStart_ += total;
        outputEnd_ += uncompressed;
        history_ += uncompressed;
        ++blocksDone_;
    }
    size = outputEnd_ - pieceStart;
    // Blocks decoded before a broken one are handed out first; the failure comes with the next call.
    if (code != ARC_OK && size == 0) return code;
    data = output_ + pieceStart;
    position_ += size;
    return ARC_OK;
}

}  // namespace norvex::modules::cab
