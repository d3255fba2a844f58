// LZH header reading (levels 0-3) and level-2 header building. Tested by LzhHeaderTest and, for the
// level-2 builder, by the round trips through lhasa and bsdtar in LzhArchiveWriterTest.
#include "modules/lzh/LzhHeader.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "modules/lzh/LzhCrc16.h"
#include "platform/AnsiCodec.h"

namespace norvex::lzh {
namespace {

constexpr uint8_t kExtCommon = 0x00;
constexpr uint8_t kExtFileName = 0x01;
constexpr uint8_t kExtDirName = 0x02;
constexpr uint8_t kExtDosAttribute = 0x40;
constexpr uint8_t kExtWindowsTimes = 0x41;
constexpr uint8_t kExtLargeSizes = 0x42;
constexpr uint8_t kExtUnixMode = 0x50;
constexpr uint8_t kExtUnixTime = 0x54;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

bool ReadAt(int fd, uint64_t offset, void* buf, std::size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool IsTrailByte(uint8_t c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }
bool IsLead(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Appends raw name bytes to out, turning every separator character ("\\", "/", 0xFF) into "\\".
// A double-byte character is copied whole, whatever its trail byte. NULs that only pad the field
// are dropped; a NUL with more of the name after it stays in the name, so that the entry is refused
// rather than landing under the part before it (where another entry cut the same way would land).
void AppendName(AnsiString& out, const uint8_t* p, std::size_t n) {
    while (n > 0 && p[n - 1] == 0) --n;
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t c = p[i];
        if (IsLead(c) && i + 1 < n && IsTrailByte(p[i + 1])) {
            out.push_back(static_cast<char>(c));
            out.push_back(static_cast<char>(p[++i]));
        } else if (c == '\\' || c == '/' || c == 0xFF) {
            out.push_back('\\');
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
}

// DOS date and time (local time) to seconds since the epoch.
int64_t DosTimeToUnix(uint32_t dos) {
    std::tm tm{};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

bool IsMethodText(const uint8_t* m) {
    return m[0] == '-' && m[4] == '-' && ((m[1] == 'l' && (m[2] == 'h' || m[2] == 'z')) || m[1] == 'p');
}

struct ExtState {
    AnsiString fileName;
    AnsiString dirName;
    bool haveFileName = false;
    bool haveDirName = false;
    uint16_t storedHeaderCrc = 0;
    bool haveHeaderCrc = false;
    std::size_t headerCrcAt = 0;  // offset of the CRC bytes inside the header buffer
};

// Reads one extended header's payload (type byte first) into out / state.
void ApplyExtension(const uint8_t* p, std::size_t n, std::size_t offsetInHeader, LzhEntryHeader& out,
                    ExtState& st) {
    if (n == 0) return;
    const uint8_t type = p[0];
    const uint8_t* d = p + 1;
    const std::size_t dn = n - 1;
    switch (type) {
    case kExtCommon:
        if (dn >= 2) {
            st.storedHeaderCrc = Le16(d);
            st.haveHeaderCrc = true;
            st.headerCrcAt = offsetInHeader + 1;
        }
        break;
    case kExtFileName:
        st.fileName.clear();
        AppendName(st.fileName, d, dn);
        st.haveFileName = true;
        break;
    case kExtDirName:
        st.dirName.clear();
        AppendName(st.dirName, d, dn);
        st.haveDirName = true;
        break;
    case kExtDosAttribute:
        if (dn >= 2) out.dosAttribute = static_cast<uint8_t>(Le16(d));
        break;
    case kExtWindowsTimes:
        if (dn >= 16) {
            // Creation, last write, last access as FILETIME; we use the last write.
            const uint64_t ft = Le64(d + 8);
            const uint64_t epochDiff = 116444736000000000ull;
            if (ft >= epochDiff) out.mtime = static_cast<int64_t>((ft - epochDiff) / 10000000ull);
        }
        break;
    case kExtLargeSizes:
        if (dn >= 16) {
            out.compressedSize = Le64(d);
            out.originalSize = Le64(d + 8);
        }
        break;
    case kExtUnixMode:
        if (dn >= 2) {
            out.unixMode = Le16(d);
            out.hasUnixMode = true;
        }
        break;
    case kExtUnixTime:
        if (dn >= 4) out.mtime = static_cast<int64_t>(Le32(d));
        break;
    default:
        break;
    }
}

// Walks a chain of extended headers inside buf, starting with the size field at at. sizeWidth is
// 2 (level 2) or 4 (level 3). Returns false when the chain leaves buf.
bool WalkExtensions(const std::vector<uint8_t>& buf, std::size_t at, int sizeWidth, LzhEntryHeader& out,
                    ExtState& st) {
    for (;;) {
        if (at + static_cast<std::size_t>(sizeWidth) > buf.size()) return false;
        const std::size_t size = sizeWidth == 2 ? Le16(&buf[at]) : Le32(&buf[at]);
        if (size == 0) return true;
        const std::size_t start = at + static_cast<std::size_t>(sizeWidth);
        if (size < static_cast<std::size_t>(1 + sizeWidth)) return false;
        const std::size_t payload = size - static_cast<std::size_t>(sizeWidth);
        if (start + payload + static_cast<std::size_t>(sizeWidth) > buf.size()) return false;
        ApplyExtension(&buf[start], payload, start, out, st);
        at = start + payload;
    }
}

void FinishPath(LzhEntryHeader& out, const ExtState& st, const AnsiString& baseName) {
    out.path.clear();
    if (st.haveDirName) {
        out.path = st.dirName;
        if (!out.path.empty() && out.path.back() != '\\') out.path.push_back('\\');
    }
    out.path += st.haveFileName ? st.fileName : baseName;
    // A Unix symbolic link is stored as "name|target".
    if (out.isDirectory && out.hasUnixMode && (out.unixMode & 0170000) == 0120000) out.isSymlink = true;
    while (out.path.size() > 1 && AnsiEndsWithSeparator(out.path)) out.path.pop_back();
}

HeaderStatus ReadLevel01(HeaderInput& in, uint64_t offset, uint64_t fileSize, const uint8_t* fixed, LzhEntryHeader& out) {
    const std::size_t headerSize = fixed[0];
    const int level = fixed[20];
    std::vector<uint8_t> buf(headerSize + 2);
    if (offset + buf.size() > fileSize) return HeaderStatus::Truncated;
    if (!in.read(offset, buf.data(), buf.size())) return HeaderStatus::Truncated;
    // The fixed part (up to the name length at 21) must lie inside the header it claims.
    if (buf.size() < 22) return HeaderStatus::Broken;
    const std::size_t nameLen = buf[21];
    if (22 + nameLen > buf.size()) return HeaderStatus::Broken;
    uint8_t sum = 0;
    for (std::size_t i = 2; i < buf.size(); ++i) sum = static_cast<uint8_t>(sum + buf[i]);
    if (sum != buf[1]) return HeaderStatus::BadChecksum;

    out.level = level;
    out.compressedSize = Le32(&buf[7]);
    out.originalSize = Le32(&buf[11]);
    out.mtime = DosTimeToUnix(Le32(&buf[15]));
    out.dosAttribute = buf[19];
    AnsiString baseName;
    AppendName(baseName, &buf[22], nameLen);
    std::size_t at = 22 + nameLen;
    out.hasCrc = at + 2 <= buf.size();
    if (out.hasCrc) out.crc = Le16(&buf[at]);
    at += 2;
    ExtState st;
    uint64_t extTotal = 0;
    if (level == 0) {
        // Optional trailer of Unix writers: OS id 'U', then time, mode, uid, gid.
        if (at < buf.size()) out.os = buf[at];
        if (out.os == 'U' && at + 1 + 4 + 2 <= buf.size()) {
            out.mtime = static_cast<int64_t>(Le32(&buf[at + 1]));
            out.unixMode = Le16(&buf[at + 5]);
            out.hasUnixMode = true;
        }
    } else {
        if (at + 3 > buf.size()) return HeaderStatus::Broken;
        out.os = buf[at];
        // Level 1: the extended headers follow the base header; they count toward the skip size.
        std::size_t next = Le16(&buf[at + 1]);
        uint64_t pos = offset + buf.size();
        while (next != 0) {
            if (next < 3 || pos + next > fileSize) return HeaderStatus::Truncated;
            std::vector<uint8_t> ext(next);
            if (!in.read(pos, ext.data(), ext.size())) return HeaderStatus::Truncated;
            ApplyExtension(ext.data(), next - 2, 0, out, st);
            extTotal += next;
            pos += next;
            next = Le16(&ext[next - 2]);
        }
        if (extTotal > out.compressedSize) return HeaderStatus::Broken;
        out.compressedSize -= extTotal;
    }
    out.dataOffset = offset + buf.size() + extTotal;
    FinishPath(out, st, baseName);
    return HeaderStatus::Ok;
}

HeaderStatus ReadLevel23(HeaderInput& in, uint64_t offset, uint64_t fileSize, const uint8_t* fixed, LzhEntryHeader& out) {
    const int level = fixed[20];
    std::size_t total = 0;
    std::size_t firstExt = 0;
    int sizeWidth = 2;
    if (level == 2) {
        total = Le16(fixed);
        firstExt = 24;
    } else {
        if (Le16(fixed) != 4) return HeaderStatus::Broken;
        total = Le32(fixed + 24);
        firstExt = 28;
        sizeWidth = 4;
    }
    if (total < firstExt + static_cast<std::size_t>(sizeWidth) || total > (1u << 20)) return HeaderStatus::Broken;
    if (offset + total > fileSize) return HeaderStatus::Truncated;
    std::vector<uint8_t> buf(total);
    if (!in.read(offset, buf.data(), buf.size())) return HeaderStatus::Truncated;

    out.level = level;
    out.compressedSize = Le32(&buf[7]);
    out.originalSize = Le32(&buf[11]);
    out.mtime = static_cast<int64_t>(Le32(&buf[15]));
    out.crc = Le16(&buf[21]);
    out.os = buf[23];
    ExtState st;
    if (!WalkExtensions(buf, firstExt, sizeWidth, out, st)) return HeaderStatus::Broken;
    if (st.haveHeaderCrc) {
        buf[st.headerCrcAt] = 0;
        buf[st.headerCrcAt + 1] = 0;
        if (Crc16(0, buf.data(), buf.size()) != st.storedHeaderCrc) return HeaderStatus::BadChecksum;
    }
    out.dataOffset = offset + total;
    FinishPath(out, st, AnsiString());
    return HeaderStatus::Ok;
}

void PutLe16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void PutLe32(std::vector<uint8_t>& v, uint32_t x) {
    PutLe16(v, x & 0xFFFF);
    PutLe16(v, x >> 16);
}
void SetLe16(std::vector<uint8_t>& v, std::size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}

}  // namespace

HeaderInput::HeaderInput(int fd, bool readAhead) : fd_(fd), readAhead_(readAhead) {}

bool HeaderInput::read(uint64_t offset, void* buf, std::size_t n) {
    if (!readAhead_ || n > kReadAhead) return ReadAt(fd_, offset, buf, n);
    if (offset < start_ || offset - start_ > window_.size() || n > window_.size() - (offset - start_)) {
        window_.resize(kReadAhead);
        std::size_t have = 0;
        while (have < window_.size()) {
            const ssize_t got = pread(fd_, window_.data() + have, window_.size() - have, static_cast<off_t>(offset + have));
            if (got <= 0) break;
            have += static_cast<std::size_t>(got);
        }
        start_ = offset;
        window_.resize(have);
        if (n > have) return false;
    }
    std::memcpy(buf, window_.data() + (offset - start_), n);
    return true;
}

HeaderStatus ReadHeader(int fd, uint64_t offset, uint64_t fileSize, LzhEntryHeader& out) {
    HeaderInput in(fd);
    return ReadHeader(in, offset, fileSize, out);
}

HeaderStatus ReadHeader(HeaderInput& in, uint64_t offset, uint64_t fileSize, LzhEntryHeader& out) {
    out = LzhEntryHeader{};
    out.headerOffset = offset;
    if (offset >= fileSize) return HeaderStatus::End;
    uint8_t fixed[28] = {};
    const std::size_t avail = static_cast<std::size_t>(std::min<uint64_t>(sizeof fixed, fileSize - offset));
    if (!in.read(offset, fixed, avail)) return HeaderStatus::Truncated;
    if (fixed[0] == 0) return HeaderStatus::End;
    if (avail < 22) return HeaderStatus::Truncated;
    if (!IsMethodText(fixed + 2)) return HeaderStatus::Broken;
    out.method.assign(reinterpret_cast<const char*>(fixed + 2), 5);
    out.isDirectory = out.method == "-lhd-";
    const int level = fixed[20];
    HeaderStatus st;
    switch (level) {
    case 0:
    case 1: st = ReadLevel01(in, offset, fileSize, fixed, out); break;
    case 2: st = ReadLevel23(in, offset, fileSize, fixed, out); break;
    case 3:
        if (avail < 28) return HeaderStatus::Truncated;
        st = ReadLevel23(in, offset, fileSize, fixed, out);
        break;
    default: return HeaderStatus::Broken;
    }
    if (st != HeaderStatus::Ok) return st;
    if (out.isDirectory) out.compressedSize = out.originalSize = 0;
    if (out.dataOffset > fileSize || out.compressedSize > fileSize - out.dataOffset) return HeaderStatus::Truncated;
    return HeaderStatus::Ok;
}

bool FindFirstHeader(int fd, uint64_t fileSize, uint64_t& offset) {
    LzhEntryHeader h;
    const HeaderStatus atStart = ReadHeader(fd, 0, fileSize, h);
    if (atStart == HeaderStatus::Ok || atStart == HeaderStatus::BadChecksum || atStart == HeaderStatus::Truncated) {
        // A header starts here, sound or not: its reader reports what is wrong with it.
        offset = 0;
        return true;
    }
    // Behind a self-extracting stub of up to 1 MiB, as for the other formats.
    const std::size_t scan = static_cast<std::size_t>(std::min<uint64_t>(fileSize, (1 << 20) + 64));
    std::vector<uint8_t> buf(scan);
    if (scan < 22 || !ReadAt(fd, 0, buf.data(), scan)) return false;
    for (std::size_t i = 1; i + 7 <= scan; ++i) {
        if (buf[i + 2] != '-' || buf[i + 6] != '-' || !IsMethodText(&buf[i + 2])) continue;
        if (ReadHeader(fd, i, fileSize, h) == HeaderStatus::Ok) {
            offset = i;
            return true;
        }
    }
    return false;
}

void SplitForLevel2(const AnsiString& path, std::string& dirField, std::string& nameField) {
    dirField.clear();
    nameField.clear();
    std::string component;
    const auto* p = reinterpret_cast<const uint8_t*>(path.data());
    for (std::size_t i = 0; i < path.size(); ++i) {
        const uint8_t c = p[i];
        if (IsLead(c) && i + 1 < path.size()) {
            component.push_back(static_cast<char>(c));
            component.push_back(static_cast<char>(p[++i]));
        } else if (c == '\\' || c == '/') {
            if (!component.empty()) {
                dirField += component;
                dirField.push_back('\xFF');
                component.clear();
            }
        } else {
            component.push_back(static_cast<char>(c));
        }
    }
    nameField = component;
}

std::vector<uint8_t> BuildLevel2Header(const Level2Fields& f) {
    std::string dir, name;
    SplitForLevel2(f.path, dir, name);
    if (f.isDirectory) {
        // A directory is named by the directory header alone.
        if (!name.empty()) {
            dir += name;
            dir.push_back('\xFF');
            name.clear();
        }
    }
    std::vector<uint8_t> h;
    h.reserve(64 + dir.size() + name.size());
    PutLe16(h, 0);  // total size, set below
    h.insert(h.end(), f.method.begin(), f.method.end());
    PutLe32(h, static_cast<uint32_t>(f.compressedSize));
    PutLe32(h, static_cast<uint32_t>(f.originalSize));
    PutLe32(h, static_cast<uint32_t>(f.mtime));
    h.push_back(0x20);
    h.push_back(2);
    PutLe16(h, f.crc);
    h.push_back('U');

    auto ext = [&](uint8_t type, const void* data, std::size_t n) {
        PutLe16(h, static_cast<uint32_t>(n + 3));  // size of this extension, counted in the previous one
        h.push_back(type);
        const auto* b = static_cast<const uint8_t*>(data);
        h.insert(h.end(), b, b + n);
    };
    const uint8_t zeroCrc[2] = {0, 0};
    ext(kExtCommon, zeroCrc, 2);
    const std::size_t crcAt = h.size() - 2;
    ext(kExtFileName, name.data(), name.size());
    if (!dir.empty()) ext(kExtDirName, dir.data(), dir.size());
    const uint8_t attr[2] = {static_cast<uint8_t>(f.isDirectory ? 0x10 : 0x20), 0};
    ext(kExtDosAttribute, attr, 2);
    const uint16_t mode = static_cast<uint16_t>((f.isDirectory ? 0040000 : 0100000) | (f.unixMode & 07777));
    const uint8_t modeBytes[2] = {static_cast<uint8_t>(mode), static_cast<uint8_t>(mode >> 8)};
    ext(kExtUnixMode, modeBytes, 2);
    const auto t = static_cast<uint32_t>(f.mtime);
    const uint8_t timeBytes[4] = {static_cast<uint8_t>(t), static_cast<uint8_t>(t >> 8), static_cast<uint8_t>(t >> 16),
                                  static_cast<uint8_t>(t >> 24)};
    ext(kExtUnixTime, timeBytes, 4);
    PutLe16(h, 0);  // end of the extensions
    // The first byte of a header must not be 0: that is the end-of-archive mark.
    if ((h.size() & 0xFF) == 0) h.push_back(0);
    if (h.size() > 0xFFFF) return {};
    SetLe16(h, 0, static_cast<uint32_t>(h.size()));
    const uint16_t crc = Crc16(0, h.data(), h.size());
    SetLe16(h, crcAt, crc);
    return h;
}

}  // namespace norvex::lzh
