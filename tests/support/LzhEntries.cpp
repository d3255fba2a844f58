#include "tests/support/LzhEntries.h"

namespace norvex::test {

namespace {

void Put16(std::string& s, uint16_t v) { s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8); }
void Put32(std::string& s, uint32_t v) { Put16(s, static_cast<uint16_t>(v)), Put16(s, static_cast<uint16_t>(v >> 16)); }

}  // namespace

uint16_t LzhCrc16(std::string_view data) {
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::string StoredLzhEntry(const std::string& name, const std::string& data, uint16_t crc) {
    std::string body = "-lh0-";
    Put32(body, static_cast<uint32_t>(data.size()));
    Put32(body, static_cast<uint32_t>(data.size()));
    Put32(body, 0x58216000);
    body += '\x20', body += '\0', body += static_cast<char>(name.size());
    body += name;
    Put16(body, crc);
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    return std::string(1, static_cast<char>(body.size())) + static_cast<char>(sum & 0xFF) + body + data;
}

}  // namespace norvex::test
