// The ZIP module's own decoding of stored and deflate entries: the data is read straight from the
// archive file at the offset the central directory gives and inflated with ISA-L (streaming, so an
// entry of any size costs the same few hundred KiB), its CRC checked against the central directory.
// An archive of plain entries is walked without libarchive (ZipDirectSource); in any other,
// libarchive walks the headers (names, times, modes, links) and decodes every other method and every
// encrypted entry.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "modules/common/ArchiveSource.h"
#include "modules/common/ParsedArchiveMemo.h"
#include "modules/unzip32/ZipCentralDirectory.h"

namespace norvex::modules::zip {

// True for the entries decoded here: stored or deflate, not encrypted.
bool FastInflateHandles(const CentralEntry& entry);

// The archive file, opened once and shared (by reference count) by the source and every reader taken
// from it; reads go through pread, so readers on several threads do not disturb one another.
class ArchiveFile {
public:
    // Opens the file at hostPath (UTF-8); nullptr when it cannot be opened.
    static std::shared_ptr<ArchiveFile> Open(const std::string& hostPath);
    ~ArchiveFile();
    int fd() const { return fd_; }
    uint64_t size() const { return size_; }
    const FileVersion& version() const { return version_; }
    // The central directory's place in the file: no entry's data may overlap it.
    void setDirectory(uint64_t start, uint64_t end) {
        directoryStart_ = start;
        directoryEnd_ = end;
    }
    uint64_t directoryStart() const { return directoryStart_; }
    bool overlapsDirectory(uint64_t offset, uint64_t size) const {
        return offset < directoryEnd_ && size > 0 && offset + size > directoryStart_;
    }

private:
    ArchiveFile() = default;
    int fd_ = -1;
    uint64_t size_ = 0;
    FileVersion version_;
    uint64_t directoryStart_ = 0, directoryEnd_ = 0;
};

// Reads one stored or deflate entry's data: ArchiveSource::readBlock's contract (blocks, then size 0
// at the end, after the CRC was checked). A reader can be restarted on another entry, reusing its
// buffers.
class EntryInflater : public EntryDataReader {
public:
    EntryInflater();
    ~EntryInflater() override;
    // dataOffset: where the entry's data starts when its local header was already read and checked;
    // 0 to read the local header first.
    void start(std::shared_ptr<ArchiveFile> file, const CentralEntry& entry, const AnsiString& name,
               uint64_t dataOffset = 0);
    int32_t readBlock(const void*& data, std::size_t& size) override;
    AnsiString lastMessage() const override { return message_; }

private:
    int32_t fail(int32_t code, AnsiString message);
    int32_t fill();  // reads the next piece of compressed data

    struct State;
    std::unique_ptr<State> state_;   // deflate only
    std::vector<unsigned char> input_, output_;
    std::shared_ptr<ArchiveFile> file_;
    // What the reader needs of the central entry.
    struct Data {
        uint16_t method = 0;
        uint32_t crc = 0;
        uint64_t compressedSize = 0, size = 0, localHeaderOffset = 0;
    } entry_;
    AnsiString name_;
    AnsiString message_;
    uint64_t dataOffset_ = 0;
    uint64_t knownDataOffset_ = 0;
    uint64_t inputLeft_ = 0;     // compressed bytes not yet read from the file
    uint64_t produced_ = 0;      // bytes handed out
    uint32_t crc_ = 0;
    bool started_ = false;       // the local header was read
    bool ended_ = false;         // all data handed out and checked
    int32_t failed_ = 0;         // a failure, repeated by later calls
};

// A ZIP archive read from the front: headers and other methods from libarchive (inner), the data of
// stored and deflate files decoded here. entries are the central directory's, in the order libarchive
// walks them (by local header offset); an entry is decoded here only while libarchive's header agrees
// with it (name, sizes, CRC).
class FastZipSource : public ArchiveSource {
public:
    FastZipSource(std::unique_ptr<ArchiveSource> inner, std::vector<CentralEntry> entries,
                  std::vector<AnsiString> names, std::shared_ptr<ArchiveFile> file);
    int32_t nextEntry(EntryInfo& entry) override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    bool fatal() const override { return !message_.empty() || (!fast_ && !refused_ && inner_->fatal()); }
    AnsiString lastMessage() const override {
        if (!message_.empty()) return message_;
        if (refused_) return refusal_;
        return fast_ ? inflater_->lastMessage() : inner_->lastMessage();
    }
    std::unique_ptr<EntryDataReader> takeDataReader() override;

private:
    std::unique_ptr<ArchiveSource> inner_;
    std::vector<CentralEntry> entries_;
    std::vector<AnsiString> names_;
    std::shared_ptr<ArchiveFile> file_;
    std::unique_ptr<EntryInflater> inflater_;
    std::size_t index_ = 0;   // the next entry's index in entries_
    AnsiString message_;      // why the walk ended early
    bool fast_ = false;       // the current entry's data is decoded here
    bool taken_ = false;      // its reader was handed out
    // The current entry's local header gives other sizes than its central entry: its data is refused.
    bool refused_ = false;
    AnsiString refusal_;
};

}  // namespace norvex::modules::zip
