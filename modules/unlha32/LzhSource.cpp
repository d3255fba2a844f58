// The LHA module's reader: header walk, per-method decoders, CRC check. Tested by LhaModuleTest.
#include "modules/unlha32/LzhSource.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <lhasa.h>
}

#include "modules/common/RegularFile.h"
#include "modules/lzh/LzhCrc16.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

namespace {

constexpr std::size_t kBlock = 1 << 16;

// Reads the compressed bytes of one entry from the archive, in order.
class CompressedReader {
public:
    CompressedReader(int fd, uint64_t offset, uint64_t size) : fd_(fd), pos_(offset), end_(offset + size) {}
    // Up to n bytes; 0 at the end of the entry's data; -1 on a read error.
    ssize_t read(void* buf, std::size_t n) {
        n = static_cast<std::size_t>(std::min<uint64_t>(n, end_ - pos_));
        if (n == 0) return 0;
        for (;;) {
            const ssize_t got = pread(fd_, buf, n, static_cast<off_t>(pos_));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return -1;
            pos_ += static_cast<uint64_t>(got);
            return got;
        }
    }

private:
    int fd_;
    uint64_t pos_;
    uint64_t end_;
};

// -lh0- and -lz4-: the data is the file.
class StoredDecoder : public LzhEntryDecoder {
public:
    StoredDecoder(int fd, const lzh::LzhEntryHeader& h)
        : reader_(fd, h.dataOffset, std::min(h.compressedSize, h.originalSize)) {}
    int64_t read(uint8_t* out, std::size_t capacity) override {
        const ssize_t got = reader_.read(out, capacity);
        return got < 0 ? -ARC_ERROR_CANNOT_READ : got;
    }

private:
    CompressedReader reader_;
};

// -lh5-, -lh6-, -lh7- through libarchive. libarchive reads whole archives, so it is handed a
// one-entry archive made on the fly: a level-2 header with a plain ASCII name, this entry's data
// and the end mark. That keeps the pairing of headers and data ours, whatever the real header's
// level or name.
class LibarchiveDecoder : public LzhEntryDecoder {
public:
    LibarchiveDecoder(int fd, const lzh::LzhEntryHeader& h) : reader_(fd, h.dataOffset, h.compressedSize), buf_(kBlock) {
        lzh::Level2Fields f;
        f.path = "x";
        f.method = h.method;
        f.compressedSize = h.compressedSize;
        f.originalSize = h.originalSize;
        f.crc = h.crc;
        header_ = lzh::BuildLevel2Header(f);
    }
    ~LibarchiveDecoder() override {
        if (archive_) archive_read_free(archive_);
    }

    bool open() {
        archive_ = archive_read_new();
        if (!archive_) return false;
        archive_read_support_format_lha(archive_);
        if (archive_read_open(archive_, this, nullptr, &LibarchiveDecoder::Read, nullptr) != ARCHIVE_OK) return false;
        struct archive_entry* entry = nullptr;
        return archive_read_next_header(archive_, &entry) == ARCHIVE_OK;
    }

    int64_t read(uint8_t* out, std::size_t capacity) override {
        const uint8_t* data = nullptr;
        const int64_t n = next(data, out, capacity);
        if (n > 0) std::memcpy(out, data, static_cast<std::size_t>(n));
        return n;
    }

    // libarchive's own blocks, handed through without a copy.
    int64_t next(const uint8_t*& data, uint8_t*, std::size_t capacity) override {
        while (pendingSize_ == 0) {
            if (ended_) return 0;
            const void* data = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(archive_, &data, &size, &offset);
            if (r == ARCHIVE_EOF) {
                ended_ = true;
                return 0;
            }
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) return readFailed_ ? -ARC_ERROR_CANNOT_READ : -ARC_ERROR_HUFFMAN_CODE;
            pending_ = static_cast<const uint8_t*>(data);
            pendingSize_ = size;
        }
        const std::size_t n = std::min(capacity, pendingSize_);
        data = pending_;
        pending_ += n;
        pendingSize_ -= n;
        return static_cast<int64_t>(n);
    }

private:
    static la_ssize_t Read(struct archive*, void* self, const void** block) {
        auto* d = static_cast<LibarchiveDecoder*>(self);
        if (d->headerSent_ < d->header_.size()) {
            *block = d->header_.data() + d->headerSent_;
            const std::size_t n = d->header_.size() - d->headerSent_;
            d->headerSent_ = d->header_.size();
            return static_cast<la_ssize_t>(n);
        }
        const ssize_t got = d->reader_.read(d->buf_.data(), d->buf_.size());
        if (got < 0) {
            d->readFailed_ = true;
            return -1;
        }
        if (got > 0) {
            *block = d->buf_.data();
            return got;
        }
        if (!d->endSent_) {
            d->endSent_ = true;
            static const uint8_t kEnd = 0;
            *block = &kEnd;
            return 1;
        }
        return 0;
    }

