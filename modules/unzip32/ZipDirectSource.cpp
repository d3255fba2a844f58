// The walk of a plain ZIP archive from its central directory, local headers checked up front.
#include "modules/unzip32/ZipDirectSource.h"
#include "modules/unzip32/ZipLocalCheck.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace norvex::modules::zip {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kLocalHeader = 30;
// Local headers that lie close together are read in windows of this much: the headers of an archive
// of small entries come a few dozen to a read. A header far from the next is read alone, with this
// much room for its name and extra field.
constexpr std::size_t kWindow = 64 * 1024;
constexpr std::size_t kHeaderRoom = 1024;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const unsigned char* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// Reads pieces of the archive through a window that moves forward.
class Window {
public:
    explicit Window(const ArchiveFile& file) : file_(file) {}

    // The bytes [offset, offset + size), or nullptr when the file ends before or cannot be read.
    // ahead: how much is worth reading from offset on (the next header's distance).
    const unsigned char* at(uint64_t offset, std::size_t size, uint64_t ahead) {
        if (offset >= start_ && offset - start_ <= length_ && size <= length_ - (offset - start_))
            return buffer_.get() + (offset - start_);
        if (offset > file_.size() || size > file_.size() - offset) return nullptr;
        const uint64_t span = ahead < kWindow ? kWindow : kHeaderRoom;
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(size + span, file_.size() - offset));
        length_ = 0;  // the window's old bytes are gone from here on
        if (capacity_ < want) {  // no need to clear what the read fills
            buffer_.reset(new unsigned char[want]);
            capacity_ = want;
        }
        std::size_t got = 0;
        while (got < want) {
            ssize_t n = ::pread(file_.fd(), buffer_.get() + got, want - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return nullptr;
            got += static_cast<std::size_t>(n);
        }
        start_ = offset;
        length_ = want;
        return buffer_.get();
    }

    uint64_t fileSize() const { return file_.size(); }

private:
    const ArchiveFile& file_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t capacity_ = 0;
    uint64_t start_ = 0;
    std::size_t length_ = 0;
};

// DOS dates and times (local time) as seconds since 1970, converted as the libarchive walk does;
// the last one is remembered, since the entries of an archive mostly share a few times.
class DosTimes {
public:
    int64_t toUnix(uint16_t date, uint16_t time) {
        const uint32_t key = (static_cast<uint32_t>(date) << 16) | time;
        if (have_ && key == key_) return value_;
        struct tm t {};
        t.tm_year = ((date >> 9) & 0x7f) + 80;
        t.tm_mon = ((date >> 5) & 0x0f) - 1;
        t.tm_mday = date & 0x1f;
        t.tm_hour = (time >> 11) & 0x1f;
        t.tm_min = (time >> 5) & 0x3f;
        t.tm_sec = (time << 1) & 0x3e;
        t.tm_isdst = -1;
        key_ = key;
        value_ = static_cast<int64_t>(std::mktime(&t));
        have_ = true;
        return value_;
    }

private:
    uint32_t key_ = 0;
    int64_t value_ = 0;
    bool have_ = false;
};

bool KnownLocalExtra(uint16_t id) {
    return id == 0x0001 || id == 0x5455 || id == 0x7875 || id == 0x7075 || id == 0x000a || id == 0xcafe;
}

