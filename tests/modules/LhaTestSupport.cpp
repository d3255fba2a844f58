// Helpers of the LZH tests.
#include "tests/modules/LhaTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "modules/lzh/LzhArchiveWriter.h"
#include "modules/lzh/LzhCrc16.h"
#include "modules/lzh/LzhHeader.h"
#include "platform/AnsiCodec.h"

namespace norvex::test {
namespace fs = std::filesystem;

namespace {

void Put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

}  // namespace

std::string BuildHandArchive(const std::vector<HandEntry>& entries) {
    std::string out;
    for (const HandEntry& e : entries) {
        const uint16_t crc = lzh::Crc16(0, e.data.data(), e.data.size());
        std::string ext;
        if (e.level == 1 && !e.dirExt.empty()) {
            Put16(ext, static_cast<uint32_t>(e.dirExt.size() + 3));  // counted by the previous size field
            ext.push_back('\x02');
            ext += e.dirExt;
        }
        std::string h;
        h += "  ";  // size and checksum, set below
        h += e.directory ? "-lhd-" : e.method;
        Put32(h, static_cast<uint32_t>(e.data.size() + ext.size()));  // level 1 counts the extensions
        Put32(h, static_cast<uint32_t>(e.data.size()));
        Put32(h, e.dosTime);
        h.push_back(e.directory ? '\x10' : '\x20');
        h.push_back(static_cast<char>(e.level));
        h.push_back(static_cast<char>(e.name.size()));
        h += e.name;
        Put16(h, crc);
        std::string tail;
        if (e.level == 1) {
            h.push_back('M');
            // The first extension's size; each extension then ends with the next one's size.
            if (ext.empty()) {
                Put16(h, 0);
            } else {
                Put16(h, static_cast<uint32_t>(e.dirExt.size() + 3));
                tail = ext.substr(2);
                Put16(tail, 0);
            }
        }
        h[0] = static_cast<char>(h.size() - 2);
        uint8_t sum = 0;
        for (std::size_t i = 2; i < h.size(); ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(h[i]));
        h[1] = static_cast<char>(sum);
        out += h + tail + e.data;
    }
    out.push_back('\0');
    return out;
}

std::string EncodeOneEntry(const std::string& name, const std::string& data, lzh::LzhMethod method,
                           std::size_t chunkSize) {
    std::string body;
    lzh::LzhEncoder encoder(method, [&](const uint8_t* p, std::size_t n) {
        body.append(reinterpret_cast<const char*>(p), n);
        return true;
    });
    for (std::size_t at = 0; at < data.size(); at += chunkSize)
        encoder.Write(data.data() + at, std::min(chunkSize, data.size() - at));
    encoder.Finish();
    lzh::Level2Fields f;
    f.path = name;
    f.method = lzh::MethodName(method);
    f.compressedSize = body.size();
    f.originalSize = data.size();
    f.crc = lzh::Crc16(0, data.data(), data.size());
    f.mtime = 1600000000;
    const std::vector<uint8_t> header = lzh::BuildLevel2Header(f);
    return std::string(header.begin(), header.end()) + body + std::string(1, '\0');
}

bool WriteLzhTree(const std::string& root, const std::string& archive, lzh::LzhMethod method, bool allowStored) {
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    const int fd = open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    lzh::LzhArchiveWriter writer(fd, method, lzh::kDefaultLevel, allowStored);
    bool ok = true;
    for (const fs::path& p : paths) {
        struct stat st {};
        if (stat(p.c_str(), &st) != 0) {
            ok = false;
            break;
        }
        lzh::EntryMeta meta;
        meta.path = ToAnsi(fs::relative(p, root).string());
        meta.mtime = st.st_mtim.tv_sec;
        meta.mode = static_cast<uint16_t>(st.st_mode & 07777);
        if (S_ISDIR(st.st_mode)) {
            ok = writer.AddDirectory(meta) == lzh::WriteStatus::Ok;
        } else {
            const int in = open(p.c_str(), O_RDONLY);
            ok = in >= 0 && writer.AddFile(meta, in) == lzh::WriteStatus::Ok;
            if (in >= 0) close(in);
        }
        if (!ok) break;
    }
    ok = ok && writer.Finish() == lzh::WriteStatus::Ok;
    close(fd);
    return ok;
}

std::string TextLike(std::size_t size, uint32_t seed) {
    static const char* const kWords[] = {"archive", "folder", "extract", "the", "of", "and", "header",
                                         "解凍", "圧縮", "書庫", "ソフト", "表示", "\n", ", ", ". "};
    std::mt19937 rng(seed);
    std::string out;
    while (out.size() < size) {
        if (out.size() > 4096 && rng() % 8 == 0) {
            // A repeat from somewhere behind, near or far.
            const std::size_t len = 4 + rng() % 60;
            const std::size_t from = out.size() - 1 - rng() % std::min<std::size_t>(out.size() - 1, 70000);
            for (std::size_t i = 0; i < len; ++i) out.push_back(out[from + i]);
        } else {
            out += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
            out.push_back(' ');
        }
    }
    out.resize(size);
    return out;
}

}  // namespace norvex::test
