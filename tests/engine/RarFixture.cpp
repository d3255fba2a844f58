// RAR 4 writer for test fixtures: marker, main header, stored file headers (split flags and per-part
// CRCs as the format keeps them), end-of-archive block with the next-volume flag.
#include "tests/engine/RarFixture.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace norvex::test {

namespace {

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
uint32_t Crc(const std::string& s) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// A block: CRC16 (low half of the CRC32 of the rest), type, flags, size, body.
std::string Block(uint8_t type, uint16_t flags, const std::string& body) {
    std::string rest;
    rest += static_cast<char>(type);
    Put16(rest, flags);
    Put16(rest, static_cast<uint32_t>(7 + body.size()));
    rest += body;
    std::string out;
    Put16(out, Crc(rest) & 0xFFFF);
    return out + rest;
}

std::string MainHeader(bool volume, bool first) {
    uint16_t flags = 0;
    if (volume) flags |= 0x0001 | 0x0010;  // volume, new numbering
    if (volume && first) flags |= 0x0100;  // first volume
    return Block(0x73, flags, std::string(6, '\0'));
}

std::string FileHeader(const RarEntry& e, const std::string& part, uint32_t crc, bool before, bool after) {
    std::string body;
    Put32(body, static_cast<uint32_t>(part.size()));       // packed size (this part)
    Put32(body, static_cast<uint32_t>(e.content.size()));  // unpacked size (whole entry)
    body += '\0';                                          // host OS: MS-DOS
    Put32(body, crc);
    Put32(body, 0x5A210000);                               // 2025-01-01 00:00 (DOS stamp)
    body += static_cast<char>(20);                         // version needed
    body += static_cast<char>(0x30);                       // method: stored
    Put16(body, static_cast<uint32_t>(e.name.size()));
    Put32(body, 0x20);                                     // attributes: archive
    body += e.name;
    uint16_t flags = 0x8000;
    if (before) flags |= 0x01;
    if (after) flags |= 0x02;
    return Block(0x74, flags, body);
}

std::string VolumeName(const std::string& base, int index, int count, RarNaming naming) {
    if (count == 1) return base + ".rar";
    if (naming == RarNaming::NewStyle) return base + ".part" + std::to_string(index + 1) + ".rar";
    if (index == 0) return base + ".rar";
    const int n = index - 1;
    return base + ".r" + (n < 10 ? "0" : "") + std::to_string(n);
}

}  // namespace

std::vector<std::string> WriteRar(const std::string& folder, const std::string& base,
                                  const std::vector<RarEntry>& entries, int volumeCount, RarNaming naming) {
    if (volumeCount < 1) throw std::invalid_argument("volumeCount");
    std::size_t total = 0;
    for (const auto& e : entries) total += e.content.size();
    const std::size_t perVolume = std::max<std::size_t>(1, (total + volumeCount - 1) / volumeCount);
    const bool split = volumeCount > 1;

    std::vector<std::string> volumes(volumeCount);
    for (int v = 0; v < volumeCount; ++v) volumes[v] = "Rar!\x1A\x07" + std::string(1, '\0') + MainHeader(split, v == 0);

    int v = 0;
    std::size_t room = perVolume;
    for (const auto& e : entries) {
        std::size_t done = 0;
        bool continued = false;
        do {
            if (room == 0 && v + 1 < volumeCount) {
                ++v;
                room = perVolume;
            }
            std::size_t take = e.content.size() - done;
            if (v + 1 < volumeCount) take = std::min(take, room);
            const std::string part = e.content.substr(done, take);
            done += take;
            room -= std::min(room, take);
            const bool after = done < e.content.size();
            // A part that goes on in the next volume carries its own CRC; the last part the whole one.
            const uint32_t crc = after ? Crc(part) : Crc(e.content);
            volumes[v] += FileHeader(e, part, crc, continued, after) + part;
            continued = true;
        } while (done < e.content.size());
    }

    std::vector<std::string> paths;
    for (int i = 0; i < volumeCount; ++i) {
        volumes[i] += Block(0x7B, i + 1 < volumeCount ? 0x0001 : 0, "");
        const std::string path = folder + "/" + VolumeName(base, i, volumeCount, naming);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << volumes[i];
        if (!out) throw std::runtime_error("cannot write " + path);
        paths.push_back(path);
    }
    return paths;
}

}  // namespace norvex::test
