// UNLHA32.DLL for Linux (unlha32.so, prefix "Unlha"): LZH listing, testing and extraction over our
// own header reader, and packing ("u", "a") with our own encoder.
#include <fcntl.h>
#include <unistd.h>

#include "modules/common/ArchiverModule.h"
#include "modules/common/RegularFile.h"
#include "modules/lzh/LzhHeader.h"
#include "modules/unlha32/LhaPacker.h"
#include "modules/unlha32/LzhSource.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

bool WordIs(const AnsiString& word, const char* name) {
    const std::string_view w = !word.empty() && word[0] == '-' ? std::string_view(word).substr(1) : std::string_view(word);
    if (w.size() != std::char_traits<char>::length(name)) return false;
    for (std::size_t i = 0; i < w.size(); ++i)
        if ((w[i] | 0x20) != name[i]) return false;
    return true;
}

class LhaModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Lha; }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        std::unique_ptr<LzhSource> source;
        const int32_t code = LzhSource::Open(path, source);
        if (code != ARC_OK) return code;
        // The count lists an archive just before it is extracted: the extraction takes the headers
        // the listing read when the file has not changed since.
        if (std::shared_ptr<const LzhWalk> walk = walks_.find(source->version())) {
            source->replay(std::move(walk));
        } else if (context.listing) {
            source->record(walks_.kMaxEntries, [this, version = source->version()](std::shared_ptr<const LzhWalk> walk) {
                walks_.keep(version, std::move(walk));
            });
        }
        out = std::move(source);
        return ARC_OK;
    }

    bool signatureMatches(const AnsiString& path) const override {
        const int fd = OpenRegularFile(FromAnsi(path));
        if (fd < 0) return false;
        const off_t size = lseek(fd, 0, SEEK_END);
        uint64_t offset = 0;
        const bool found = size > 0 && lzh::FindFirstHeader(fd, static_cast<uint64_t>(size), offset);
        close(fd);
        return found;
    }

    int32_t otherCommand(const CommandLine& line, const ProgressSink& sink, AnsiString& log) override {
        PackOptions options;
        if (WordIs(line.word, "u")) {
            options.onlyNewer = true;
        } else if (WordIs(line.word, "a")) {
            options.onlyNewer = false;
        } else {
            return ARC_ERROR_COMMAND_NAME;
        }
        return PackFiles(line, options, sink, log);
    }

private:
    ParsedArchiveMemo<LzhWalk> walks_;
};

LhaModule g_module;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(Unlha, ::norvex::modules::g_module)
