// Canonical Huffman codes for the static-Huffman blocks of lh5, lh6 and lh7.
#pragma once
#include <cstdint>
#include <span>

namespace norvex::lzh {

// Every decoder of the format reads code lengths up to 16 bits.
inline constexpr int kMaxCodeLength = 16;

// Fills lengths[i] with the code length of symbol i (0 for unused symbols), limited to
// kMaxCodeLength, so that the code is complete (Kraft sum exactly 1) whenever two or more symbols
// are used. With one used symbol its length is 0 and the block format sends it as a single-symbol
// table; with none, every length is 0. Returns the number of used symbols.
int MakeCodeLengths(std::span<const uint32_t> freq, std::span<uint8_t> lengths);

// Assigns the canonical codes of the format: shorter codes first, then by symbol order.
void MakeCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes);

}  // namespace norvex::lzh