    CompressedReader reader_;
    std::vector<uint8_t> header_;
    std::size_t headerSent_ = 0;
    std::vector<uint8_t> buf_;
    bool endSent_ = false;
    bool readFailed_ = false;
    struct archive* archive_ = nullptr;
    const uint8_t* pending_ = nullptr;
    std::size_t pendingSize_ = 0;
    bool ended_ = false;
};

// The older methods through liblhasa's raw decoders.
class LhasaDecoder : public LzhEntryDecoder {
public:
    LhasaDecoder(int fd, const lzh::LzhEntryHeader& h) : reader_(fd, h.dataOffset, h.compressedSize) {
        std::string method = h.method;
        LHADecoderType* type = lha_decoder_for_name(method.data());
        if (type) decoder_ = lha_decoder_new(type, &LhasaDecoder::Read, this, static_cast<size_t>(h.originalSize));
    }
    ~LhasaDecoder() override {
        if (decoder_) lha_decoder_free(decoder_);
    }
    bool ok() const { return decoder_ != nullptr; }

    int64_t read(uint8_t* out, std::size_t capacity) override {
        const size_t got = lha_decoder_read(decoder_, out, capacity);
        if (readFailed_) return -ARC_ERROR_CANNOT_READ;
        return static_cast<int64_t>(got);
    }

private:
    static size_t Read(void* buf, size_t n, void* self) {
        auto* d = static_cast<LhasaDecoder*>(self);
        const ssize_t got = d->reader_.read(buf, n);
        // Some of the old decoders go on making output from nothing once their input has ended; a
        // decoder that keeps asking for more after the end is reading a broken entry, whatever size
        // its header claims (a few bytes could otherwise stand for gigabytes of noise).
        if (got == 0 && ++d->readsAtEnd_ > kReadsAtEnd) d->readFailed_ = true;
        if (got < 0) {
            d->readFailed_ = true;
            return 0;
        }
        return static_cast<size_t>(got);
    }

    static constexpr int kReadsAtEnd = 16;
    CompressedReader reader_;
    LHADecoder* decoder_ = nullptr;
    bool readFailed_ = false;
    int readsAtEnd_ = 0;
};

int32_t HeaderFailure(lzh::HeaderStatus status, bool first) {
    switch (status) {
    case lzh::HeaderStatus::BadChecksum: return ARC_ERROR_HEADER_CRC;
    case lzh::HeaderStatus::Truncated: return ARC_ERROR_EOF;
    default: return first ? ARC_ERROR_NOT_ARC_FILE : ARC_ERROR_HEADER_BROKEN;
    }
}

}  // namespace

void EntryFromHeader(const lzh::LzhEntryHeader& h, EntryInfo& e) {
    e = EntryInfo{};
    e.path = h.path;
    e.type = h.isDirectory ? EntryType::Directory : EntryType::File;
    if (h.isSymlink) {
        // A Unix writer stores a link as "name|target".
        const std::size_t bar = AnsiFirstDelimiter(h.path, "|");
        e.type = EntryType::Symlink;
        if (bar != std::string::npos) {
            e.path = h.path.substr(0, bar);
            e.linkTarget = h.path.substr(bar + 1);
            for (std::size_t i = 0; i < e.linkTarget.size(); i += AnsiCharLength(e.linkTarget, i))
                if (e.linkTarget[i] == '\\') e.linkTarget[i] = '/';
        }
    }
    e.size = static_cast<int64_t>(h.originalSize);
    e.compressedSize = static_cast<int64_t>(h.compressedSize);
    e.crc = h.crc;
    e.hasMtime = true;
    e.mtime = h.mtime;
    if (h.hasUnixMode) {
        e.hasMode = true;
        e.mode = h.unixMode & 07777;
    } else {
        e.readOnly = (h.dosAttribute & 0x01) != 0;
    }
    e.osType = h.os;
    e.method = h.method;
}

