// UNRAR32.DLL (prefix "Unrar"): RAR 4 and RAR 5 listing, testing and extraction over libarchive,
// split sets read as one archive from their first volume.
#include <cstdio>
#include <cstring>

#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "modules/unrar32/Rar4Names.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

class RarModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Rar; }

    bool signatureMatches(const AnsiString& path) const override {
        char head[7] = {};
        FILE* f = std::fopen(FromAnsi(path).c_str(), "rb");
        if (!f) return false;
        std::size_t n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        return (n == 7 && std::memcmp(head, "Rar!\x1a\x07", 6) == 0) || (n >= 2 && std::memcmp(head, "MZ", 2) == 0);
    }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        LibarchiveOptions options;
        options.formats = FormatRar;
        options.volumes = FindRarVolumes(path);
        rar::ReadRar4Names(options.volumes, options.overrides);
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code == ARC_OK) out = std::move(source);
        return code;
    }
};

RarModule g_rarModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(Unrar, ::norvex::modules::g_rarModule)
