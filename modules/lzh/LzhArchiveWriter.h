// Writes LZH archives entry by entry: files compressed by our encoder (stored as -lh0- when that
// would not make them smaller), directories, and entries copied unchanged from another archive
// (for updating). Level-2 headers throughout. Streaming: each file is read in chunks, its header
// written first with provisional sizes and rewritten in place when the data is done.
#pragma once
#include <cstdint>
#include <functional>

#include "modules/lzh/LzhEncoder.h"
#include "modules/lzh/LzhHeader.h"
#include "platform/AnsiString.h"

namespace norvex::lzh {

enum class WriteStatus {
    Ok,
    ReadError,    // the source file could not be read
    WriteError,   // the archive could not be written (disk full, ...)
    Cancelled,    // the progress callback asked to stop
    TooLarge,     // an entry of 4 GiB or more: level-2 headers hold 32-bit sizes
    NameTooLong,  // the header would pass 64 KiB
};

// The largest file an entry can hold: level-2 headers record 32-bit sizes.
inline constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFull;

struct EntryMeta {
    AnsiString path;      // cp932, "\\" or "/" separated, relative
    int64_t mtime = 0;    // seconds since the epoch
    uint16_t mode = 0644; // Unix permission bits
};

class LzhArchiveWriter {
public:
    // Bytes of the current entry read so far; returning false cancels.
    using Progress = std::function<bool(uint64_t done)>;

    // Writes to fd (open for writing, positioned anywhere: the writer uses its own offsets starting
    // at 0). allowStored = false keeps compressed data even when it is larger (for tests).
    explicit LzhArchiveWriter(int fd, LzhMethod method = LzhMethod::Lh5, int level = kDefaultLevel,
                              bool allowStored = true);

    WriteStatus AddFile(const EntryMeta& meta, int inFd, const Progress& progress = {});
    WriteStatus AddDirectory(const EntryMeta& meta);
    // Copies an entry's header and data unchanged from the archive open at srcFd.
    WriteStatus CopyEntry(int srcFd, const LzhEntryHeader& header);
    // Writes the end-of-archive mark and cuts the file there.
    WriteStatus Finish();

    uint64_t size() const { return pos_; }

private:
    bool WriteAt(uint64_t offset, const void* data, std::size_t n);
    WriteStatus StoreFile(const EntryMeta& meta, int inFd, uint64_t headerPos, std::size_t headerLen,
                          const Progress& progress);

    int fd_;
    LzhMethod method_;
    int level_;
    bool allowStored_;
    uint64_t pos_ = 0;
};

}  // namespace norvex::lzh
