// CAB32.DLL (prefix "Cab"): cabinet listing, testing and extraction. Cabinets whose folders are all
// stored or MSZIP are read by the module itself (CabSource); LZX and Quantum folders, sets of
// cabinets and whatever our reader refuses go to libarchive.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modules/cab32/CabDirectory.h"
#include "modules/cab32/CabSource.h"
#include "modules/common/ArchiverModule.h"
#include "modules/common/LibarchiveSource.h"
#include "modules/common/RegularFile.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {
namespace {

// A cabinet header: "MSCF", four reserved zero bytes, and format version 1.3.
bool CabinetHeader(const unsigned char* at, std::size_t available) {
    return available >= 36 && at[24] == 3 && at[25] == 1;
}

// Where the cabinet starts: at 0, or behind a stub of up to 1 MiB; -1 when there is none.
int64_t Start(const AnsiString& path) {
    const int fd = OpenRegularFile(FromAnsi(path));
    if (fd < 0) return -1;
    const int64_t at = FindSignature(fd, std::string_view("MSCF\0\0\0\0", 8), CabinetHeader);
    ::close(fd);
    return at;
}

class CabModule : public ArchiverModule {
public:
    SwitchDialect dialect() const override { return SwitchDialect::Cab; }

    bool signatureMatches(const AnsiString& path) const override { return Start(path) >= 0; }

    int32_t openSource(const AnsiString& path, const SourceContext& context,
                       std::unique_ptr<ArchiveSource>& out) override {
        const int64_t start = Start(path);
        if (start >= 0 && OpenOwn(path, start, out)) return ARC_OK;
        LibarchiveOptions options;
        options.formats = FormatCab;
        // A self-extracting cabinet: the cabinet is read from where it starts behind the stub.
        options.startOffset = static_cast<uint64_t>(std::max<int64_t>(start, 0));
        std::unique_ptr<LibarchiveSource> source;
        int32_t code = LibarchiveSource::Open(path, options, context, source);
        if (code == ARC_OK) out = std::move(source);
        return code;
    }

private:
    // Our own reader, when the directory can be read and every folder is one it decodes.
    static bool OpenOwn(const AnsiString& path, int64_t start, std::unique_ptr<ArchiveSource>& out) {
        struct stat st {};
        const int fd = OpenRegularFile(FromAnsi(path), &st);
        if (fd < 0) return false;
        cab::CabDirectory directory;
        std::string why;
        if (!cab::ReadCabDirectory(fd, static_cast<uint64_t>(start), static_cast<uint64_t>(st.st_size), directory, why) ||
            !cab::OwnDecoderReads(directory)) {
            ::close(fd);
            return false;
        }
        out = std::make_unique<cab::CabSource>(fd, static_cast<uint64_t>(st.st_size), std::move(directory));
        return true;
    }
};

CabModule g_cabModule;

}  // namespace
}  // namespace norvex::modules

NORVEX_EXPORT_ARCHIVER_MODULE(Cab, ::norvex::modules::g_cabModule)
