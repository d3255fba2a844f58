// CRC-16 (0xA001, reflected), eight bytes at a time: eight tables, one per byte position, turn the
// CRC of a byte followed by k zero bytes into a single look-up, so the eight look-ups of a step do
// not wait on each other. Tested by LzhEncoderTest against the bit-by-bit definition.
#include "modules/lzh/LzhCrc16.h"

#include <array>
#include <bit>
#include <cstring>

namespace norvex::lzh {
namespace {

using Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
        t[0][i] = static_cast<uint16_t>(r);
    }
    for (unsigned i = 0; i < 256; ++i)
        for (std::size_t k = 1; k < t.size(); ++k)
            t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

uint16_t Crc16(uint16_t crc, const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (n >= 8) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        v ^= crc;
        crc = static_cast<uint16_t>(kTables[7][v & 0xFF] ^ kTables[6][(v >> 8) & 0xFF] ^ kTables[5][(v >> 16) & 0xFF] ^
                                    kTables[4][(v >> 24) & 0xFF] ^ kTables[3][(v >> 32) & 0xFF] ^
                                    kTables[2][(v >> 40) & 0xFF] ^ kTables[1][(v >> 48) & 0xFF] ^ kTables[0][v >> 56]);
        p += 8;
        n -= 8;
    }
    while (n-- > 0) crc = static_cast<uint16_t>((crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF]);
    return crc;
}

}  // namespace norvex::lzh