// Checks one local header against its central entry and describes the entry. False when the entry
// is not plain or the two disagree.
bool PlanEntry(Window& window, DosTimes& times, const CentralEntry& c, const AnsiString& name, uint64_t limit,
               DirectEntry& out) {
    const uint64_t ahead = limit - c.localHeaderOffset;
    // Only files and folders of the methods decoded here, never encrypted.
    if (!FastInflateHandles(c) || (c.flags & 0x2000) || c.symlink || c.otherExtra) return false;
    const bool slash = !c.rawName.empty() && c.rawName.back() == '/';
    const uint32_t unixMode = c.externalAttributes >> 16;
    const bool unix = c.madeBy == 3;
    if (unix) {
        // A Unix entry says what it is in its mode, and it must be what its name says.
        const uint32_t type = unixMode & 0170000;
        if (type != (slash ? 0040000u : 0100000u)) return false;
    } else if ((c.externalAttributes & 0x10) && !slash) {
        return false;  // a DOS folder without the separator at the end
    }
    if (slash && c.size != 0) return false;  // a folder with data

    const unsigned char* h = window.at(c.localHeaderOffset, kLocalHeader, ahead);
    if (!h || Le32(h) != kLocalSignature) return false;
    const uint16_t flags = Le16(h + 6), method = Le16(h + 8);
    const uint16_t nameLength = Le16(h + 26), extraLength = Le16(h + 28);
    if (flags != c.flags || method != c.method || Le16(h + 10) != c.dosTime || Le16(h + 12) != c.dosDate) return false;
    h = window.at(c.localHeaderOffset, kLocalHeader + nameLength + extraLength, ahead);
    if (!h || nameLength != c.rawName.size() || c.rawName.compare(0, nameLength, reinterpret_cast<const char*>(h + kLocalHeader), nameLength) != 0)
        return false;

    // The local extra fields: only known ones, whole; the timestamps are read from here.
    uint64_t localSize = Le32(h + 22), localCompressed = Le32(h + 18);
    bool haveMtime = false, haveAtime = false;
    int64_t mtime = 0, atime = 0;
    const unsigned char* x = h + kLocalHeader + nameLength;
    std::size_t k = 0;
    while (k + 4 <= extraLength) {
        const uint16_t id = Le16(x + k), len = Le16(x + k + 2);
        if (k + 4 + len > extraLength || !KnownLocalExtra(id)) return false;
        const unsigned char* d = x + k + 4;
        if (id == 0x0001) {
            std::size_t q = 0;
            if (localSize == 0xFFFFFFFFu) {
                if (q + 8 > len) return false;
                localSize = Le64(d + q);
                q += 8;
            }
            if (localCompressed == 0xFFFFFFFFu) {
                if (q + 8 > len) return false;
                localCompressed = Le64(d + q);
            }
        } else if (id == 0x5455 && len >= 1) {
            const unsigned char fields = d[0];
            std::size_t q = 1;
            if (fields & 1) {
                if (q + 4 <= len) {
                    haveMtime = true;
                    mtime = Le32(d + q);  // unsigned, as the libarchive walk reads it
                }
                q += 4;
            }
            if ((fields & 2) && q + 4 <= len) {
                haveAtime = true;
                atime = Le32(d + q);
            }
        }
        k += 4 + len;
    }
    if (k != extraLength) return false;
    if (c.centralMtime && !haveMtime) return false;
    // Sizes and CRC agree, unless a data descriptor after the data carries them (the local header
    // then has zeros).
    const bool descriptor = (flags & 0x0008) != 0;
    const uint32_t localCrc = Le32(h + 14);
    auto agrees = [&](uint64_t local, uint64_t central) {
        return local == central || (descriptor && (local == 0 || local == 0xFFFFFFFFu));
    };
    if (!agrees(localCrc, c.crc) || !agrees(localSize, c.size) || !agrees(localCompressed, c.compressedSize))
        return false;

    out.dataOffset = c.localHeaderOffset + kLocalHeader + nameLength + extraLength;
    if (out.dataOffset > limit || c.compressedSize > limit - out.dataOffset) return false;
    if (descriptor) {
        // The descriptor must give what the central entry lists (else the libarchive walk refuses it).
        const uint64_t at = out.dataOffset + c.compressedSize;
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(24, window.fileSize() - at));
        const unsigned char* d = window.at(at, n, limit - at);
        if (!d || !DescriptorAgrees(d, n, c)) return false;
    }

    EntryInfo& e = out.info;
    e.path = name;
    e.type = slash ? EntryType::Directory : EntryType::File;
    e.size = slash ? 0 : static_cast<int64_t>(c.size);
    e.compressedSize = static_cast<int64_t>(c.compressedSize);
    e.crc = c.crc;
    e.hasMtime = true;
    e.mtime = haveMtime ? mtime : times.toUnix(c.dosDate, c.dosTime);
    e.hasAtime = haveAtime && atime != 0;  // as the libarchive walk gives it
    e.atime = e.hasAtime ? atime : 0;
    e.hasMode = true;
    if (unix) {
        e.mode = unixMode & 07777;
    } else {
        e.mode = slash ? 0775 : 0664;
        if (c.madeBy == 0 && (c.externalAttributes & 0x01)) e.mode &= 0555;
    }
    e.method = MethodName(c.method);
    return true;
}

}  // namespace

