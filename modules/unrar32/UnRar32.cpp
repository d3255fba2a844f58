// UNRAR32.DLL (prefix "Unrar"): RAR 4 and RAR 5 listing, testing and extraction over libarchive,
// split sets read from their first volume to their last.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "modules/common/RegularFile.h"
#include "modules/unrar32/Rar4Names.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

using namespace norvex::literals;

bool EndsWithRar(const AnsiString& path) {
    return path.size() >= 4 && path[path.size() - 4] == '.' && (path[path.size() - 3] | 0x20) == 'r' &&
           (path[path.size() - 2] | 0x20) == 'a' && (path[path.size() - 1] | 0x20) == 'r';
}

// A set is read in groups: a volume that starts with a new entry (rather than the rest of one from
// the volume before) starts a group, since libarchive ends its reading at a volume's end block
// unless an entry goes on. When the volumes found end with one that announces a next, the set is
// incomplete; that is known only when the later volumes could be looked for by name, that is, for
// a path that ends in ".rar" (a later volume "x.r00" opened alone is tested on its own). A volume
// cut short makes the archive incomplete too: libarchive takes a cut between headers for the end.
void PlanVolumes(const AnsiString& path, LibarchiveOptions& options, const std::vector<rar::VolumeLayout>& layouts) {
    for (std::size_t i = 1; i < layouts.size(); ++i)
        if (!layouts[i].continues) options.groupStarts.push_back(i);
    const rar::VolumeLayout& last = layouts.back();
    if (EndsWithRar(path) && (last.goesOn || last.endSaysMore))
        options.incompleteEnd = "次の分割書庫が見つかりません: "_ansi + options.volumes.back();
    for (std::size_t i = 0; i < layouts.size(); ++i)
        if (layouts[i].cut) options.incompleteEnd = "書庫が途中で終わっています: "_ansi + options.volumes[i];
}

// ---- RAR 5 headers: our own walk, for the layout of a set and the data checks libarchive skips ----
//
// A volume is the signature, then headers: CRC32 of what follows it, the header's size, its type
// and flags, the sizes of its extra and data areas when flagged, the type's own fields; the data
// area follows the header. Numbers are variable-length (7 bits a byte, high bit = more).

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

