// Stored and deflate entries of a ZIP archive, read with pread and inflated with ISA-L.
#include "modules/unzip32/ZipFastInflate.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include "modules/common/RegularFile.h"
#include "modules/unzip32/ZipLocalCheck.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules::zip {

using namespace norvex::literals;

namespace {

constexpr std::size_t kInputBlock = 256 * 1024;
constexpr std::size_t kOutputBlock = 256 * 1024;
constexpr uint16_t kStored = 0, kDeflate = 8;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }

}  // namespace

bool FastInflateHandles(const CentralEntry& entry) {
    // Bit 0: encrypted; bit 6: strong encryption.
    return (entry.method == kStored || entry.method == kDeflate) && (entry.flags & 0x0041) == 0;
}

std::shared_ptr<ArchiveFile> ArchiveFile::Open(const std::string& hostPath) {
    struct stat st {};
    const int fd = OpenRegularFile(hostPath, &st);  // never blocks on a fifo
    if (fd < 0) return nullptr;
    std::shared_ptr<ArchiveFile> f(new ArchiveFile);
    f->fd_ = fd;
    f->size_ = static_cast<uint64_t>(st.st_size);
    f->version_ = FileVersion::Of(st);
    return f;
}

ArchiveFile::~ArchiveFile() {
    if (fd_ >= 0) ::close(fd_);
}

struct EntryInflater::State {
    inflate_state inflate;
};

EntryInflater::EntryInflater() = default;
EntryInflater::~EntryInflater() = default;

void EntryInflater::start(std::shared_ptr<ArchiveFile> file, const CentralEntry& entry, const AnsiString& name,
                          uint64_t dataOffset) {
    file_ = std::move(file);
    entry_ = Data{entry.method, entry.crc, entry.compressedSize, entry.size, entry.localHeaderOffset};
    name_ = name;
    message_.clear();
    dataOffset_ = 0;
    knownDataOffset_ = dataOffset;
    inputLeft_ = 0;
    produced_ = 0;
    crc_ = 0;
    started_ = false;
    ended_ = false;
    failed_ = 0;
}

int32_t EntryInflater::fail(int32_t code, AnsiString message) {
    failed_ = code;
    message_ = std::move(message);
    return code;
}

int32_t EntryInflater::fill() {
    std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(inputLeft_, input_.size()));
    if (!ReadFullyAt(file_->fd(), input_.data(), n, dataOffset_))
        return fail(ARC_ERROR_CANNOT_READ, "書庫を読めません: "_ansi + name_);
    dataOffset_ += n;
    inputLeft_ -= n;
    state_->inflate.next_in = input_.data();
    state_->inflate.avail_in = static_cast<uint32_t>(n);
    return ARC_OK;
}

int32_t EntryInflater::readBlock(const void*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (failed_) return failed_;
    if (ended_) return ARC_OK;
    if (!started_) {
        // The data follows the local header, whose name and extra field may differ in length from the
        // central directory's.
        if (knownDataOffset_ != 0) {
            dataOffset_ = knownDataOffset_;
        } else {
            unsigned char header[30];
            if (!ReadFullyAt(file_->fd(), header, sizeof header, entry_.localHeaderOffset) || Le32(header) != 0x04034b50)
                return fail(ARC_ERROR_HEADER_BROKEN, "ローカルヘッダが壊れています: "_ansi + name_);
            dataOffset_ = entry_.localHeaderOffset + 30 + Le16(header + 26) + Le16(header + 28);
        }
        if (dataOffset_ > file_->size() || entry_.compressedSize > file_->size() - dataOffset_)
            return fail(ARC_ERROR_EOF, "書庫のデータが途中で終わっています: "_ansi + name_);
        // Data that runs into the central directory is not an entry's data (a header lies).
        if (file_->overlapsDirectory(dataOffset_, entry_.compressedSize))
            return fail(ARC_ERROR_HEADER_BROKEN, "データが中央ディレクトリに重なっています: "_ansi + name_);
        inputLeft_ = entry_.compressedSize;
        // Buffers as large as the entry needs, up to one block each, made at the first read (readers
        // waiting their turn cost little).
        uint64_t outputNeed = entry_.method == kStored ? entry_.compressedSize : entry_.size;
        output_.resize(static_cast<std::size_t>(std::clamp<uint64_t>(outputNeed, 1, kOutputBlock)));
        if (entry_.method == kDeflate) {
            input_.resize(static_cast<std::size_t>(std::clamp<uint64_t>(entry_.compressedSize, 1, kInputBlock)));
            if (!state_) state_.reset(new State);  // not value-initialised: isal_inflate_init sets it up
            isal_inflate_init(&state_->inflate);
            state_->inflate.avail_in = 0;
        }
        started_ = true;
    }

    if (entry_.method == kStored) {
        if (inputLeft_ > 0) {
            std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(inputLeft_, output_.size()));
            if (!ReadFullyAt(file_->fd(), output_.data(), n, dataOffset_))
                return fail(ARC_ERROR_CANNOT_READ, "書庫を読めません: "_ansi + name_);
            dataOffset_ += n;
            inputLeft_ -= n;
            produced_ += n;
            crc_ = crc32_gzip_refl(crc_, output_.data(), n);
            data = output_.data();
            size = n;
            return ARC_OK;
        }
    } else {
        inflate_state& s = state_->inflate;
        while (s.block_state != ISAL_BLOCK_FINISH) {
            if (s.avail_in == 0 && inputLeft_ > 0 && fill() != ARC_OK) return failed_;
            s.next_out = output_.data();
            s.avail_out = static_cast<uint32_t>(output_.size());
            uint32_t inBefore = s.avail_in;
            int r = isal_inflate(&s);
            std::size_t got = output_.size() - s.avail_out;
            if (r != ISAL_DECOMP_OK) return fail(ARC_ERROR_CANNOT_READ, "圧縮データが壊れています: "_ansi + name_);
            if (got > 0) {
                // More data than the header promises is a lie about the size: stop before writing it.
                if (produced_ + got > entry_.size)
                    return fail(ARC_FILE_CRC, "データがヘッダの大きさを超えています: "_ansi + name_);
                produced_ += got;
                crc_ = crc32_gzip_refl(crc_, output_.data(), got);
                data = output_.data();
                size = got;
                return ARC_OK;
            }
            if (s.block_state != ISAL_BLOCK_FINISH && s.avail_in == inBefore && inputLeft_ == 0)
                return fail(ARC_ERROR_EOF, "圧縮データが途中で終わっています: "_ansi + name_);
        }
    }
    if (crc_ != entry_.crc) return fail(ARC_FILE_CRC, "CRC が一致しません: "_ansi + name_);
    ended_ = true;
    return ARC_OK;
}

