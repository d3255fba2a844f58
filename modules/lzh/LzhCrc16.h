// The CRC-16 of LZH archives (reflected polynomial 0xA001, initial value 0): it guards both the
// decoded data of each entry and, in level-2 headers, the header bytes themselves.
#pragma once
#include <cstddef>
#include <cstdint>

namespace norvex::lzh {

// Continues crc over n bytes; start with 0.
uint16_t Crc16(uint16_t crc, const void* data, std::size_t n);

}  // namespace norvex::lzh
