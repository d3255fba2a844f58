// UNZIP32.DLL (prefix "UnZip"): ZIP listing, testing and extraction. An archive of plain entries is
// walked from the central directory (ZipDirectSource); any other over libarchive, with the names'
// charset decided from our own reading of the central directory.
#include <algorithm>
#include <cstring>

#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "modules/common/ParsedArchiveMemo.h"
#include "modules/unzip32/ZipCentralDirectory.h"
#include "modules/unzip32/ZipDirectSource.h"
#include "modules/unzip32/ZipFastInflate.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

class ZipModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Zip; }

    bool signatureMatches(const AnsiString& path) const override {
        zip::CentralDirectory cd;
        return zip::ReadCentralDirectory(FromAnsi(path), cd);
    }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        const std::string hostPath = FromAnsi(path);
        std::shared_ptr<zip::ArchiveFile> file = zip::ArchiveFile::Open(hostPath);
        if (!file) return ARC_ERROR_NOT_ARC_FILE;
        // The count lists an archive just before it is extracted: the extraction takes the plan the
        // listing made when the file has not changed since.
        if (std::shared_ptr<const zip::DirectWalk> kept = walks_.find(file->version())) {
            file->setDirectory(kept->directoryStart, kept->directoryEnd);
            out = std::make_unique<zip::DirectZipSource>(std::move(kept), std::move(file));
            return ARC_OK;
        }
        zip::CentralDirectory cd;
        if (!zip::ReadCentralDirectory(file->fd(), file->size(), cd)) return ARC_ERROR_NOT_ARC_FILE;
        // Entries in the order of their local headers (the order libarchive walks them); most
        // archives list them in that order already.
        auto byOffset = [](const auto& a, const auto& b) { return a.localHeaderOffset < b.localHeaderOffset; };
        if (!std::is_sorted(cd.entries.begin(), cd.entries.end(), byOffset))
            std::stable_sort(cd.entries.begin(), cd.entries.end(), byOffset);
        std::vector<AnsiString> names;
        names.reserve(cd.entries.size());
        for (const zip::CentralEntry& e : cd.entries) names.push_back(zip::EntryName(e, cd.unflaggedNamesAreUtf8));
        file->setDirectory(cd.directoryStart, cd.directoryEnd);
        // An archive of plain entries whose local headers agree with the central directory is walked
        // without libarchive.
        std::vector<zip::DirectEntry> plan;
        if (zip::PlanDirectWalk(*file, cd, names, plan)) {
            auto walk = std::make_shared<zip::DirectWalk>();
            walk->directoryStart = cd.directoryStart;
            walk->directoryEnd = cd.directoryEnd;
            walk->entries = std::move(cd.entries);
            walk->plan = std::move(plan);
            if (context.listing && walk->plan.size() <= walks_.kMaxEntries) walks_.keep(file->version(), walk);
            out = std::make_unique<zip::DirectZipSource>(std::move(walk), std::move(file));
            return ARC_OK;
        }
        LibarchiveOptions options;
        options.formats = FormatZip;
        // libarchive looks for the end record only in the last few KiB: it is shown the archive up to
        // the end of that record, without the comment behind (up to 64 KiB).
        if (cd.endRecordEnd < file->size()) options.endOffset = cd.endRecordEnd;
        options.headerCharset = cd.unflaggedNamesAreUtf8 ? "UTF-8" : "CP932";
        options.overrides.reserve(cd.entries.size());
        for (std::size_t i = 0; i < cd.entries.size(); ++i) {
            const zip::CentralEntry& e = cd.entries[i];
            LibarchiveOptions::NameOverride o;
            o.name = names[i];
            o.size = static_cast<int64_t>(e.size);
            o.compressedSize = static_cast<int64_t>(e.compressedSize);
            o.crc = e.crc;
            o.method = zip::MethodName(e.method);
            // The target is in the charset of the entry's name; a writer that flags UTF-8 names may
            // leave an ASCII name unflagged, so in an archive with flagged names a UTF-8 target is
            // taken as UTF-8.
            bool multi = false;
            const bool utf8 = e.utf8Flag || cd.unflaggedNamesAreUtf8 ||
                              (cd.anyUtf8Flag && zip::IsValidUtf8(e.linkTarget, &multi) && multi);
            if (!e.linkTarget.empty()) o.linkTarget = utf8 ? ToAnsi(e.linkTarget) : AnsiString(e.linkTarget);
            options.overrides.push_back(std::move(o));
        }
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code != ARC_OK) return code;
        // Stored and deflate data is decoded by the module itself (ZipFastInflate); without a
        // descriptor of its own libarchive decodes everything.
        out = std::make_unique<zip::FastZipSource>(std::move(source), std::move(cd.entries), std::move(names),
                                                   std::move(file));
        return ARC_OK;
    }

private:
    ParsedArchiveMemo<zip::DirectWalk> walks_;
};

ZipModule g_zipModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(UnZip, ::norvex::modules::g_zipModule)

// The spellings the ZIP binding of the host looks up besides the family's own.
NORVEX_ARC_ENTRY int32_t UnZipGetOriginalSize(HARC h) { return ::norvex::modules::ModuleGetArcOriginalSize(h); }
NORVEX_ARC_ENTRY ARC_BOOL UnzipGetWriteTimeEx(HARC h, uint64_t* t) { return ::norvex::modules::ModuleGetTime(h, t, 0); }
