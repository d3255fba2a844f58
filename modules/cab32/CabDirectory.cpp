// Reading a cabinet's header, folder table and file table.
#include "modules/cab32/CabDirectory.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include "platform/AnsiCodec.h"

namespace norvex::modules::cab {

namespace {

constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFolderSize = 8;
constexpr std::size_t kFileSize = 16;
constexpr std::size_t kMaxName = 256;  // a name and the cabinet names of a set, NUL not counted

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }

// The cabinet's bytes read through pread, a window at a time, so that the directory is read without
// a system call per field.
class Reader {
public:
    Reader(int fd, uint64_t start, uint64_t fileSize) : fd_(fd), start_(start), fileSize_(fileSize) {}

    // size bytes at offset (from the cabinet's start); nullptr when the file ends before them.
    const unsigned char* at(uint64_t offset, std::size_t size) {
        uint64_t absolute = start_ + offset;
        if (absolute < start_ || absolute > fileSize_ || size > fileSize_ - absolute) return nullptr;
        if (absolute < windowStart_ || absolute + size > windowStart_ + window_.size()) {
            std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(fileSize_ - absolute, kWindow));
            if (want < size) want = size;
            window_.resize(want);
            std::size_t got = 0;
            while (got < want) {
                ssize_t n = ::pread(fd_, window_.data() + got, want - got, static_cast<off_t>(absolute + got));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            window_.resize(got);
            windowStart_ = absolute;
            if (got < size) return nullptr;
        }
        return window_.data() + (absolute - windowStart_);
    }

    // A NUL-terminated string of at most kMaxName bytes at offset; false when it is longer or cut.
    bool string(uint64_t& offset, std::string& out) {
        out.clear();
        for (;;) {
            const unsigned char* c = at(offset, 1);
            if (!c) return false;
            ++offset;
            if (*c == 0) return true;
            if (out.size() >= kMaxName) return false;
            out.push_back(static_cast<char>(*c));
        }
    }

private:
    static constexpr std::size_t kWindow = 64 * 1024;
    int fd_;
    uint64_t start_, fileSize_;
    uint64_t windowStart_ = 0;
    std::vector<unsigned char> window_;
};

}  // namespace

bool ReadCabDirectory(int fd, uint64_t start, uint64_t fileSize, CabDirectory& out, std::string& why) {
    Reader r(fd, start, fileSize);
    out = CabDirectory{};
    out.start = start;
    const unsigned char* h = r.at(0, kHeaderSize);
    if (!h || Le32(h) != 0x4643534D /* "MSCF" */) {
        why = "キャビネットのヘッダが途中で終わっています";
        return false;
    }
    const uint32_t filesOffset = Le32(h + 16);
    const uint16_t folderCount = Le16(h + 26), fileCount = Le16(h + 28);
    out.flags = Le16(h + 30);
    uint64_t offset = kHeaderSize;
    std::size_t folderReserve = 0;
    if (out.flags & kFlagReservePresent) {
        const unsigned char* reserve = r.at(offset, 4);
        if (!reserve) {
            why = "キャビネットのヘッダが途中で終わっています";
            return false;
        }
        offset += 4 + Le16(reserve);
        folderReserve = reserve[2];
        out.dataReserve = reserve[3];
    }
    std::string skipped;
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet}) {
        if (!(out.flags & flag)) continue;
        // The neighbouring cabinet's file name and the name of its disk.
        if (!r.string(offset, skipped) || !r.string(offset, skipped)) {
            why = "キャビネットのヘッダが壊れています";
            return false;
        }
    }
    out.folders.reserve(folderCount);
    for (uint16_t i = 0; i < folderCount; ++i, offset += kFolderSize + folderReserve) {
        const unsigned char* f = r.at(offset, kFolderSize);
        if (!f) {
            why = "フォルダの一覧が途中で終わっています";
            return false;
        }
        out.folders.push_back({start + Le32(f), Le16(f + 4), Le16(f + 6)});
    }
    offset = filesOffset;
    out.files.reserve(fileCount);
    std::string name;
    for (uint16_t i = 0; i < fileCount; ++i) {
        const unsigned char* f = r.at(offset, kFileSize);
        if (!f) {
            why = "ファイルの一覧が途中で終わっています";
            return false;
        }
        CabFile file;
        file.size = Le32(f);
        file.offset = Le32(f + 4);
        file.folder = Le16(f + 8);
        file.date = Le16(f + 10);
        file.time = Le16(f + 12);
        file.attributes = Le16(f + 14);
        offset += kFileSize;
        if (!r.string(offset, name) || name.empty()) {
            why = "ファイル名が壊れています";
            return false;
        }
        if (file.folder < kFolderContinued && file.folder >= folderCount) {
            why = "ファイルのフォルダ番号が不正です";
            return false;
        }
        file.name = CabinetName(name, (file.attributes & kAttrNameIsUtf8) != 0);
        out.files.push_back(std::move(file));
    }
    return true;
}

bool OwnDecoderReads(const CabDirectory& directory) {
    if (directory.flags & (kFlagPrevCabinet | kFlagNextCabinet)) return false;
    if (directory.dataReserve != 0) return false;
    for (const CabFolder& f : directory.folders) {
        uint16_t method = f.compression & 0x000F;
        if (method != kCompressNone && method != kCompressMszip) return false;
    }
    for (const CabFile& f : directory.files)
        if (f.folder >= kFolderContinued) return false;
    return true;
}

AnsiString CabinetName(const std::string& stored, bool utf8) {
    AnsiString name = utf8 ? ToAnsi(stored) : AnsiString(stored);
    for (std::size_t i = 0; i < name.size(); i += AnsiCharLength(name, i))
        if (name[i] == '\\') name[i] = '/';
    return name;
}

}  // namespace norvex::modules::cab
