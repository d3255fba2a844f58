// Filling the family's fixed records from an entry: sizes, DOS times, names and texts.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "modules/common/ArchiveSource.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

namespace {

uint32_t Saturate(int64_t v) {
    if (v < 0) return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

uint16_t Ratio(const EntryInfo& e) {
    if (e.size <= 0 || e.compressedSize < 0) return 0;
    long double r = static_cast<long double>(e.compressedSize) * 1000.0L / static_cast<long double>(e.size);
    return static_cast<uint16_t>(std::min<long double>(r, 0xFFFF));
}

}  // namespace

std::size_t CopyAnsiText(char* buffer, std::size_t bufferSize, std::string_view text) {
    if (bufferSize == 0) return 0;
    std::size_t n = text.size();
    if (n >= bufferSize) {  // cut at the last whole character that leaves room for the NUL
        n = 0;
        while (n < text.size()) {
            const std::size_t len = AnsiCharLength(text, n);
            if (n + len > bufferSize - 1) break;
            n += len;
        }
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

void CopyAnsiField(char* field, std::size_t fieldSize, std::string_view text) {
    if (fieldSize == 0) return;
    const std::size_t n = CopyAnsiText(field, fieldSize, text);
    std::memset(field + n, 0, fieldSize - n);
}

uint64_t UnixToFileTime(int64_t unixTime, int32_t nsec) {
    constexpr int64_t kEpochDiff = 11644473600LL;  // seconds from 1601 to 1970
    int64_t secs = unixTime + kEpochDiff;
    if (secs < 0) return 0;
    return static_cast<uint64_t>(secs) * 10000000ULL + static_cast<uint64_t>(std::max(nsec, 0) / 100);
}

std::string AttributeText(const EntryInfo& e) {
    std::string a = "-------";
    bool readOnly = e.hasMode ? (e.mode & 0200) == 0 : e.readOnly;
    if (readOnly) a[0] = 'r';
    if (e.type == EntryType::Directory) a[4] = 'd';
    else a[5] = 'a';
    if (e.type == EntryType::Symlink) a[6] = 'l';
    return a;
}

void FillEntryRecord(const EntryInfo& e, ArcEntryRecord& r, DosClock& clock) {
    std::memset(&r, 0, sizeof r);
    r.originalSize = Saturate(e.size);
    r.compressedSize = Saturate(e.compressedSize < 0 ? 0 : e.compressedSize);
    r.crc = e.crc;
    r.osType = e.osType;
    r.ratio = Ratio(e);
    clock.convert(e.hasMtime ? e.mtime : 0, r.dosDate, r.dosTime);
    CopyAnsiField(r.fileName, sizeof r.fileName, e.path);
    CopyAnsiField(r.attribute, sizeof r.attribute, AttributeText(e));
    CopyAnsiField(r.method, sizeof r.method, e.method);
}

void FillProgressRecord(const EntryInfo& e, const AnsiString& destPath, int64_t written, ArcProgressRecord& r,
                        DosClock& clock) {
    std::memset(&r, 0, sizeof r);
    EXTRACTINGINFOEX& i = r.info;
    i.fileSize = Saturate(e.size);
    i.writeSize = Saturate(written);
    CopyAnsiField(i.sourceFileName, sizeof i.sourceFileName, e.path);
    CopyAnsiField(i.destFileName, sizeof i.destFileName, destPath);
    i.compressedSize = Saturate(e.compressedSize < 0 ? 0 : e.compressedSize);
    i.crc = e.crc;
    i.osType = e.osType;
    i.ratio = Ratio(e);
    clock.convert(e.hasMtime ? e.mtime : 0, i.dosDate, i.dosTime);
    CopyAnsiField(i.attribute, sizeof i.attribute, AttributeText(e));
    CopyAnsiField(i.method, sizeof i.method, e.method);
    r.structSize = sizeof(ArcProgressRecord);
    r.fileSize64 = static_cast<uint64_t>(std::max<int64_t>(e.size, 0));
    r.writeSize64 = static_cast<uint64_t>(std::max<int64_t>(written, 0));
}

}  // namespace norvex::modules
