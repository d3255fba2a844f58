// 7-ZIP32.DLL (prefix "SevenZip"): 7z listing, testing and extraction over libarchive, split sets
// (name.7z.001, name.7z.002, ...) read from their first part to their last.
#include <cstdio>
#include <cstring>

#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

using namespace norvex::literals;

constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

class SevenZipModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::SevenZip; }

    bool signatureMatches(const AnsiString& path) const override {
        unsigned char head[sizeof kSignature] = {};
        FILE* f = std::fopen(FromAnsi(path).c_str(), "rb");
        if (!f) return false;
        std::size_t n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        return n == sizeof head && std::memcmp(head, kSignature, sizeof head) == 0;
    }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        LibarchiveOptions options;
        options.formats = Format7z;
        // 7z stores its names in UTF-16; the charset is only a fallback libarchive never needs.
        options.headerCharset = "UTF-8";
        options.volumes = FindNumberedParts(path);
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code == ARC_OK) out = std::move(source);
        // libarchive refuses a file without the signature when opening it, not at its first header.
        if (code == ARC_ERROR_ARC_FILE_OPEN && !signatureMatches(path)) return ARC_ERROR_NOT_ARC_FILE;
        return code;
    }
};

SevenZipModule g_sevenZipModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(SevenZip, ::norvex::modules::g_sevenZipModule)
