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

using namespace norvex::literals;

bool EndsWithRar(const AnsiString& path) {
    return path.size() >= 4 && path[path.size() - 4] == '.' && (path[path.size() - 3] | 0x20) == 'r' &&
           (path[path.size() - 2] | 0x20) == 'a' && (path[path.size() - 1] | 0x20) == 'r';
}

// A set is read in groups: a volume that starts with a new entry (rather than the rest of one from
// the volume before) starts a group, since libarchive ends its reading at a volume's end block
// unless an entry goes on. When the volumes found end with one that announces a next, the set is
// incomplete; that is known only when the later volumes could be looked for by name, that is, for
// a path that ends in ".rar" (a later volume "x.r00" opened alone is tested on its own).
void PlanVolumes(const AnsiString& path, LibarchiveOptions& options, const std::vector<rar::VolumeLayout>& layouts) {
    for (std::size_t i = 1; i < layouts.size(); ++i)
        if (!layouts[i].continues) options.groupStarts.push_back(i);
    const rar::VolumeLayout& last = layouts.back();
    if (EndsWithRar(path) && (last.goesOn || last.endSaysMore))
        options.missingVolume = "次の分割書庫が見つかりません: "_ansi + options.volumes.back();
}

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
        std::vector<rar::VolumeLayout> layouts;
        if (rar::ReadRar4Names(options.volumes, options.overrides, layouts)) PlanVolumes(path, options, layouts);
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
