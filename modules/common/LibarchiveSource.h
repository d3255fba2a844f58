// An ArchiveSource over libarchive: RAII handles, the cp932 header charset under a thread-local UTF-8
// locale (so libarchive hands over UTF-8 names, which the codec turns into cp932), passwords asked
// through the window, and libarchive's failures mapped to the family's codes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/common/ArchiveSource.h"

#include <archive.h>

namespace norvex::modules {

// Switches the calling thread to the C.UTF-8 locale for its lifetime (newlocale + uselocale) and
// back. libarchive converts header names into the current locale's charset, so every libarchive
// call that reads headers runs inside one of these.
class Utf8LocaleScope {
public:
    Utf8LocaleScope();
    ~Utf8LocaleScope();
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    void* previous_ = nullptr;
};

// Which readers libarchive enables.
enum ArchiveFormats : uint32_t {
    FormatZip = 1u << 0,   // the seekable reader (central directory)
    FormatCab = 1u << 1,
    FormatRar = 1u << 2,   // RAR 4 and RAR 5
    FormatTar = 1u << 3,   // with the gzip, bzip2, xz and compress filters
    FormatLha = 1u << 4,
    Format7z = 1u << 5,
};

struct LibarchiveOptions {
    uint32_t formats = 0;
    // The charset of names that carry no charset of their own (hdrcharset): "CP932" or "UTF-8".
    std::string headerCharset = "CP932";
    // Volumes read as one archive, in order (a split RAR set). Empty = the path given to Open alone.
    std::vector<AnsiString> volumes;
    // Where the archive starts in the first volume (behind a self-extracting stub); libarchive is
    // shown the volume from there on.
    uint64_t startOffset = 0;
    // Where the archive ends in the first volume (0 = at its end): what lies behind is not shown to
    // libarchive (a ZIP's archive comment, which its reader looks for the end record behind only
    // so far).
    uint64_t endOffset = 0;
    // Names for entries in order, overriding libarchive's (the ZIP module's own reading of the
    // central directory, the RAR module's of RAR 4 headers). Used only while the sizes of files agree
    // with libarchive's; an empty name keeps libarchive's name for that entry.
    struct NameOverride {
        AnsiString name;
        int64_t size;
        int64_t compressedSize;
        uint32_t crc;
        std::string method;
        // A symbolic link's target (cp932) as the module read it; empty = libarchive's.
        AnsiString linkTarget;
        // Check the data against crc ourselves (libarchive does not check every method's data).
        bool verifyCrc = false;
        // The data is encrypted (where libarchive does not see it).
        bool encrypted = false;
        // The entry repeats the data of the earlier entry of this name (cp932) and has none of its
        // own (a RAR 5 file copy); empty = none.
        AnsiString copyOf;
        // Set while a split entry's last part (whose header holds the whole file's CRC) is
        // still to come.
        bool splitOpen = false;
    };
    std::vector<NameOverride> overrides;
    // A split set whose volumes may end with whole entries: libarchive stops at the end block of a
    // volume unless an entry goes on, so the set is read as groups of volumes, each by a fresh
    // reader. The indexes (into volumes, ascending, the first 0) where a group starts. Empty = one
    // group. Whatever the groups, a reader that stops before the last volume of its group is a
    // failure, never the end of the archive.
    std::vector<std::size_t> groupStarts;
    // Set when the archive is known to end before it is complete (a later volume of the set is
    // missing, a volume is cut short): after the last entry that can be read, the archive ends with
    // ARC_ERROR_EOF and this message (cp932) instead of ARC_FIND_END.
    AnsiString incompleteEnd;
};

class LibarchiveSource : public ArchiveSource {
public:
    ~LibarchiveSource() override;
    // Opens path (cp932) with the given readers. ARC_OK, ARC_ERROR_ARC_FILE_OPEN (cannot open the
    // file), ARC_ERROR_NOT_ARC_FILE (no reader recognises it, found at the first nextEntry()).
    static int32_t Open(const AnsiString& path, const LibarchiveOptions& options,
                        const SourceContext& context, std::unique_ptr<LibarchiveSource>& out);

    int32_t nextEntry(EntryInfo& entry) override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    bool fatal() const override { return fatal_; }
    AnsiString lastMessage() const override { return message_; }

