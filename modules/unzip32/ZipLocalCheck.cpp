// Local header and data descriptor sizes against the central directory's.
#include "modules/unzip32/ZipLocalCheck.h"

#include <algorithm>
#include <string>

#include "modules/common/RegularFile.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules::zip {

using namespace norvex::literals;

namespace {

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const unsigned char* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

}  // namespace

std::size_t DescriptorLength(const unsigned char* p, std::size_t n, const CentralEntry& c) {
    for (const std::size_t at : {std::size_t{4}, std::size_t{0}}) {
        if (at == 4 && (n < 4 || Le32(p) != 0x08074b50u)) continue;
        if (at + 12 <= n && Le32(p + at) == c.crc && Le32(p + at + 4) == c.compressedSize && Le32(p + at + 8) == c.size)
            return at + 12;
        if (at + 20 <= n && Le32(p + at) == c.crc && Le64(p + at + 4) == c.compressedSize && Le64(p + at + 12) == c.size)
            return at + 20;
    }
    return 0;
}

bool DescriptorAgrees(const unsigned char* p, std::size_t n, const CentralEntry& c) { return DescriptorLength(p, n, c) != 0; }

bool LocalSizesAgree(const ArchiveFile& file, const CentralEntry& c) {
    unsigned char h[30];
    if (!ReadFullyAt(file.fd(), h, sizeof h, c.localHeaderOffset) || Le32(h) != 0x04034b50u) return true;
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
    return ReadFullyAt(file.fd(), d, n, at) && DescriptorAgrees(d, n, c);
}

std::size_t UnlistedLocalHeaders(const ArchiveFile& file, const std::vector<CentralEntry>& entries,
                                 const std::vector<uint64_t>& dataOffsets) {
    const uint64_t end = std::min<uint64_t>(file.directoryStart(), file.size());
    std::size_t found = 0;
    unsigned char h[30];
    if (!entries.empty() && entries.front().localHeaderOffset > 0 && ReadFullyAt(file.fd(), h, 4, 0) && Le32(h) == 0x04034b50u)
        ++found;
    std::vector<unsigned char> buffer;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CentralEntry& c = entries[i];
        uint64_t data = i < dataOffsets.size() ? dataOffsets[i] : 0;
        if (i >= dataOffsets.size()) {
            if (!ReadFullyAt(file.fd(), h, sizeof h, c.localHeaderOffset) || Le32(h) != 0x04034b50u) continue;
            data = c.localHeaderOffset + 30 + Le16(h + 26) + Le16(h + 28);
        }
        uint64_t from = data + c.compressedSize;
        const uint64_t to = i + 1 < entries.size() ? std::min(entries[i + 1].localHeaderOffset, end) : end;
        // No room for a local header (a descriptor takes at most 24 bytes): nothing to read.
        if (to < from || to - from < 30) continue;
        // The descriptor is passed over (one that disagrees fails the entry elsewhere).
        if (c.flags & 0x0008) {
            unsigned char d[24];
            if (ReadFullyAt(file.fd(), d, sizeof d, from)) from += std::max<std::size_t>(DescriptorLength(d, sizeof d, c), 12);
        }
        // Gaps are rare and small; an archive updated in place may leave large ones, read in pieces.
        while (from + 4 <= to) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(to - from, 64 * 1024));
            buffer.resize(n);
            if (!ReadFullyAt(file.fd(), buffer.data(), n, from)) break;
            for (std::size_t k = 0; k + 4 <= n; ++k)
                if (buffer[k] == 'P' && Le32(&buffer[k]) == 0x04034b50u) ++found;
            from += n >= 4 && from + n < to ? n - 3 : n;
        }
    }
    return found;
}

AnsiString UnlistedMessage(std::size_t count) {
    return ToAnsi(std::to_string(count)) + " 個のローカルヘッダが中央ディレクトリに載っていません（展開されていない項目があります）"_ansi;
}

}  // namespace norvex::modules::zip
