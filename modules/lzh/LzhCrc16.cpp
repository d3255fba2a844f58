// CRC-16 (0xA001, reflected), eight bytes at a time: eight tables, one per byte position, turn the
// CRC of a byte followed by k zero bytes into a single look-up, so the eight look-ups of a step do
// not wait on each other.
//
// Long buffers on x86-64 go through carry-less multiplication instead: with a CRC that starts at 0,
// a block A followed by D bits contributes what any block A' with A' = A * x^D (mod P) contributes in
// its place, and A' is two 64 x 16-bit carry-less products (the halves of A times x^(D+64) and x^D
// mod P). Four 16-byte lanes are folded 64 bytes ahead, then into one another, and the last 16 bytes
// of the fold go through the tables. In a reflected CRC the first bit is the highest power, so a
// block loaded little-endian is its polynomial bit-reversed; the product of two reversed factors
// comes out one place short, which the constants make up for (x^(n-1) where x^n is meant). Tested by
// LzhEncoderTest against the bit-by-bit definition.
#include "modules/lzh/LzhCrc16.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define NVX_CRC16_CLMUL 1
#endif

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

uint16_t Crc16Tables(uint16_t crc, const unsigned char* p, std::size_t n) {
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

#ifdef NVX_CRC16_CLMUL

// x^n mod P, P = x^16 + x^15 + x^2 + 1 (0xA001 reflected); bit d is the coefficient of x^d.
constexpr uint32_t PowerOfXModP(int n) {
    uint32_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000) r ^= 0x18005;
    }
    return r;
}

// The coefficient of x^d at bit 63 - d: a factor in the bit order of a little-endian load.
constexpr int64_t Reversed(uint32_t v) {
    uint64_t r = 0;
    for (int d = 0; d < 16; ++d)
        if ((v >> d) & 1) r |= uint64_t{1} << (63 - d);
    return static_cast<int64_t>(r);
}

constexpr std::size_t kClmulMinimum = 64;

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// n >= kClmulMinimum.
__attribute__((target("pclmul,sse2"))) uint16_t Crc16Clmul(uint16_t crc, const unsigned char* p, std::size_t n) {
    // Low half: the constant for the block's first 8 bytes (x^(D+63)); high half: for the rest (x^(D-1)).
    const __m128i k512 = _mm_set_epi64x(Reversed(PowerOfXModP(511)), Reversed(PowerOfXModP(575)));
    const __m128i k128 = _mm_set_epi64x(Reversed(PowerOfXModP(127)), Reversed(PowerOfXModP(191)));
    auto load = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = Fold(x0, k512, load(p));
        x1 = Fold(x1, k512, load(p + 16));
        x2 = Fold(x2, k512, load(p + 32));
        x3 = Fold(x3, k512, load(p + 48));
        p += 64;
        n -= 64;
    }
    x3 = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
    while (n >= 16) {
        x3 = Fold(x3, k128, load(p));
        p += 16;
        n -= 16;
    }
    unsigned char last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x3);
    return Crc16Tables(Crc16Tables(0, last, sizeof last), p, n);
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul");

#endif

}  // namespace

uint16_t Crc16(uint16_t crc, const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
#ifdef NVX_CRC16_CLMUL
    if (n >= kClmulMinimum && kHaveClmul) return Crc16Clmul(crc, p, n);
#endif
    return Crc16Tables(crc, p, n);
}

}  // namespace norvex::lzh
