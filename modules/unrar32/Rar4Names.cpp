// Walking RAR 4 blocks: a marker, then blocks of HEAD_SIZE bytes (plus ADD_SIZE data when the
// long-block flag 0x8000 is set); file headers (type 0x74) carry the name after their fixed fields.
#include "modules/unrar32/Rar4Names.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "modules/common/RegularFile.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules::rar {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }

// Valid UTF-8 with at least one multi-byte sequence (plain ASCII reads the same either way).
bool IsUtf8(std::string_view s) {
    bool multi = false;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        multi = multi || n > 1;
        i += n;
    }
    return multi;
}

constexpr unsigned char kMarker4[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};

// Finds the marker within the first MiB (a self-extracting stub may come first).
bool SeekMarker(FILE* f) {
    std::vector<unsigned char> head(1 << 20);
    std::size_t n = std::fread(head.data(), 1, head.size(), f);
    for (std::size_t i = 0; i + 7 <= n; ++i) {
        if (std::memcmp(&head[i], kMarker4, 7) == 0) return fseeko(f, static_cast<off_t>(i + 7), SEEK_SET) == 0;
        if (std::memcmp(&head[i], "Rar!\x1a\x07\x01", 7) == 0) return false;  // RAR 5: names are UTF-8
    }
    return false;
}

bool WalkVolume(const std::string& hostPath, std::vector<LibarchiveOptions::NameOverride>& out, VolumeLayout& layout) {
    std::unique_ptr<FILE, FileCloser> f(OpenRegularStream(hostPath));
    if (!f || !SeekMarker(f.get())) return false;
    // Where the volume ends inside a block: the walk so far stands. (A volume may end without an
    // end block: the oldest writers have none.)
    auto cut = [&layout] {
        layout.cut = true;
        return true;
    };
    bool firstFile = true;
    for (;;) {
        unsigned char base[7];
        std::size_t got = std::fread(base, 1, 7, f.get());
        if (got == 0) return true;
        if (got != 7) return cut();
        uint8_t type = base[2];
        uint16_t flags = Le16(base + 3), size = Le16(base + 5);
        if (size < 7) return false;
        std::vector<unsigned char> header(size);
        std::memcpy(header.data(), base, 7);
        if (std::fread(header.data() + 7, 1, size - 7, f.get()) != size - 7u) return cut();
        uint64_t addSize = 0;
        if (type == 0x73 && (flags & 0x0080)) return false;  // encrypted headers
        if (type == 0x73) {
            layout.volume = (flags & 0x0001) != 0;
            layout.firstVolume = (flags & 0x0100) != 0;
        }
        if (type == 0x7B) {  // end of this volume
            layout.endBlock = true;
            layout.endSaysMore = (flags & 0x0001) != 0;
            return true;
        }
        if (type == 0x74) {
            if (firstFile) layout.continues = (flags & 0x0001) != 0;
            firstFile = false;
            layout.goesOn = (flags & 0x0002) != 0;
            if (size < 32) return false;
            uint64_t packSize = Le32(&header[7]), unpSize = Le32(&header[11]);
            uint16_t nameSize = Le16(&header[26]);
            std::size_t nameAt = 32;
            if (flags & 0x0100) {
                if (size < 40) return false;
                packSize |= static_cast<uint64_t>(Le32(&header[32])) << 32;
                unpSize |= static_cast<uint64_t>(Le32(&header[36])) << 32;
                nameAt = 40;
            }
            if (nameAt + nameSize > size) return false;
            addSize = packSize;
            const bool stored = header[25] == 0x30, encrypted = (flags & 0x0004) != 0;
            const bool folder = (flags & 0x00E0) == 0x00E0;
            if ((flags & 0x0001) && !(flags & 0x0002) && !out.empty() && out.back().splitOpen) {
                // The last part of a split file carries the CRC of the whole file.
                out.back().crc = Le32(&header[16]);
                out.back().splitOpen = false;
            }
            if (!(flags & 0x0001)) {  // the first part of a file is the entry libarchive reports
                std::string name(reinterpret_cast<const char*>(&header[nameAt]), nameSize);
                LibarchiveOptions::NameOverride o;
                // With the Unicode flag the name holds an encoded wide name that libarchive decodes.
                if (!(flags & 0x0200)) o.name = name;
                o.size = static_cast<int64_t>(unpSize);
                o.compressedSize = static_cast<int64_t>(packSize);
                o.crc = Le32(&header[16]);
                o.method = "RAR";
                // libarchive checks the CRC of compressed data only: stored data is checked here.
                o.verifyCrc = stored && !encrypted && !folder;
                o.encrypted = encrypted;
                // A link's target is its (stored) data, read here: libarchive decodes it in the
                // name charset, which fails for a UTF-8 target beside Unicode names.
                const bool link = header[15] == 3 && (Le32(&header[28]) & 0xF000) == 0xA000;
                if (link && stored && !encrypted && !(flags & 0x0002) && packSize > 0 && packSize <= 4096) {
                    std::string target(static_cast<std::size_t>(packSize), '\0');
                    const off_t here = ftello(f.get());
                    if (here >= 0 && std::fread(target.data(), 1, target.size(), f.get()) == target.size())
                        o.linkTarget = (flags & 0x0200) && IsUtf8(target) ? ToAnsi(target) : AnsiString(target);
                    if (here < 0 || fseeko(f.get(), here, SEEK_SET) != 0) return false;
                }
                o.splitOpen = (flags & 0x0002) != 0;
                out.push_back(std::move(o));
            }
        } else if (flags & 0x8000) {
            addSize = size >= 11 ? Le32(&header[7]) : 0;
        }
        if (addSize && DataRunsPastEnd(f.get(), addSize)) return cut();
        if (addSize && fseeko(f.get(), static_cast<off_t>(addSize), SEEK_CUR) != 0) return false;
    }
}

}  // namespace

bool DataRunsPastEnd(std::FILE* f, uint64_t size) {
    struct stat st {};
    const off_t at = ftello(f);
    if (at < 0 || ::fstat(fileno(f), &st) != 0) return false;
    return size > static_cast<uint64_t>(st.st_size) || static_cast<uint64_t>(at) > static_cast<uint64_t>(st.st_size) - size;
}

bool ReadRar4Names(const std::vector<AnsiString>& volumes, std::vector<LibarchiveOptions::NameOverride>& out) {
    std::vector<VolumeLayout> layouts;
    return ReadRar4Names(volumes, out, layouts);
}

bool ReadRar4Names(const std::vector<AnsiString>& volumes, std::vector<LibarchiveOptions::NameOverride>& out,
                   std::vector<VolumeLayout>& layouts) {
    out.clear();
    layouts.clear();
    for (const AnsiString& v : volumes) {
        VolumeLayout layout;
        if (!WalkVolume(FromAnsi(v), out, layout)) {
            out.clear();
            layouts.clear();
            return false;
        }
        layouts.push_back(layout);
    }
    // A split file whose last part is missing has no whole-file CRC to check against.
    for (auto& o : out)
        if (o.splitOpen) o.verifyCrc = false;
    return true;
}

}  // namespace norvex::modules::rar
