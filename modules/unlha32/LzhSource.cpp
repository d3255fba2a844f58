// The LHA module's reader: header walk, per-method decoders, CRC check. Tested by LhaModuleTest and
// LzhDecoderTest.
#include "modules/unlha32/LzhSource.h"

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
#include "modules/lzh/LzhDecoder.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

namespace {

constexpr std::size_t kBlock = 1 << 16;  // also the grain of the progress records

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
        : reader_(fd, h.dataOffset, std::min(h.compressedSize, h.originalSize)),
          buf_(static_cast<std::size_t>(std::clamp<uint64_t>(h.originalSize, 1, kBlock))) {}
    int64_t next(const uint8_t*& data, std::size_t capacity) override {
        data = buf_.data();
        const ssize_t got = reader_.read(buf_.data(), std::min(capacity, buf_.size()));
        return got < 0 ? -ARC_ERROR_CANNOT_READ : got;
    }

private:
    CompressedReader reader_;
    std::vector<uint8_t> buf_;
};

// -lh5-, -lh6-, -lh7- through our own decoder.
class OwnDecoder : public LzhEntryDecoder {
public:
    OwnDecoder(int fd, const lzh::LzhEntryHeader& h, int dictBits)
        : reader_(fd, h.dataOffset, h.compressedSize),
          decoder_(dictBits, h.compressedSize, h.originalSize,
                   [this](uint8_t* buf, std::size_t n) -> int64_t { return reader_.read(buf, n); }) {}

    int64_t next(const uint8_t*& data, std::size_t capacity) override {
        if (pendingSize_ == 0) {
            const int64_t got = decoder_.next(pending_);
            if (got < 0) return -FailureCode(decoder_.status());
            pendingSize_ = static_cast<std::size_t>(got);
        }
        const std::size_t n = std::min(capacity, pendingSize_);
        data = pending_;
        pending_ += n;
        pendingSize_ -= n;
        return static_cast<int64_t>(n);
    }

private:
    static int32_t FailureCode(lzh::DecodeStatus status) {
        switch (status) {
        case lzh::DecodeStatus::ReadFailed: return ARC_ERROR_CANNOT_READ;
        case lzh::DecodeStatus::Truncated: return ARC_ERROR_EOF;
        case lzh::DecodeStatus::TooLong: return ARC_FILE_CRC;
        default: return ARC_ERROR_HUFFMAN_CODE;
        }
    }

    CompressedReader reader_;
    lzh::LzhDecoder decoder_;
    const uint8_t* pending_ = nullptr;
    std::size_t pendingSize_ = 0;
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

