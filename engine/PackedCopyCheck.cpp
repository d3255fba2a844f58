// The check of a packed file against its archive (PackedCopyCheck.h).
#include "engine/PackedCopyCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "archivers/Archives.h"
#include "modules/lzh/LzhCrc16.h"
#include "modules/lzh/LzhDecoder.h"
#include "modules/lzh/LzhHeader.h"
#include "platform/AnsiCodec.h"
#include "platform/OwnedFd.h"
#include "util/Paths.h"

namespace norvex {

namespace {

TFileState FromStat(const struct stat& st) {
    TFileState s;
    s.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    s.regular = S_ISREG(st.st_mode);
    s.size = static_cast<uint64_t>(st.st_size);
    s.mtimeSec = st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    s.ctimeSec = st.st_ctim.tv_sec;
    s.ctimeNsec = st.st_ctim.tv_nsec;
    return s;
}

// What the file holds now, read to its end: its size and CRC. False when it cannot be read; changed
// is set when it is not (or did not stay) the file of that state.
struct TFileDigest {
    uint64_t size = 0;
    uint16_t crc = 0;
};

bool DigestOf(const AnsiString& path, const TFileState& packed, TFileDigest& digest, bool& changed) {
    changed = false;
    const int fd = open(FromAnsi(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        changed = errno == ENOENT || errno == ELOOP;
        return false;
    }
    const TOwnedFd closer(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    if (FromStat(st) != packed) {
        changed = true;
        return false;
    }
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        digest.crc = lzh::Crc16(digest.crc, buffer.data(), static_cast<std::size_t>(got));
        digest.size += static_cast<uint64_t>(got);
    }
    if (fstat(fd, &st) != 0) return false;
    changed = FromStat(st) != packed || digest.size != packed.size;
    return !changed;
}

// The last part of an entry name ("a\\b.txt" gives "b.txt"), whole cp932 characters.
AnsiString EntryLastName(const AnsiString& name) {
    const std::size_t sep = AnsiLastDelimiter(name, "\\/");
    return sep == std::string::npos ? name : name.substr(sep + 1);
}

// Reads exactly n bytes; false at the end of the file or on a read error.
bool ReadExactly(int fd, uint8_t* buffer, std::size_t n) {
    while (n > 0) {
        const ssize_t got = read(fd, buffer, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Whether the entry's data is byte for byte what the file holds. A size, a CRC-16 and a time that
// match do not say so: the packer's "u" keeps an archived copy as new as the file, and a copy of
// other data with the same three would otherwise pass for the file's. Only the methods the packer
// writes are decoded here (-lh0-, -lh5- to -lh7-); of another the answer is Unreadable.
TPackedCopy HoldsSameData(int archiveFd, const lzh::LzhEntryHeader& h, const AnsiString& file,
                          const TFileState& packed) {
    const int fd = open(FromAnsi(file).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return TPackedCopy::Unreadable;
    const TOwnedFd closer(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) return TPackedCopy::Unreadable;
    if (FromStat(st) != packed) return TPackedCopy::SourceChanged;
    std::vector<uint8_t> mine(256 * 1024);
    bool readFailed = false;
    const auto same = [&](const uint8_t* data, std::size_t n) {
        while (n > 0) {
            const std::size_t piece = std::min(n, mine.size());
            if (!ReadExactly(fd, mine.data(), piece)) {
                readFailed = true;
                return false;
            }
            if (std::memcmp(mine.data(), data, piece) != 0) return false;
            data += piece;
            n -= piece;
        }
        return true;
    };
    uint64_t taken = 0;  // of the entry's stored data
    const auto source = [&](uint8_t* buffer, std::size_t n) -> int64_t {
        n = static_cast<std::size_t>(std::min<uint64_t>(n, h.compressedSize - taken));
        if (n == 0) return 0;
        for (;;) {
            const ssize_t got = pread(archiveFd, buffer, n, static_cast<off_t>(h.dataOffset + taken));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return -1;
            taken += static_cast<uint64_t>(got);
            return got;
        }
    };
    bool complete = false;  // every byte of the entry compared equal
    if (h.method == "-lh0-") {
        if (h.compressedSize != h.originalSize) return TPackedCopy::Unreadable;
        std::vector<uint8_t> stored(mine.size());
        for (;;) {
            const int64_t got = source(stored.data(), stored.size());
            if (got < 0) return TPackedCopy::Unreadable;
            complete = got == 0;
            if (complete || !same(stored.data(), static_cast<std::size_t>(got))) break;
        }
    } else if (const int bits = lzh::DecoderDictionaryBits(h.method); bits != 0) {
        lzh::LzhDecoder decoder(bits, h.compressedSize, h.originalSize, source);
        for (;;) {
            const uint8_t* data = nullptr;
            const int64_t got = decoder.next(data);
            if (got < 0) return TPackedCopy::Unreadable;
            complete = got == 0;
            if (complete || !same(data, static_cast<std::size_t>(got))) break;
        }
    } else {
        return TPackedCopy::Unreadable;
    }
    if (readFailed) return TPackedCopy::Unreadable;
    // The file ends where the entry does.
    uint8_t more = 0;
    return complete && read(fd, &more, 1) == 0 ? TPackedCopy::Held : TPackedCopy::NotHeld;
}

// Looks through the archive for an entry of name that holds the file's data: its size, CRC and time
// are those of the file, and then its data, decoded, is compared with the file's.
TPackedCopy FindEntry(const AnsiString& archive, const AnsiString& name, const AnsiString& file,
                      const TFileDigest& digest, const TFileState& packed) {
    {
        TArchiveFile arc;
        arc.SetFileName(archive);
        arc.SetArchiverType(atLha);
        // Every entry's data decodes to its recorded CRC.
        if (!arc.CheckArchive(ARC_CHECKARCHIVE_FULLCRC, 0)) return TPackedCopy::Unreadable;
    }
    const int fd = open(FromAnsi(archive).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return TPackedCopy::Unreadable;
    const TOwnedFd closer(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) return TPackedCopy::Unreadable;
    const auto size = static_cast<uint64_t>(st.st_size);
    uint64_t offset = 0;
    if (!lzh::FindFirstHeader(fd, size, offset)) return TPackedCopy::Unreadable;
    lzh::HeaderInput headers(fd, true);
    TPackedCopy verdict = TPackedCopy::NotHeld;
    for (;;) {
        lzh::LzhEntryHeader h;
        const lzh::HeaderStatus status = lzh::ReadHeader(headers, offset, size, h);
        if (status == lzh::HeaderStatus::End) return verdict;
        if (status != lzh::HeaderStatus::Ok) return TPackedCopy::Unreadable;
        if (!h.isDirectory && !h.isSymlink && EntryLastName(h.path) == name && h.originalSize == digest.size &&
            h.crc == digest.crc && h.mtime != 0 && h.mtime == packed.mtimeSec) {
            const TPackedCopy held = HoldsSameData(fd, h, file, packed);
            if (held == TPackedCopy::Held || held == TPackedCopy::SourceChanged) return held;
            if (held == TPackedCopy::Unreadable) verdict = held;
        }
        offset = h.nextOffset();
    }
}

}  // namespace

TFileState FileStateOf(const AnsiString& path) {
    struct stat st {};
    if (path.empty() || lstat(FromAnsi(path).c_str(), &st) != 0) return {};
    return FromStat(st);
}

TPackedCopy CheckPackedCopy(const AnsiString& archive, const AnsiString& file, const TFileState& packed) {
    if (!packed.Known() || !packed.regular) return TPackedCopy::Unreadable;
    TFileDigest digest;
    bool changed = false;
    if (!DigestOf(file, packed, digest, changed)) return changed ? TPackedCopy::SourceChanged : TPackedCopy::Unreadable;
    TPackedCopy verdict = TPackedCopy::Unreadable;
    try {
        verdict = FindEntry(archive, ExtractHostName(file), file, digest, packed);
    } catch (...) {
        return TPackedCopy::Unreadable;
    }
    // Changed while the archive was read: what was compared is no longer the file.
    if (FileStateOf(file) != packed) return TPackedCopy::SourceChanged;
    return verdict;
}

}  // namespace norvex
