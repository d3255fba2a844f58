// The check of a packed file against its archive (PackedCopyCheck.h).
#include "engine/PackedCopyCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "archivers/Archives.h"
#include "modules/lzh/LzhCrc16.h"
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

// Seconds since 1970 of a FILETIME; 0 for an unknown time.
int64_t UnixSeconds(uint64_t fileTime) {
    constexpr int64_t kEpochDiff = 11644473600LL;  // seconds from 1601 to 1970
    return fileTime == 0 ? 0 : static_cast<int64_t>(fileTime / 10000000ULL) - kEpochDiff;
}

bool HoldsDigest(const TArchiveEntryInfo& info, const TFileDigest& digest, const TFileState& packed) {
    const bool folder = info.entry.attribute[4] == 'd';
    return !folder && info.originalSize == digest.size && static_cast<uint16_t>(info.entry.crc) == digest.crc &&
           info.lastWriteTime != 0 && UnixSeconds(info.lastWriteTime) == packed.mtimeSec;
}

// Looks through the archive for an entry of name holding the digest.
TPackedCopy FindEntry(const AnsiString& archive, const AnsiString& name, const TFileDigest& digest,
                      const TFileState& packed) {
    TArchiveFile arc;
    arc.SetFileName(archive);
    arc.SetArchiverType(atLha);
    // Every entry's data decodes to its recorded CRC: the CRC compared below is the data's own.
    if (!arc.CheckArchive(ARC_CHECKARCHIVE_FULLCRC, 0)) return TPackedCopy::Unreadable;
    if (arc.OpenArchive(nullptr, 0) != 0) return TPackedCopy::Unreadable;
    const TListingCloser closer{arc};
    TArchiveEntryInfo info{};
    int found = arc.FindFirst("*.*", &info);
    for (; found == 0; found = arc.FindNext(&info))
        if (EntryLastName(arc.EntryName()) == name && HoldsDigest(info, digest, packed)) return TPackedCopy::Held;
    return found == ARC_FIND_END ? TPackedCopy::NotHeld : TPackedCopy::Unreadable;
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
        verdict = FindEntry(archive, ExtractHostName(file), digest, packed);
    } catch (...) {
        return TPackedCopy::Unreadable;
    }
    // Changed while the archive was read: what was compared is no longer the file.
    if (FileStateOf(file) != packed) return TPackedCopy::SourceChanged;
    return verdict;
}

}  // namespace norvex
