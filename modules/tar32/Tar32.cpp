// TAR32.DLL (prefix "Tar"): tar, tar.gz and tar.bz2 listing, testing and extraction over libarchive,
// and GetArchiveType: 1 tar, 2 tar.gz, 3 tar.Z, 4 gz, 5 Z, 6 tar.bz2, 7 bz2, 8 another compressed
// tar (xz, lzma, zstd), 0 none of these.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "modules/common/RegularFile.h"
#include "modules/tar32/GzipCheck.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

// Entry data is handed over only once the whole gzip stream has been checked against its trailers,
// so no entry of a damaged .tar.gz is written and the archive is never disposed of. Listing and
// header tests read no data and stay as they were.
class GzipCheckedSource : public ArchiveSource {
public:
    GzipCheckedSource(std::unique_ptr<ArchiveSource> inner, std::string hostPath)
        : inner_(std::move(inner)), hostPath_(std::move(hostPath)) {}

    int32_t nextEntry(EntryInfo& entry) override { return inner_->nextEntry(entry); }
    int32_t readBlock(const void*& data, std::size_t& size) override {
        if (damaged()) {
            data = nullptr;
            size = 0;
            return ARC_FILE_CRC;
        }
        return inner_->readBlock(data, size);
    }
    bool fatal() const override { return checked_ && damaged_ ? true : inner_->fatal(); }
    AnsiString lastMessage() const override {
        if (checked_ && damaged_) return ToAnsi("gzip の CRC またはサイズが一致しません (書庫が壊れています)");
        return inner_->lastMessage();
    }
    std::unique_ptr<EntryDataReader> takeDataReader() override {
        return damaged() ? nullptr : inner_->takeDataReader();
    }

private:
    bool damaged() {
        if (!checked_) {
            damaged_ = CheckGzipStream(hostPath_) == GzipCheck::Damaged;
            checked_ = true;
        }
        return damaged_;
    }

    std::unique_ptr<ArchiveSource> inner_;
    std::string hostPath_;
    bool checked_ = false;
    bool damaged_ = false;
};

class TarModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Tar; }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        LibarchiveOptions options;
        options.formats = FormatTar;
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code == ARC_OK) out = std::make_unique<GzipCheckedSource>(std::move(source), FromAnsi(path));
        return code;
    }

    int32_t archiveType(const AnsiString& path) override {
        Utf8LocaleScope scope;
        const int fd = OpenRegularFile(FromAnsi(path));  // never a fifo or a device
        if (fd < 0) return 0;
        struct archive* a = archive_read_new();
        if (!a) {
            ::close(fd);
            return 0;
        }
        archive_read_support_format_tar(a);
        archive_read_support_format_raw(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_compress(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_lzma(a);
        archive_read_support_filter_zstd(a);
        int32_t type = 0;
        struct archive_entry* e = nullptr;
        if (archive_read_open_fd(a, fd, 64 * 1024) == ARCHIVE_OK &&
            archive_read_next_header(a, &e) >= ARCHIVE_WARN) {
            bool isTar = (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
            switch (archive_filter_code(a, 0)) {
            case ARCHIVE_FILTER_NONE: type = isTar ? 1 : 0; break;
            case ARCHIVE_FILTER_GZIP: type = isTar ? 2 : 4; break;
            case ARCHIVE_FILTER_COMPRESS: type = isTar ? 3 : 5; break;
            case ARCHIVE_FILTER_BZIP2: type = isTar ? 6 : 7; break;
            default: type = isTar ? 8 : 0; break;
            }
        }
        archive_read_free(a);
        ::close(fd);
        return type;
    }
};

TarModule g_tarModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(Tar, ::norvex::modules::g_tarModule)
