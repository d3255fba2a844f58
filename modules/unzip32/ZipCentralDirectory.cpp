// Reading the end record and the central directory of a ZIP file (ZIP64 included).
#include "modules/unzip32/ZipCentralDirectory.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>

#include "modules/common/RegularFile.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules::zip {

namespace {

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const unsigned char* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

constexpr uint64_t kMaxCentralDirectory = 1ull << 30;

// True when the extra field area is a whole number of fields (no field runs past its end).
bool WholeFields(const unsigned char* x, std::size_t size) {
    std::size_t k = 0;
    while (k + 4 <= size) k += 4 + Le16(x + k + 2);
    return k == size;
}

}  // namespace

uint32_t Crc32(std::string_view data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool IsValidUtf8(std::string_view s, bool* hasMultiByte) {
    bool multi = false;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
        else return false;
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        multi = true;
        i += n;
    }
    if (hasMultiByte) *hasMultiByte = multi;
    return true;
}

std::string MethodName(uint16_t method) {
    switch (method) {
    case 0: return "Stored";
    case 1: return "Shrunk";
    case 6: return "Implode";
    case 8: return "Deflate";
    case 9: return "Deflt64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 98: return "PPMd";
    case 99: return "AES";
    default: {
        std::string name = "M";  // (written so, GCC 12 warns of a false overlap in "M" + ...)
        name += std::to_string(method);
        return name;
    }
    }
}

AnsiString EntryName(const CentralEntry& e, bool unflaggedNamesAreUtf8) {
    if (e.utf8Flag) return ToAnsi(e.rawName);
    if (!e.unicodeName.empty()) return ToAnsi(e.unicodeName);
    if (unflaggedNamesAreUtf8) return ToAnsi(e.rawName);
    return e.rawName;  // cp932 already
}

bool ReadCentralDirectory(const std::string& hostPath, CentralDirectory& out) {
    out = CentralDirectory{};
    struct stat st {};
    const int fd = OpenRegularFile(hostPath, &st);
    if (fd < 0) return false;
    const bool read = ReadCentralDirectory(fd, static_cast<uint64_t>(st.st_size), out);
    ::close(fd);
    return read;
}

