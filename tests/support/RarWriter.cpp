// Stored RAR 4 blocks: the marker, the main header, file headers with their data, the end block.
// Each header carries the low 16 bits of the CRC32 of its bytes after the CRC field.
#include "tests/support/RarWriter.h"

#include <algorithm>
#include <ctime>

namespace norvex::test {

namespace {

uint32_t Crc32(const std::string& data, uint32_t crc = 0) {
    crc = ~crc;
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A block: CRC16 over type..end, then the rest.
std::string Block(const std::string& body) {
    std::string out;
    Put16(out, Crc32(body) & 0xFFFF);
    return out + body;
}

std::string MainHeader(bool volume, bool first, bool newNumbering) {
    uint32_t flags = 0;
    if (volume) flags |= 0x0001;
    if (volume && newNumbering) flags |= 0x0010;
    if (volume && first) flags |= 0x0100;
    std::string b;
    b += static_cast<char>(0x73);
    Put16(b, flags);
    Put16(b, 13);
    Put16(b, 0);
    Put32(b, 0);
    return Block(b);
}

std::string FileHeader(const RarEntry& e, uint32_t packSize, uint32_t crc, bool splitBefore, bool splitAfter) {
    uint32_t flags = 0x8000;
    if (splitBefore) flags |= 0x0001;
    if (splitAfter) flags |= 0x0002;
    if (e.kind == RarEntry::Directory) flags |= 0x00E0;
    uint32_t mode = e.unixMode;
    if (e.kind == RarEntry::Directory) mode |= 0040000;
    else if (e.kind == RarEntry::Symlink) mode = 0120777;
    else mode |= 0100000;
    std::string b;
    b += static_cast<char>(0x74);
    Put16(b, flags);
    Put16(b, static_cast<uint32_t>(32 + e.name.size()));
    Put32(b, packSize);
    Put32(b, static_cast<uint32_t>(e.data.size()));
    b += static_cast<char>(3);  // Unix
    Put32(b, crc);
    Put16(b, e.dosTime);
    Put16(b, e.dosDate);
    b += static_cast<char>(20);    // version needed to extract
    b += static_cast<char>(0x30);  // stored
    Put16(b, static_cast<uint32_t>(e.name.size()));
    Put32(b, mode);
    b += e.name;
    return Block(b);
}

std::string EndBlock(bool moreVolumes) {
    std::string b;
    b += static_cast<char>(0x7B);
    Put16(b, moreVolumes ? 0x0001 : 0);
    Put16(b, 7);
    return Block(b);
}

// The end block of a volume set: "next volume" (0x0001) when one follows, and the volume number
// (0x0008); 0x4000 marks a block an older reader may skip.
std::string VolumeEndBlock(bool moreVolumes, uint16_t volumeNumber) {
    std::string b;
    b += static_cast<char>(0x7B);
    Put16(b, 0x4000 | 0x0008 | (moreVolumes ? 0x0001 : 0));
    Put16(b, 9);
    Put16(b, volumeNumber);
    return Block(b);
}

const char kMarker[] = "Rar!\x1a\x07\x00";

// RAR 5: numbers as variable-length integers (7 bits a byte, the high bit set when more follow);
// every header is CRC32, then its size, then type, flags and the type's fields.
void PutVint(std::string& s, uint64_t v) {
    do {
        unsigned char b = v & 0x7F;
        v >>= 7;
        if (v) b |= 0x80;
        s += static_cast<char>(b);
    } while (v);
}

std::string Header5(const std::string& body) {
    std::string sized;
    PutVint(sized, body.size());
    sized += body;
    std::string out;
    Put32(out, Crc32(sized));
    return out + sized;
}

uint32_t UnixTime(uint16_t dosDate, uint16_t dosTime) {
    std::tm t{};
    t.tm_year = 80 + (dosDate >> 9);
    t.tm_mon = ((dosDate >> 5) & 15) - 1;
    t.tm_mday = dosDate & 31;
    t.tm_hour = dosTime >> 11;
    t.tm_min = (dosTime >> 5) & 63;
    t.tm_sec = (dosTime & 31) * 2;
    return static_cast<uint32_t>(timegm(&t));
}

std::string FileHeader5(const RarEntry& e) {
    bool dir = e.kind == RarEntry::Directory;
    const bool copy = e.kind == RarEntry::Copy;
    std::string extra;  // a file copy's redirection record: type 5, redirection 5, no flags, the name
    if (copy) {
        std::string record;
        PutVint(record, 5);
        PutVint(record, 5);
        PutVint(record, 0);
        PutVint(record, e.data.size());
        record += e.data;
        PutVint(extra, record.size());
        extra += record;
    }
    std::string b;
    PutVint(b, 2);                          // file header
    PutVint(b, copy ? 0x0003 : 0x0002);     // a data area follows (empty for a folder or a copy)
    if (copy) PutVint(b, extra.size());
    PutVint(b, dir || copy ? 0 : e.data.size());
    PutVint(b, (dir ? 0x0001 : 0x0004) | 0x0002);  // folder or CRC; modification time
    PutVint(b, dir || copy ? 0 : e.data.size());  // unpacked size
    PutVint(b, e.unixMode | (dir ? 0040000 : 0100000));
    Put32(b, UnixTime(e.dosDate, e.dosTime));
    if (!dir) Put32(b, Crc32(e.data));
    PutVint(b, 0);                          // version 0, not solid, method 0 (stored)
    PutVint(b, 1);                          // Unix
    PutVint(b, e.name.size());
    b += e.name;
    return Header5(b + extra);
}

}  // namespace

std::vector<std::string> BuildRar5(const std::vector<std::vector<RarEntry>>& perVolume) {
    bool multi = perVolume.size() > 1;
    std::vector<std::string> volumes;
    for (std::size_t v = 0; v < perVolume.size(); ++v) {
        std::string out("Rar!\x1a\x07\x01\x00", 8);
        std::string main;
        PutVint(main, 1);  // main archive header
        PutVint(main, 0);
        PutVint(main, (multi ? 0x0001 : 0) | (v > 0 ? 0x0002 : 0));
        if (v > 0) PutVint(main, v);
        out += Header5(main);
        for (const RarEntry& e : perVolume[v]) {
            if (e.kind == RarEntry::Symlink) continue;
            out += FileHeader5(e);
            if (e.kind == RarEntry::File) out += e.data;
        }
        std::string end;
        PutVint(end, 5);  // end of archive
        PutVint(end, 0);
        PutVint(end, v + 1 < perVolume.size() ? 0x0001 : 0);
        out += Header5(end);
        volumes.push_back(std::move(out));
    }
    return volumes;
}

std::vector<std::string> BuildRar4(const std::vector<RarEntry>& entries, std::size_t volumeLimit, bool newNumbering) {
    bool multi = volumeLimit > 0;
    std::vector<std::string> volumes;
    std::string current = std::string(kMarker, 7) + MainHeader(multi, true, newNumbering);
    std::size_t used = 0;
    auto nextVolume = [&] {
        current += EndBlock(true);
        volumes.push_back(current);
        current = std::string(kMarker, 7) + MainHeader(true, false, newNumbering);
        used = 0;
    };
    for (const RarEntry& e : entries) {
        std::size_t offset = 0;
        bool first = true;
        do {
            if (multi && used >= volumeLimit) nextVolume();
            std::size_t room = multi ? volumeLimit - used : e.data.size();
            std::size_t part = std::min(room, e.data.size() - offset);
            bool last = offset + part == e.data.size();
            std::string chunk = e.data.substr(offset, part);
            uint32_t crc = last ? Crc32(e.data) : Crc32(chunk);
            current += FileHeader(e, static_cast<uint32_t>(part), crc, !first, !last);
            current += chunk;
            used += part;
            offset += part;
            first = false;
        } while (offset < e.data.size());
    }
    current += EndBlock(false);
    volumes.push_back(current);
    return volumes;
}

std::vector<std::string> BuildRar4Set(const std::vector<std::vector<RarEntry>>& perVolume, bool newNumbering) {
    std::vector<std::string> volumes;
    for (std::size_t v = 0; v < perVolume.size(); ++v) {
        std::string current = std::string(kMarker, 7) + MainHeader(true, v == 0, newNumbering);
        for (const RarEntry& e : perVolume[v]) {
            current += FileHeader(e, static_cast<uint32_t>(e.data.size()), Crc32(e.data), false, false);
            current += e.data;
        }
        current += VolumeEndBlock(v + 1 < perVolume.size(), static_cast<uint16_t>(v));
        volumes.push_back(std::move(current));
    }
    return volumes;
}

}  // namespace norvex::test