    // libarchive's name for the archive's format ("ZIP 2.0 (deflation)", "RAR5", ...), after the
    // first header.
    std::string formatName() const;
    // The archive's filter (gzip = 1, bzip2 = 2, ... as ARCHIVE_FILTER_*), after the first header.
    int filterCode() const;

private:
    LibarchiveSource() = default;
    // The failure code of libarchive's status, with message_ set to its reason (cp932).
    int32_t mapFailure(int status, bool header);
    // The code for libarchive's errno and error text.
    int32_t failureCode(int err, const std::string& text, bool header) const;
    // Opens a fresh reader over the volumes of group `group`.
    int32_t openGroup(std::size_t group);
    // A failure found by us rather than by libarchive: the archive cannot be read on.
    int32_t stop(int32_t code, AnsiString message);
    // readBlock() without the CRC check of verifyCrc.
    int32_t readRaw(const void*& data, std::size_t& size);
    // Tells the window of a plain tar that ended without its end mark (ARC_CAUSE_END_UNMARKED).
    void tellUnmarkedEnd();
    static const char* PassphraseCallback(struct archive*, void* self);

    // One volume as libarchive's client: read through our own descriptor and buffer, so that we know
    // which volume the reader is in.
    struct Volume {
        LibarchiveSource* owner = nullptr;
        std::size_t index = 0;
        std::string path;      // host (UTF-8)
        int fd = -1;
        off_t base = 0;        // where the archive starts in this file
        off_t end = -1;        // where it ends (-1 = at the file's end)
    };
    static int VolumeOpen(struct archive*, void* data);
    static la_ssize_t VolumeRead(struct archive*, void* data, const void** buffer);
    static la_int64_t VolumeSkip(struct archive*, void* data, la_int64_t request);
    static la_int64_t VolumeSeek(struct archive*, void* data, la_int64_t offset, int whence);
    static int VolumeClose(struct archive*, void* data);
    static int VolumeSwitch(struct archive*, void* from, void* to);

    struct ArchiveDeleter {
        void operator()(struct archive* a) const;
    };
    std::unique_ptr<struct archive, ArchiveDeleter> archive_;
    LibarchiveOptions options_;
    SourceContext context_;
    std::vector<std::unique_ptr<Volume>> volumes_;
    std::vector<std::size_t> groupStarts_;         // always starts with 0
    std::size_t group_ = 0;                        // the group being read
    std::size_t currentVolume_ = 0;                // the volume libarchive reads from
    std::unique_ptr<unsigned char[]> buffer_;      // the block handed to libarchive
    std::size_t entryIndex_ = 0;
    bool overridesValid_ = true;
    bool firstHeader_ = true;
    bool fatal_ = false;
    bool currentEncrypted_ = false;
    AnsiString currentName_;
    int64_t currentSize_ = 0;
    // The data of the current entry: position written so far, a block held back behind a hole.
    int64_t position_ = 0;
    const void* pendingData_ = nullptr;
    std::size_t pendingSize_ = 0;
    int64_t pendingOffset_ = 0;
    bool pendingEnd_ = false;
    int64_t endOffset_ = 0;                        // where the entry ends, once the reader said so
    bool sparseFormat_ = false;                    // the format has sparse entries (tar)
    int64_t mappedData_ = -1;                      // a sparse entry's data bytes as its map counts them
    int64_t dataRead_ = 0;                         // data bytes (not holes) the reader handed over
    bool verifyCrc_ = false;                       // the current entry's data is checked here
    uint32_t expectedCrc_ = 0, runningCrc_ = 0;
    AnsiString message_;
    std::string password_;
    std::string passwordUtf8_;  // the same text's UTF-8 bytes, still to try (see PassphraseCallback)
    int passwordAsks_ = 0;
};

// CRC32 (the ZIP and RAR polynomial) of data, continuing from crc (0 to start).
uint32_t Crc32(uint32_t crc, const void* data, std::size_t size);

// The first volume's name tells the later ones: "x.part1.rar" (any number of digits, the width
// kept) gives x.part2.rar, x.part3.rar ...; "x.rar" gives x.r00, x.r01 ... (then x.s00 ...). Only
// volumes that exist are listed; the first is always the given path.
std::vector<AnsiString> FindRarVolumes(const AnsiString& firstVolume);

// The parts of a set cut into numbered pieces: "x.7z.001" (any number of digits, the width kept)
// gives x.7z.002, x.7z.003 ... as long as they exist. Any other name is a set of its own alone.
std::vector<AnsiString> FindNumberedParts(const AnsiString& firstPart);

}  // namespace norvex::modules