FastZipSource::FastZipSource(std::unique_ptr<ArchiveSource> inner, std::vector<CentralEntry> entries,
                             std::vector<AnsiString> names, std::shared_ptr<ArchiveFile> file)
    : inner_(std::move(inner)), entries_(std::move(entries)), names_(std::move(names)), file_(std::move(file)),
      inflater_(std::make_unique<EntryInflater>()) {}

int32_t FastZipSource::nextEntry(EntryInfo& entry) {
    fast_ = false;
    taken_ = false;
    refused_ = false;
    int32_t code = inner_->nextEntry(entry);
    if (code == ARC_FIND_END && index_ < entries_.size()) {
        // libarchive showed fewer entries than the central directory lists (two of them on one
        // local header, say): those never land, so the archive is not extracted.
        message_ = ToAnsi(std::to_string(entries_.size() - index_)) +
                   " 個の項目がローカルヘッダを共有しているか見つからないため展開できません"_ansi;
        return ARC_ERROR_HEADER_BROKEN;
    }
    if (code == ARC_FIND_END && file_ && !message_.empty()) return ARC_FIND_END;
    if (code == ARC_FIND_END && file_) {
        // Entries the directory does not list never land: the archive is not counted as extracted.
        if (const std::size_t unlisted = UnlistedLocalHeaders(*file_, entries_, {})) {
            message_ = UnlistedMessage(unlisted);
            return ARC_ERROR_HEADER_BROKEN;
        }
    }
    if (code != ARC_OK) return code;
    std::size_t i = index_++;
    if (i < entries_.size() && entry.type == EntryType::Directory && entries_[i].size != 0) {
        // libarchive takes the entry for a folder (its name ends in a separator, or its mode says so)
        // while the central directory gives it data: the data has nowhere to land. It goes on as a
        // file whose data is refused, so that the archive never passes as extracted without it.
        entry.type = EntryType::File;
        entry.size = static_cast<int64_t>(std::min<uint64_t>(entries_[i].size, INT64_MAX));
        refused_ = true;
        refusal_ = "フォルダの項目にデータがあります: "_ansi + names_[i];
        return ARC_OK;
    }
    if (!file_ || i >= entries_.size() || entry.type != EntryType::File) return ARC_OK;
    const CentralEntry& c = entries_[i];
    // libarchive may take the sizes of the local header: data of the other size than the one listed
    // would land with its CRC passing.
    if (!LocalSizesAgree(*file_, c) || (entry.size >= 0 && static_cast<uint64_t>(entry.size) != c.size)) {
        refused_ = true;
        refusal_ = "ローカルヘッダと中央ディレクトリで大きさが違います: "_ansi + names_[i];
        return ARC_OK;
    }
    if (entry.encrypted) return ARC_OK;
    // libarchive's header must be the one the central directory describes; otherwise libarchive,
    // which found the entry, decodes it.
    if (!FastInflateHandles(c) || entry.path != names_[i] || entry.size < 0 ||
        static_cast<uint64_t>(entry.size) != c.size || entry.compressedSize < 0 ||
        static_cast<uint64_t>(entry.compressedSize) != c.compressedSize || entry.crc != c.crc)
        return ARC_OK;
    fast_ = true;
    inflater_->start(file_, c, entry.path);
    return ARC_OK;
}

int32_t FastZipSource::readBlock(const void*& data, std::size_t& size) {
    if (refused_) {
        data = nullptr;
        size = 0;
        return ARC_ERROR_HEADER_BROKEN;
    }
    if (!fast_) return inner_->readBlock(data, size);
    return inflater_->readBlock(data, size);
}

std::unique_ptr<EntryDataReader> FastZipSource::takeDataReader() {
    if (!fast_ || taken_) return nullptr;
    taken_ = true;
    auto reader = std::make_unique<EntryInflater>();
    reader->start(file_, entries_[index_ - 1], names_[index_ - 1]);
    return reader;
}

}  // namespace norvex::modules::zip
