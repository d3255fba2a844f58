// The LHA module's reader: our own header reader walks the archive (so names are the raw cp932
// bytes, trail byte 0x5C included), and each entry's data is decoded by the decoder that knows its
// method: stored data is copied, -lh5-, -lh6- and -lh7- go through our own decoder (LzhDecoder), the
// older methods (-lh1-, -lh4-, -lzs-, -lz5-, ...) through liblhasa. The CRC and size of every entry
// are checked here. An entry's data can also be read apart from the walk (takeDataReader), on the
// archive's descriptor shared with pread, so that entries decode on every core.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "modules/common/ArchiveSource.h"
#include "modules/common/ParsedArchiveMemo.h"
#include "modules/lzh/LzhHeader.h"

namespace norvex::modules {

// The archive's descriptor, shared by the walk and the entries' readers (which may outlive it).
class LzhArchiveFile {
public:
    explicit LzhArchiveFile(int fd) : fd_(fd) {}
    ~LzhArchiveFile();
    LzhArchiveFile(const LzhArchiveFile&) = delete;
    LzhArchiveFile& operator=(const LzhArchiveFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Decodes one entry's data; implemented per method in LzhSource.cpp.
class LzhEntryDecoder {
public:
    virtual ~LzhEntryDecoder() = default;
    // Up to capacity decoded bytes, in the decoder's own buffer (valid until the next call); 0 at
    // the end. A negative value is a failure code negated (ARC_ERROR_HUFFMAN_CODE for data that does
    // not decode, ...).
    virtual int64_t next(const uint8_t*& data, std::size_t capacity) = 0;
};

// One entry's data: decoded, counted and CRC-checked. Usable from any thread.
class LzhEntryReader : public EntryDataReader {
public:
    LzhEntryReader(std::shared_ptr<LzhArchiveFile> file, const lzh::LzhEntryHeader& header);
    ~LzhEntryReader() override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    AnsiString lastMessage() const override { return message_; }

private:
    int32_t startDecoding();
    int32_t finish(int32_t code, AnsiString message);

    std::shared_ptr<LzhArchiveFile> file_;
    lzh::LzhEntryHeader header_;
    std::unique_ptr<LzhEntryDecoder> decoder_;
    bool done_ = false;
    int32_t result_ = 0;
    uint64_t produced_ = 0;
    uint16_t crc_ = 0;
    AnsiString message_;
};

// The headers of a whole walk over one archive, up to its clean end.
struct LzhWalk {
    std::vector<lzh::LzhEntryHeader> headers;
};

class LzhSource : public ArchiveSource {
public:
    ~LzhSource() override;
    // Opens path (cp932). ARC_OK, ARC_ERROR_NOT_FIND_ARC_FILE, ARC_ERROR_ARC_FILE_OPEN.
    static int32_t Open(const AnsiString& path, std::unique_ptr<LzhSource>& out);

    const FileVersion& version() const { return version_; }
    // The walk hands out walk's headers instead of reading them: walk is an earlier walk of this
    // same file (the same version). Before the first nextEntry.
    void replay(std::shared_ptr<const LzhWalk> walk) { replay_ = std::move(walk); }
    // Keeps every header the walk reads; at the walk's clean end they go to done. Before the first
    // nextEntry. A walk of more than maxEntries entries keeps nothing.
    void record(std::size_t maxEntries, std::function<void(std::shared_ptr<const LzhWalk>)> done);

    int32_t nextEntry(EntryInfo& entry) override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    bool fatal() const override { return false; }
    AnsiString lastMessage() const override;
    std::unique_ptr<EntryDataReader> takeDataReader() override;

    // The header of the entry last returned by nextEntry (for the packer's update).
    const lzh::LzhEntryHeader& currentHeader() const { return header_; }
    int fd() const { return file_->fd(); }

private:
    LzhSource() = default;

    std::shared_ptr<LzhArchiveFile> file_;
    std::unique_ptr<lzh::HeaderInput> headers_;  // read-ahead over the headers of the walk
    uint64_t fileSize_ = 0;
    uint64_t nextHeader_ = 0;
    bool first_ = true;
    bool haveEntry_ = false;
    lzh::LzhEntryHeader header_;
    // The current entry's data: made when first read or taken (a listing reads none).
    bool dataPending_ = false;
    std::unique_ptr<LzhEntryReader> reader_;
    AnsiString message_;
    FileVersion version_;
    std::shared_ptr<const LzhWalk> replay_;
    std::size_t replayed_ = 0;
    std::shared_ptr<LzhWalk> recorded_;
    std::size_t recordLimit_ = 0;
    std::function<void(std::shared_ptr<const LzhWalk>)> recordDone_;
};

// Fills an EntryInfo from a parsed header (path, type, sizes, times, mode, method).
void EntryFromHeader(const lzh::LzhEntryHeader& header, EntryInfo& entry);

}  // namespace norvex::modules
