// The LZH archive writer. Tested by LzhArchiveWriterTest (round trips through lhasa and bsdtar).
#include "modules/lzh/LzhArchiveWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "modules/lzh/LzhCrc16.h"

namespace norvex::lzh {
namespace {

constexpr std::size_t kChunk = 1 << 16;

ssize_t ReadSome(int fd, void* buf, std::size_t n) {
    for (;;) {
        const ssize_t got = read(fd, buf, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

}  // namespace

LzhArchiveWriter::LzhArchiveWriter(int fd, LzhMethod method, int level, bool allowStored)
    : fd_(fd), method_(method), level_(level), allowStored_(allowStored) {}

bool LzhArchiveWriter::WriteAt(uint64_t offset, const void* data, std::size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t put = pwrite(fd_, p, n, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return true;
}

WriteStatus LzhArchiveWriter::AddFile(const EntryMeta& meta, int inFd, const Progress& progress) {
    struct stat st {};
    if (fstat(inFd, &st) != 0) return WriteStatus::ReadError;
    const auto expected = static_cast<uint64_t>(st.st_size);
    if (expected > kMaxEntrySize) return WriteStatus::TooLarge;

    Level2Fields f;
    f.path = meta.path;
    f.method = MethodName(method_);
    f.mtime = meta.mtime;
    f.unixMode = meta.mode;
    f.originalSize = expected;
    std::vector<uint8_t> header = BuildLevel2Header(f);
    if (header.empty()) return WriteStatus::NameTooLong;
    const uint64_t headerPos = pos_;
    if (!WriteAt(headerPos, header.data(), header.size())) return WriteStatus::WriteError;
    const uint64_t dataPos = headerPos + header.size();

    // Compress; give up early once the output is no smaller than the input would be stored.
    uint64_t out = 0;
    bool writeFailed = false;
    bool gaveUp = false;
    LzhEncoder encoder(method_, [&](const uint8_t* data, std::size_t n) {
        if (allowStored_ && out + n >= expected && expected > 0) {
            gaveUp = true;
            return false;
        }
        if (!WriteAt(dataPos + out, data, n)) {
            writeFailed = true;
            return false;
        }
        out += n;
        return true;
    }, level_);

    std::vector<uint8_t> buf(kChunk);
    uint16_t crc = 0;
    uint64_t done = 0;
    bool encoding = true;
    for (;;) {
        const ssize_t got = ReadSome(inFd, buf.data(), buf.size());
        if (got < 0) return WriteStatus::ReadError;
        if (got == 0) break;
        crc = Crc16(crc, buf.data(), static_cast<std::size_t>(got));
        done += static_cast<uint64_t>(got);
        if (done > kMaxEntrySize) return WriteStatus::TooLarge;
        if (encoding && !encoder.Write(buf.data(), static_cast<std::size_t>(got))) encoding = false;
        if (writeFailed) return WriteStatus::WriteError;
        if (gaveUp) break;
        if (progress && !progress(done)) return WriteStatus::Cancelled;
    }
    if (encoding && !encoder.Finish()) encoding = false;
    if (writeFailed) return WriteStatus::WriteError;
    if (!encoding && !gaveUp) return WriteStatus::WriteError;
    if (gaveUp || (allowStored_ && out >= done)) {
        if (lseek(inFd, 0, SEEK_SET) != 0) return WriteStatus::ReadError;
        return StoreFile(meta, inFd, headerPos, header.size(), progress);
    }

    f.compressedSize = out;
    f.originalSize = done;
    f.crc = crc;
    header = BuildLevel2Header(f);
    if (!WriteAt(headerPos, header.data(), header.size())) return WriteStatus::WriteError;
    pos_ = dataPos + out;
    return WriteStatus::Ok;
}

WriteStatus LzhArchiveWriter::StoreFile(const EntryMeta& meta, int inFd, uint64_t headerPos, std::size_t headerLen,
                                        const Progress& progress) {
    const uint64_t dataPos = headerPos + headerLen;
    std::vector<uint8_t> buf(kChunk);
    uint16_t crc = 0;
    uint64_t done = 0;
    for (;;) {
        const ssize_t got = ReadSome(inFd, buf.data(), buf.size());
        if (got < 0) return WriteStatus::ReadError;
        if (got == 0) break;
        if (done + static_cast<uint64_t>(got) > kMaxEntrySize) return WriteStatus::TooLarge;
        if (!WriteAt(dataPos + done, buf.data(), static_cast<std::size_t>(got))) return WriteStatus::WriteError;
        crc = Crc16(crc, buf.data(), static_cast<std::size_t>(got));
        done += static_cast<uint64_t>(got);
        if (progress && !progress(done)) return WriteStatus::Cancelled;
    }
    Level2Fields f;
    f.path = meta.path;
    f.method = "-lh0-";
    f.mtime = meta.mtime;
    f.unixMode = meta.mode;
    f.compressedSize = done;
    f.originalSize = done;
    f.crc = crc;
    const std::vector<uint8_t> header = BuildLevel2Header(f);
    if (header.size() != headerLen) return WriteStatus::WriteError;
    if (!WriteAt(headerPos, header.data(), header.size())) return WriteStatus::WriteError;
    pos_ = dataPos + done;
    return WriteStatus::Ok;
}

WriteStatus LzhArchiveWriter::AddDirectory(const EntryMeta& meta) {
    Level2Fields f;
    f.path = meta.path;
    f.isDirectory = true;
    f.method = "-lhd-";
    f.mtime = meta.mtime;
    f.unixMode = meta.mode;
    const std::vector<uint8_t> header = BuildLevel2Header(f);
    if (header.empty()) return WriteStatus::NameTooLong;
    if (!WriteAt(pos_, header.data(), header.size())) return WriteStatus::WriteError;
    pos_ += header.size();
    return WriteStatus::Ok;
}

WriteStatus LzhArchiveWriter::CopyEntry(int srcFd, const LzhEntryHeader& header) {
    uint64_t from = header.headerOffset;
    const uint64_t end = header.nextOffset();
    std::vector<uint8_t> buf(kChunk);
    while (from < end) {
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(buf.size(), end - from));
        const ssize_t got = pread(srcFd, buf.data(), n, static_cast<off_t>(from));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return WriteStatus::ReadError;
        if (!WriteAt(pos_, buf.data(), static_cast<std::size_t>(got))) return WriteStatus::WriteError;
        pos_ += static_cast<uint64_t>(got);
        from += static_cast<uint64_t>(got);
    }
    return WriteStatus::Ok;
}

WriteStatus LzhArchiveWriter::Finish() {
    const uint8_t end = 0;
    if (!WriteAt(pos_, &end, 1)) return WriteStatus::WriteError;
    ++pos_;
    if (ftruncate(fd_, static_cast<off_t>(pos_)) != 0) return WriteStatus::WriteError;
    return WriteStatus::Ok;
}

}  // namespace norvex::lzh
