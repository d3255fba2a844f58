// Local header and data descriptor sizes against the central directory's.
#include "modules/unzip32/ZipLocalCheck.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace norvex::modules::zip {

namespace {

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const unsigned char* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

bool ReadAt(int fd, unsigned char* buffer, std::size_t size, uint64_t offset) {
    while (size > 0) {
        ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

bool DescriptorAgrees(const unsigned char* p, std::size_t n, const CentralEntry& c) {
    for (const std::size_t at : {std::size_t{4}, std::size_t{0}}) {
        if (at == 4 && (n < 4 || Le32(p) != 0x08074b50u)) continue;
        if (at + 12 <= n && Le32(p + at) == c.crc && Le32(p + at + 4) == c.compressedSize && Le32(p + at + 8) == c.size)
            return true;
        if (at + 20 <= n && Le32(p + at) == c.crc && Le64(p + at + 4) == c.compressedSize && Le64(p + at + 12) == c.size)
            return true;
    }
    return false;
}

bool LocalSizesAgree(const ArchiveFile& file, const CentralEntry& c) {
    unsigned char h[30];
    if (!ReadAt(file.fd(), h, sizeof h, c.localHeaderOffset) || Le32(h) != 0x04034b50u) return true;
    const bool descriptor = (Le16(h + 6) & 0x0008) != 0;
    // A ZIP64 local header keeps its sizes in an extra field; the marker alone is taken as agreeing.
    auto agrees = [&](uint32_t local, uint64_t central) {
        return local == central || local == 0xFFFFFFFFu || (descriptor && local == 0);
    };
    if (!agrees(Le32(h + 18), c.compressedSize) || !agrees(Le32(h + 22), c.size)) return false;
    if (!descriptor) return true;
    const uint64_t at = c.localHeaderOffset + 30 + Le16(h + 26) + Le16(h + 28) + c.compressedSize;
    if (at >= file.size()) return false;
    unsigned char d[24];
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(sizeof d, file.size() - at));
    return ReadAt(file.fd(), d, n, at) && DescriptorAgrees(d, n, c);
}

}  // namespace norvex::modules::zip
