// CAB32.DLL (prefix "Cab"): cabinet listing, testing and extraction over libarchive.
#include <cstdio>
#include <cstring>

#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

class CabModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Cab; }

    bool signatureMatches(const AnsiString& path) const override {
        char head[4] = {};
        FILE* f = std::fopen(FromAnsi(path).c_str(), "rb");
        if (!f) return false;
        std::size_t n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        // A cabinet starts with "MSCF"; a self-extracting one with an executable stub.
        return n == 4 && (std::memcmp(head, "MSCF", 4) == 0 || std::memcmp(head, "MZ", 2) == 0);
    }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        LibarchiveOptions options;
        options.formats = FormatCab;
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code == ARC_OK) out = std::move(source);
        return code;
    }
};

CabModule g_cabModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(Cab, ::norvex::modules::g_cabModule)