LzhSource::~LzhSource() {
    decoder_.reset();
    if (fd_ >= 0) close(fd_);
}

int32_t LzhSource::Open(const AnsiString& path, std::unique_ptr<LzhSource>& out) {
    const std::string host = FromAnsi(path);
    const int fd = OpenRegularFile(host);
    if (fd < 0) return errno == ENOENT ? ARC_ERROR_NOT_FIND_ARC_FILE : ARC_ERROR_ARC_FILE_OPEN;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ARC_ERROR_ARC_FILE_OPEN;
    }
    out.reset(new LzhSource());
    out->fd_ = fd;
    out->fileSize_ = static_cast<uint64_t>(st.st_size);
    return ARC_OK;
}

int32_t LzhSource::nextEntry(EntryInfo& entry) {
    decoder_.reset();
    if (first_) {
        first_ = false;
        if (!lzh::FindFirstHeader(fd_, fileSize_, nextHeader_)) {
            message_ = "LZH 書庫ではありません"_ansi;
            return ARC_ERROR_NOT_ARC_FILE;
        }
    } else if (haveEntry_) {
        nextHeader_ = header_.nextOffset();
    }
    haveEntry_ = false;
    const lzh::HeaderStatus status = lzh::ReadHeader(fd_, nextHeader_, fileSize_, header_);
    if (status == lzh::HeaderStatus::End) return ARC_FIND_END;
    if (status != lzh::HeaderStatus::Ok) {
        message_ = "書庫のヘッダが壊れています"_ansi;
        return HeaderFailure(status, false);
    }
    haveEntry_ = true;
    decodingDone_ = false;
    produced_ = 0;
    crc_ = 0;
    EntryFromHeader(header_, entry);
    return ARC_OK;
}

int32_t LzhSource::startDecoding() {
    const std::string& m = header_.method;
    if (m == "-lh0-" || m == "-lz4-") {
        decoder_ = std::make_unique<StoredDecoder>(fd_, header_);
    } else if ((m == "-lh5-" || m == "-lh6-" || m == "-lh7-") && header_.originalSize <= 0xFFFFFFFFu &&
               header_.compressedSize <= 0xFFFFFFFFu) {
        auto d = std::make_unique<LibarchiveDecoder>(fd_, header_);
        if (!d->open()) return ARC_ERROR_HUFFMAN_CODE;
        decoder_ = std::move(d);
    } else {
        auto d = std::make_unique<LhasaDecoder>(fd_, header_);
        if (!d->ok()) {
            message_ = "対応していない圧縮法です: "_ansi + m;
            return ARC_METHOD;
        }
        decoder_ = std::move(d);
    }
    return ARC_OK;
}

int32_t LzhSource::readBlock(const void*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (!haveEntry_ || decodingDone_ || header_.isDirectory || header_.isSymlink) return ARC_OK;
    if (!decoder_) {
        if (header_.originalSize == 0) {
            decodingDone_ = true;
            return (header_.hasCrc && header_.crc != 0) ? ARC_FILE_CRC : ARC_OK;
        }
        const int32_t code = startDecoding();
        if (code != ARC_OK) {
            decodingDone_ = true;
            return code;
        }
        block_.resize(kBlock);
    }
    const uint64_t want = std::min<uint64_t>(kBlock, header_.originalSize - produced_);
    const uint8_t* out = block_.data();
    int64_t got = want == 0 ? 0 : decoder_->next(out, block_.data(), static_cast<std::size_t>(want));
    if (got < 0) {
        decodingDone_ = true;
        message_ = "データが壊れています: "_ansi + header_.path;
        return static_cast<int32_t>(-got);
    }
    if (got == 0) {
        decodingDone_ = true;
        decoder_.reset();
        if (produced_ != header_.originalSize) {
            message_ = "データが途中で終わっています: "_ansi + header_.path;
            return ARC_FILE_CRC;
        }
        if (header_.hasCrc && crc_ != header_.crc) {
            message_ = "CRC が一致しません: "_ansi + header_.path;
            return ARC_FILE_CRC;
        }
        return ARC_OK;
    }
    crc_ = lzh::Crc16(crc_, out, static_cast<std::size_t>(got));
    produced_ += static_cast<uint64_t>(got);
    data = out;
    size = static_cast<std::size_t>(got);
    return ARC_OK;
}

}  // namespace norvex::modules