bool ReadCentralDirectory(int fd, uint64_t size, CentralDirectory& out) {
    out = CentralDirectory{};
    if (size < 22 || size > static_cast<uint64_t>(INT64_MAX)) return false;
    const off_t fileSize = static_cast<off_t>(size);
    // The end record sits in the last 22 bytes plus its comment (at most 65535): most archives have
    // no comment, so the last few KiB are looked at first and the whole span only when needed.
    std::vector<unsigned char> tail;
    std::size_t tailSize = 0, eocd = std::string::npos;
    uint64_t tailStart = 0;
    for (const std::size_t span : {std::size_t{4096}, std::size_t{22 + 65535}}) {
        tailSize = static_cast<std::size_t>(std::min<off_t>(fileSize, static_cast<off_t>(span)));
        tail.resize(tailSize);
        tailStart = static_cast<uint64_t>(fileSize) - tailSize;
        if (!ReadFullyAt(fd, tail.data(), tailSize, tailStart)) return false;
        for (std::size_t i = tailSize - 22 + 1; i-- > 0;) {
            if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6) {
                eocd = i;
                break;
            }
        }
        if (eocd != std::string::npos || tailSize == static_cast<std::size_t>(fileSize)) break;
    }
    if (eocd == std::string::npos) return false;
    const unsigned char* e = tail.data() + eocd;
    uint64_t count = Le16(e + 10);
    uint64_t cdSize = Le32(e + 12);
    uint64_t cdOffset = Le32(e + 16);
    uint64_t eocdPos = tailStart + eocd;
    uint64_t cdEnd = eocdPos;
    if (count == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) {
        unsigned char loc[20];
        if (eocdPos < 20 || !ReadFullyAt(fd, loc, 20, eocdPos - 20) || Le32(loc) != 0x07064b50) return false;
        uint64_t z64Pos = Le64(loc + 8);
        unsigned char z[56];
        if (!ReadFullyAt(fd, z, 56, z64Pos) || Le32(z) != 0x06064b50) return false;
        count = Le64(z + 32);
        cdSize = Le64(z + 40);
        cdOffset = Le64(z + 48);
        // The central directory ends where the zip64 end record starts (the record and its locator
        // lie between it and the classic end record).
        if (z64Pos > eocdPos - 20) return false;
        cdEnd = z64Pos;
    }
    if (cdSize > kMaxCentralDirectory || cdSize > cdEnd) return false;
    // Data in front of the archive (a self-extracting stub) shifts every offset alike.
    uint64_t cdStart = cdEnd - cdSize;
    std::vector<unsigned char> cd(static_cast<std::size_t>(cdSize));
    if (cdSize && !ReadFullyAt(fd, cd.data(), cd.size(), cdStart)) return false;

    bool allUtf8 = true, anyMulti = false;
    std::size_t pos = 0;
    for (uint64_t n = 0; n < count; ++n) {
        if (pos + 46 > cd.size() || Le32(&cd[pos]) != 0x02014b50) return false;
        const unsigned char* h = &cd[pos];
        CentralEntry entry;
        entry.flags = Le16(h + 8);
        entry.utf8Flag = (entry.flags & 0x0800) != 0;
        out.anyUtf8Flag = out.anyUtf8Flag || entry.utf8Flag;
        entry.method = Le16(h + 10);
        entry.dosTime = Le16(h + 12);
        entry.dosDate = Le16(h + 14);
        entry.madeBy = h[5];
        entry.externalAttributes = Le32(h + 38);
        entry.crc = Le32(h + 16);
        entry.compressedSize = Le32(h + 20);
        entry.size = Le32(h + 24);
        uint16_t nameLen = Le16(h + 28), extraLen = Le16(h + 30), commentLen = Le16(h + 32);
        entry.localHeaderOffset = Le32(h + 42);
        entry.symlink = (h[5] == 3) && ((Le32(h + 38) >> 16) & 0170000) == 0120000;
        if (pos + 46 + nameLen + extraLen + commentLen > cd.size()) return false;
        entry.rawName.assign(reinterpret_cast<const char*>(h + 46), nameLen);
        const unsigned char* x = h + 46 + nameLen;
        for (std::size_t k = 0; k + 4 <= extraLen;) {
            uint16_t id = Le16(x + k), len = Le16(x + k + 2);
            if (k + 4 + len > extraLen) break;
            const unsigned char* d = x + k + 4;
            if (id == 0x0001) {
                std::size_t q = 0;
                if (entry.size == 0xFFFFFFFFu && q + 8 <= len) entry.size = Le64(d + q), q += 8;
                if (entry.compressedSize == 0xFFFFFFFFu && q + 8 <= len) entry.compressedSize = Le64(d + q), q += 8;
                if (entry.localHeaderOffset == 0xFFFFFFFFu && q + 8 <= len) entry.localHeaderOffset = Le64(d + q);
            } else if (id == 0x7075 && len >= 5 && d[0] == 1) {
                std::string utf8(reinterpret_cast<const char*>(d + 5), len - 5);
                if (Le32(d + 1) == Crc32(entry.rawName) && IsValidUtf8(utf8)) entry.unicodeName = std::move(utf8);
            } else if (id == 0x5455) {
                entry.centralMtime = entry.centralMtime || (len >= 5 && (d[0] & 1));
            } else if (id != 0x7075 && id != 0x000a && id != 0x7875 && id != 0xcafe) {
                entry.otherExtra = true;
            }
            k += 4 + len;
        }
        if (extraLen > 0 && !WholeFields(x, extraLen)) entry.otherExtra = true;
        if (!entry.utf8Flag && entry.unicodeName.empty()) {
            bool multi = false;
            if (!IsValidUtf8(entry.rawName, &multi)) allUtf8 = false;
            anyMulti = anyMulti || multi;
        }
        out.entries.push_back(std::move(entry));
        pos += 46 + nameLen + extraLen + commentLen;
    }
    out.unflaggedNamesAreUtf8 = allUtf8 && anyMulti;
    out.directoryStart = cdStart;
    out.directoryEnd = cdEnd;
    out.endRecordEnd = eocdPos + 22;
    // Offsets move with a stub in front (a self-extracting archive): they are given as offsets in
    // the file.
    const uint64_t shift = cdStart >= cdOffset ? cdStart - cdOffset : 0;
    for (CentralEntry& entry : out.entries) entry.localHeaderOffset += shift;
    // A stored link's target is its data: read here, since libarchive decodes it in the archive's
    // name charset even when the entry's own flag says UTF-8.
    for (CentralEntry& entry : out.entries) {
        if (!entry.symlink || entry.method != 0 || entry.compressedSize == 0 || entry.compressedSize > 4096) continue;
        unsigned char local[30];
        const uint64_t at = entry.localHeaderOffset;
        if (!ReadFullyAt(fd, local, 30, at) || Le32(local) != 0x04034b50) continue;
        std::string target(static_cast<std::size_t>(entry.compressedSize), '\0');
        if (ReadFullyAt(fd, target.data(), target.size(), at + 30 + Le16(local + 26) + Le16(local + 28)))
            entry.linkTarget = std::move(target);
    }
    return true;
}

}  // namespace norvex::modules::zip