    int64_t next(const uint8_t*& data, std::size_t capacity) override {
        if (buf_.empty()) buf_.resize(kBlock);
        data = buf_.data();
        const size_t got = lha_decoder_read(decoder_, buf_.data(), std::min(capacity, buf_.size()));
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
    std::vector<uint8_t> buf_;
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

LzhArchiveFile::~LzhArchiveFile() {
    if (fd_ >= 0) close(fd_);
}

LzhEntryReader::LzhEntryReader(std::shared_ptr<LzhArchiveFile> file, const lzh::LzhEntryHeader& header)
    : file_(std::move(file)), header_(header) {}

LzhEntryReader::~LzhEntryReader() = default;

int32_t LzhEntryReader::startDecoding() {
    const std::string& m = header_.method;
    const int fd = file_->fd();
    const int dictBits = lzh::DecoderDictionaryBits(m);
    if (m == "-lh0-" || m == "-lz4-") {
        decoder_ = std::make_unique<StoredDecoder>(fd, header_);
    } else if (dictBits != 0) {
        decoder_ = std::make_unique<OwnDecoder>(fd, header_, dictBits);
    } else {
        auto d = std::make_unique<LhasaDecoder>(fd, header_);
        if (!d->ok()) {
            message_ = "対応していない圧縮法です: "_ansi + m;
            return ARC_METHOD;
        }
        decoder_ = std::move(d);
    }
    return ARC_OK;
}

int32_t LzhEntryReader::finish(int32_t code, AnsiString message) {
    done_ = true;
    result_ = code;
    decoder_.reset();
    if (!message.empty()) message_ = std::move(message);
    return code;
}

int32_t LzhEntryReader::readBlock(const void*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (done_) return result_;
    if (header_.isDirectory || header_.isSymlink) return finish(ARC_OK, {});
    if (!decoder_) {
        if (header_.originalSize == 0) {
            const bool crcOk = !header_.hasCrc || header_.crc == 0;
            return finish(crcOk ? ARC_OK : ARC_FILE_CRC, crcOk ? AnsiString() : "CRC が一致しません: "_ansi + header_.path);
        }
        const int32_t code = startDecoding();
        if (code != ARC_OK) return finish(code, {});
    }
    const uint64_t want = std::min<uint64_t>(kBlock, header_.originalSize - produced_);
    const uint8_t* out = nullptr;
    const int64_t got = want == 0 ? 0 : decoder_->next(out, static_cast<std::size_t>(want));
    if (got < 0) return finish(static_cast<int32_t>(-got), "データが壊れています: "_ansi + header_.path);
    if (got == 0) {
        if (produced_ != header_.originalSize)
            return finish(ARC_FILE_CRC, "データが途中で終わっています: "_ansi + header_.path);
        if (header_.hasCrc && crc_ != header_.crc) return finish(ARC_FILE_CRC, "CRC が一致しません: "_ansi + header_.path);
        return finish(ARC_OK, {});
    }
    crc_ = lzh::Crc16(crc_, out, static_cast<std::size_t>(got));
    produced_ += static_cast<uint64_t>(got);
    data = out;
    size = static_cast<std::size_t>(got);
    return ARC_OK;
}

LzhSource::~LzhSource() = default;

int32_t LzhSource::Open(const AnsiString& path, std::unique_ptr<LzhSource>& out) {
    const std::string host = FromAnsi(path);
    struct stat st {};
    const int fd = OpenRegularFile(host, &st);
    if (fd < 0) return errno == ENOENT ? ARC_ERROR_NOT_FIND_ARC_FILE : ARC_ERROR_ARC_FILE_OPEN;
    auto file = std::make_shared<LzhArchiveFile>(fd);
    out.reset(new LzhSource());
    out->headers_ = std::make_unique<lzh::HeaderInput>(fd, true);
    out->file_ = std::move(file);
    out->fileSize_ = static_cast<uint64_t>(st.st_size);
    out->version_ = FileVersion::Of(st);
    return ARC_OK;
}

void LzhSource::record(std::size_t maxEntries, std::function<void(std::shared_ptr<const LzhWalk>)> done) {
    recorded_ = std::make_shared<LzhWalk>();
    recordLimit_ = maxEntries;
    recordDone_ = std::move(done);
}

int32_t LzhSource::nextEntry(EntryInfo& entry) {
    reader_.reset();
    dataPending_ = false;
    if (replay_) {
        if (replayed_ == replay_->headers.size()) return ARC_FIND_END;
        header_ = replay_->headers[replayed_++];
        haveEntry_ = true;
        dataPending_ = true;
        EntryFromHeader(header_, entry);
        return ARC_OK;
    }
    const int fd = file_->fd();
    if (first_) {
        first_ = false;
        if (!lzh::FindFirstHeader(fd, fileSize_, nextHeader_)) {
            message_ = "LZH 書庫ではありません"_ansi;
            return ARC_ERROR_NOT_ARC_FILE;
        }
    } else if (haveEntry_) {
        nextHeader_ = header_.nextOffset();
    }
    haveEntry_ = false;
    const lzh::HeaderStatus status = lzh::ReadHeader(*headers_, nextHeader_, fileSize_, header_);
    if (status == lzh::HeaderStatus::End) {
        if (recorded_) recordDone_(std::move(recorded_));
        return ARC_FIND_END;
    }
    if (status != lzh::HeaderStatus::Ok) {
        recorded_.reset();
        message_ = "書庫のヘッダが壊れています"_ansi;
        return HeaderFailure(status, false);
    }
    if (recorded_) {
        if (recorded_->headers.size() < recordLimit_)
            recorded_->headers.push_back(header_);
        else
            recorded_.reset();
    }
    haveEntry_ = true;
    message_.clear();
    dataPending_ = true;
    EntryFromHeader(header_, entry);
    return ARC_OK;
}

int32_t LzhSource::readBlock(const void*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (dataPending_) {
        reader_ = std::make_unique<LzhEntryReader>(file_, header_);
        dataPending_ = false;
    }
    if (!reader_) return ARC_OK;
    return reader_->readBlock(data, size);
}

AnsiString LzhSource::lastMessage() const {
    if (reader_) {
        AnsiString m = reader_->lastMessage();
        if (!m.empty()) return m;
    }
    return message_;
}

std::unique_ptr<EntryDataReader> LzhSource::takeDataReader() {
    if (header_.isDirectory || header_.isSymlink) return nullptr;
    if (dataPending_) {
        dataPending_ = false;
        return std::make_unique<LzhEntryReader>(file_, header_);
    }
    return std::move(reader_);
}

}  // namespace norvex::modules
