// The files of a cabinet as slices of their folders' decoded data.
#include "modules/cab32/CabSource.h"

#include <algorithm>
#include <ctime>
#include <unistd.h>

#include "platform/AnsiCodec.h"

namespace norvex::modules::cab {

namespace {

// The largest slice handed out at once, so that progress can be told that often.
constexpr std::size_t kMaxSlice = 256 * 1024;

}  // namespace

int64_t DosToUnixTime(uint16_t date, uint16_t time) {
    // mktime evens out impossible fields (day 0 is the last day of the month before), as the
    // cabinet reader this replaces did.
    struct tm t {};
    t.tm_year = (date >> 9) + 80;
    t.tm_mon = ((date >> 5) & 0x0F) - 1;
    t.tm_mday = date & 0x1F;
    t.tm_hour = time >> 11;
    t.tm_min = (time >> 5) & 0x3F;
    t.tm_sec = (time & 0x1F) * 2;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

CabSource::CabSource(int fd, uint64_t fileSize, CabDirectory directory)
    : fd_(fd), fileSize_(fileSize), directory_(std::move(directory)), broken_(directory_.folders.size()) {
    // Files in the order of their data, so that each folder is decoded in one pass; a cabinet written
    // in that order (every one seen) keeps the order of its table.
    order_.resize(directory_.files.size());
    for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::stable_sort(order_.begin(), order_.end(), [this](std::size_t a, std::size_t b) {
        const CabFile& x = directory_.files[a];
        const CabFile& y = directory_.files[b];
        return x.folder != y.folder ? x.folder < y.folder : x.offset < y.offset;
    });
}

CabSource::~CabSource() {
    decoder_.stop();  // before the descriptor it reads goes
    if (fd_ >= 0) ::close(fd_);
}

int32_t CabSource::fail(int32_t code, const std::string& why) {
    message_ = ToAnsi(why);
    return code;
}

int32_t CabSource::nextEntry(EntryInfo& entry) {
    current_ = nullptr;
    if (index_ >= directory_.files.size()) return ARC_FIND_END;
    const CabFile& file = directory_.files[order_[index_++]];
    current_ = &file;
    position_ = file.offset;
    done_ = false;
    message_.clear();

    entry = EntryInfo{};
    entry.path = file.name;
    entry.type = EntryType::File;
    entry.size = file.size;
    entry.hasMtime = true;
    entry.mtime = DosToUnixTime(file.date, file.time);
    // The modes the cabinet reader this replaces gave: read-only files r-x for all, others rw-.
    entry.hasMode = true;
    entry.mode = (file.attributes & kAttrReadOnly) ? 0555 : 0666;
    entry.method = "CAB";
    return ARC_OK;
}

int32_t CabSource::readBlock(const void*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (!current_ || done_) return ARC_OK;
    const CabFile& file = *current_;
    const uint64_t end = static_cast<uint64_t>(file.offset) + file.size;
    Broken& broken = broken_[file.folder];
    if (file.size > 0 && end > broken.at) return fail(broken.code, broken.why);
    while (position_ < end) {
        const bool sameFolder = decoderFolder_ == file.folder;
        if (sameFolder && position_ >= pieceStart_ && position_ < pieceStart_ + pieceSize_) {
            const std::size_t from = static_cast<std::size_t>(position_ - pieceStart_);
            size = static_cast<std::size_t>(std::min<uint64_t>({end - position_, pieceSize_ - from, kMaxSlice}));
            data = piece_ + from;
            position_ += size;
            return ARC_OK;
        }
        if (!sameFolder || position_ < pieceStart_) {
            // Another folder, or data already passed: decode the folder again, from its start or
            // the last checkpoint before the position.
            decoder_.start(fd_, fileSize_, directory_.folders[file.folder], directory_.dataReserve, position_);
            decoderFolder_ = file.folder;
            piece_ = nullptr;
            pieceStart_ = pieceSize_ = 0;
        }
        const unsigned char* piece = nullptr;
        std::size_t pieceSize = 0;
        int32_t code = decoder_.next(piece, pieceSize);
        if (code != ARC_OK || pieceSize == 0) {
            // Whatever lies from here on in this folder cannot be had: later files fail at once.
            broken.at = decoder_.position();
            broken.code = code != ARC_OK ? code : ARC_ERROR_EOF;
            broken.why = code != ARC_OK ? decoder_.message() : "ファイルの範囲がフォルダのデータを超えています";
            decoderFolder_ = -1;
            return fail(broken.code, broken.why);
        }
        pieceStart_ = decoder_.position() - pieceSize;
        piece_ = piece;
        pieceSize_ = pieceSize;
    }
    done_ = true;
    return ARC_OK;
}

}  // namespace norvex::modules::cab