constexpr unsigned char kRar5Signature[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

class Cursor {
public:
    Cursor(const unsigned char* p, std::size_t n) : p_(p), end_(p + n) {}
    bool vint(uint64_t& v) {
        v = 0;
        for (int shift = 0; shift < 64 && p_ < end_; shift += 7) {
            unsigned char b = *p_++;
            v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    bool u32(uint32_t& v) {
        if (end_ - p_ < 4) return false;
        v = p_[0] | p_[1] << 8 | p_[2] << 16 | static_cast<uint32_t>(p_[3]) << 24;
        p_ += 4;
        return true;
    }
    const unsigned char* here() const { return p_; }
    bool skip(uint64_t n) {
        if (static_cast<uint64_t>(end_ - p_) < n) return false;
        p_ += n;
        return true;
    }

private:
    const unsigned char* p_;
    const unsigned char* end_;
};

// True when an extra area (records of a size, a type and data) holds a record of the given type.
bool Rar5HasRecord(const unsigned char* p, std::size_t n, uint64_t wanted) {
    Cursor c(p, n);
    uint64_t size = 0, type = 0;
    while (c.vint(size)) {
        Cursor record = c;
        if (!record.vint(type)) return false;
        if (type == wanted) return true;
        if (!c.skip(size)) return false;
    }
    return false;
}

// The target of a file copy: a redirection record (type 5) of redirection type 5 names an earlier
// entry whose data this one repeats, and carries no data of its own. Empty when there is none.
std::string Rar5CopyTarget(const unsigned char* p, std::size_t n) {
    Cursor c(p, n);
    uint64_t size = 0, type = 0;
    while (c.vint(size)) {
        Cursor record = c;
        if (!record.vint(type)) return {};
        if (type == 5) {
            uint64_t kind = 0, flags = 0, length = 0;
            if (!record.vint(kind) || kind != 5 || !record.vint(flags) || !record.vint(length) || length == 0 ||
                length > size)
                return {};
            const unsigned char* name = record.here();
            if (!record.skip(length)) return {};
            return std::string(reinterpret_cast<const char*>(name), static_cast<std::size_t>(length));
        }
        if (!c.skip(size)) return {};
    }
    return {};
}

// Finds the signature within the first MiB (a self-extracting stub may come first).
bool SeekRar5Signature(FILE* f) {
    std::vector<unsigned char> head(1 << 20);
    std::size_t n = std::fread(head.data(), 1, head.size(), f);
    for (std::size_t i = 0; i + 8 <= n; ++i)
        if (std::memcmp(&head[i], kRar5Signature, 8) == 0) return fseeko(f, static_cast<off_t>(i + 8), SEEK_SET) == 0;
    return false;
}

bool WalkRar5Volume(const std::string& hostPath, std::vector<LibarchiveOptions::NameOverride>& out,
                    rar::VolumeLayout& layout) {
    std::unique_ptr<FILE, FileCloser> f(OpenRegularStream(hostPath));
    if (!f || !SeekRar5Signature(f.get())) return false;
    // Where the volume ends before its end header (every RAR 5 volume has one): the walk so far stands.
    auto cut = [&layout] {
        layout.cut = true;
        return true;
    };
    bool firstFile = true;
    std::vector<unsigned char> header;
    for (;;) {
        unsigned char crcBytes[4];
        std::size_t got = std::fread(crcBytes, 1, 4, f.get());
        if (got != 4) return cut();
        // The size field: at most a few bytes; the CRC covers it and the header.
        unsigned char sizeBytes[10];
        std::size_t sizeLength = 0;
        uint64_t size = 0;
        for (;;) {
            int c = std::fgetc(f.get());
            if (c == EOF) return cut();
            if (sizeLength == sizeof sizeBytes) return false;
            sizeBytes[sizeLength] = static_cast<unsigned char>(c);
            size |= static_cast<uint64_t>(c & 0x7F) << (7 * sizeLength);
            ++sizeLength;
            if (!(c & 0x80)) break;
        }
        if (size == 0 || size > (2u << 20)) return false;
        header.resize(size);
        if (std::fread(header.data(), 1, size, f.get()) != size) return cut();
        uint32_t crc = Crc32(Crc32(0, sizeBytes, sizeLength), header.data(), header.size());
        if (crc != (crcBytes[0] | crcBytes[1] << 8 | crcBytes[2] << 16 | static_cast<uint32_t>(crcBytes[3]) << 24))
            return false;
        Cursor c(header.data(), header.size());
        uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!c.vint(type) || !c.vint(flags)) return false;
        if ((flags & 0x0001) && !c.vint(extraSize)) return false;
        if ((flags & 0x0002) && !c.vint(dataSize)) return false;
        if (type == 4) return false;  // encrypted headers
        if (type == 1) {
            uint64_t archiveFlags = 0;
            if (!c.vint(archiveFlags)) return false;
            layout.volume = (archiveFlags & 0x0001) != 0;
            layout.firstVolume = layout.volume && !(archiveFlags & 0x0002);  // later volumes carry their number
        } else if (type == 5) {
            uint64_t endFlags = 0;
            if (!c.vint(endFlags)) return false;
            layout.endBlock = true;
            layout.endSaysMore = (endFlags & 0x0001) != 0;
            return true;
        } else if (type == 2) {
            bool continues = (flags & 0x0008) != 0, goesOn = (flags & 0x0010) != 0;
            if (firstFile) layout.continues = continues;
            firstFile = false;
            layout.goesOn = goesOn;
            uint64_t fileFlags = 0, unpacked = 0, attributes = 0, compression = 0, hostOs = 0;
            uint32_t dataCrc = 0;
            if (!c.vint(fileFlags) || !c.vint(unpacked) || !c.vint(attributes)) return false;
            if ((fileFlags & 0x0002) && !c.skip(4)) return false;
            if ((fileFlags & 0x0004) && !c.u32(dataCrc)) return false;
            if (!c.vint(compression) || !c.vint(hostOs)) return false;
            if (continues && !goesOn && !out.empty() && out.back().splitOpen) {
                // The last part of a split file carries the CRC of the whole file.
                out.back().crc = dataCrc;
                out.back().splitOpen = false;
            }
            if (!continues) {  // the first part of a file is the entry libarchive reports
                LibarchiveOptions::NameOverride o;  // the name stays libarchive's (UTF-8 in RAR 5)
                // The extra area closes the header: an encryption record there (type 1) means data
                // libarchive cannot decrypt.
                o.encrypted = extraSize <= header.size() && Rar5HasRecord(header.data() + header.size() - extraSize,
                                                                           static_cast<std::size_t>(extraSize), 1);
                if (extraSize <= header.size()) {
                    // libarchive takes a file copy for an empty file: it lands as a hard link to the
                    // entry it copies, with the checks of every hard link.
                    const std::string copied = Rar5CopyTarget(header.data() + header.size() - extraSize,
                                                              static_cast<std::size_t>(extraSize));
                    if (!copied.empty()) o.copyOf = ToAnsi(copied);
                }
                o.size = (fileFlags & 0x0008) ? -1 : static_cast<int64_t>(unpacked);
                o.compressedSize = static_cast<int64_t>(dataSize);
                o.crc = dataCrc;
                // libarchive leaves stored data unchecked: check a whole stored file ourselves.
                o.verifyCrc = (fileFlags & 0x0004) && !(fileFlags & 0x0001) && ((compression >> 7) & 7) == 0;
                o.splitOpen = goesOn;
                out.push_back(std::move(o));
            }
        }
        if (dataSize && rar::DataRunsPastEnd(f.get(), dataSize)) return cut();
        if (dataSize && fseeko(f.get(), static_cast<off_t>(dataSize), SEEK_CUR) != 0) return false;
    }
}

// The RAR 5 counterpart of ReadRar4Names: overrides without names, and the layouts.
bool ReadRar5Layout(const std::vector<AnsiString>& volumes, std::vector<LibarchiveOptions::NameOverride>& out,
                    std::vector<rar::VolumeLayout>& layouts) {
    out.clear();
    layouts.clear();
    for (const AnsiString& v : volumes) {
        rar::VolumeLayout layout;
        if (!WalkRar5Volume(FromAnsi(v), out, layout)) {
            out.clear();
            layouts.clear();
            return false;
        }
        layouts.push_back(layout);
    }
    for (auto& o : out)
        if (o.splitOpen) o.verifyCrc = false;
    return true;
}

// The marker of RAR 4 ("Rar!" 1A 07 00) or RAR 5 ("Rar!" 1A 07 01 00).
bool RarMarker(const unsigned char* at, std::size_t available) {
    return available >= 8 && (at[6] == 0 || (at[6] == 1 && at[7] == 0));
}

// Where the archive starts in the first volume: at 0, or behind a stub of up to 1 MiB; -1 when
// there is no marker.
int64_t RarStart(const AnsiString& path) {
    const int fd = OpenRegularFile(FromAnsi(path));
    if (fd < 0) return -1;
    const int64_t at = FindSignature(fd, std::string_view("Rar!\x1a\x07", 6), RarMarker);
    ::close(fd);
    return at;
}

class RarModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Rar; }

    bool signatureMatches(const AnsiString& path) const override { return RarStart(path) >= 0; }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        LibarchiveOptions options;
        options.formats = FormatRar;
        // A self-extracting archive: read from where the archive starts behind the stub.
        options.startOffset = static_cast<uint64_t>(std::max<int64_t>(RarStart(path), 0));
        options.volumes = FindRarVolumes(path);
        std::vector<rar::VolumeLayout> layouts;
        if (rar::ReadRar4Names(options.volumes, options.overrides, layouts) ||
            ReadRar5Layout(options.volumes, options.overrides, layouts))
            PlanVolumes(path, options, layouts);
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code == ARC_OK) out = std::move(source);
        return code;
    }
};

RarModule g_rarModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(Unrar, ::norvex::modules::g_rarModule)
