// Hand-made LZH entries for tests: stored data (-lh0-) under a level-0 header, the name as the bytes
// given (cp932), the time fixed.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace norvex::test {

// The CRC-16 an LZH header carries for its data.
uint16_t LzhCrc16(std::string_view data);
// One entry, header and data, with the CRC given (a wrong one makes a damaged entry).
std::string StoredLzhEntry(const std::string& name, const std::string& data, uint16_t crc);
// The same with the data's own CRC.
inline std::string StoredLzhEntry(const std::string& name, const std::string& data) {
    return StoredLzhEntry(name, data, LzhCrc16(data));
}

}  // namespace norvex::test