bool PlanDirectWalk(const ArchiveFile& file, const CentralDirectory& directory, const std::vector<AnsiString>& names,
                    std::vector<DirectEntry>& plan) {
    const std::vector<CentralEntry>& entries = directory.entries;
    plan.clear();
    if (entries.empty() || names.size() != entries.size() || directory.directoryStart > file.size()) return false;
    plan.resize(entries.size());
    Window window(file);
    DosTimes times;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // An entry's data ends before the next local header (entries never share bytes) and before
        // the central directory.
        const uint64_t limit = i + 1 < entries.size() ? entries[i + 1].localHeaderOffset : directory.directoryStart;
        if (limit > directory.directoryStart || limit < entries[i].localHeaderOffset) return false;
        if (!PlanEntry(window, times, entries[i], names[i], limit, plan[i])) return false;
    }
    return true;
}

DirectZipSource::DirectZipSource(std::shared_ptr<const DirectWalk> walk, std::shared_ptr<ArchiveFile> file)
    : walk_(std::move(walk)), file_(std::move(file)) {}

int32_t DirectZipSource::advance(std::size_t& at) {
    state_ = State::NoData;
    const std::vector<DirectEntry>& plan = walk_->plan;
    if (index_ >= plan.size()) {
        if (gapsChecked_) return ARC_FIND_END;
        gapsChecked_ = true;
        // Entries the directory does not list never land: the archive is not counted as extracted.
        std::vector<uint64_t> dataOffsets(plan.size());
        for (std::size_t i = 0; i < plan.size(); ++i) dataOffsets[i] = plan[i].dataOffset;
        if (const std::size_t unlisted = UnlistedLocalHeaders(*file_, walk_->entries, dataOffsets)) {
            message_ = UnlistedMessage(unlisted);
            return ARC_ERROR_HEADER_BROKEN;
        }
        return ARC_FIND_END;
    }
    at = index_++;
    if (plan[at].info.type == EntryType::File) state_ = State::Unread;
    return ARC_OK;
}

int32_t DirectZipSource::nextEntry(EntryInfo& entry) {
    std::size_t at = 0;
    const int32_t code = advance(at);
    if (code != ARC_OK) return code;
    entry = walk_->plan[at].info;
    return ARC_OK;
}

int32_t DirectZipSource::viewNextEntry(const EntryInfo*& entry) {
    std::size_t at = 0;
    const int32_t code = advance(at);
    if (code != ARC_OK) return code;
    entry = &walk_->plan[at].info;
    return ARC_OK;
}

int32_t DirectZipSource::readBlock(const void*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (state_ == State::NoData) return ARC_OK;
    if (state_ == State::Unread) {
        if (!inflater_) inflater_ = std::make_unique<EntryInflater>();
        const DirectEntry& at = walk_->plan[index_ - 1];
        inflater_->start(file_, walk_->entries[index_ - 1], at.info.path, at.dataOffset);
        state_ = State::Reading;
    }
    return inflater_->readBlock(data, size);
}

std::unique_ptr<EntryDataReader> DirectZipSource::takeDataReader() {
    if (state_ != State::Unread) return nullptr;
    state_ = State::NoData;
    auto reader = std::make_unique<EntryInflater>();
    const DirectEntry& at = walk_->plan[index_ - 1];
    reader->start(file_, walk_->entries[index_ - 1], at.info.path, at.dataOffset);
    return reader;
}

}  // namespace norvex::modules::zip
