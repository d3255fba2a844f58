// Filling the family's fixed records from an entry: sizes, DOS times, names and texts.
#include <algorithm>
#include <climits>
#include <cstdlib>
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

void CopyAnsiField(char* field, std::size_t fieldSize, std::string_view text) {
    if (fieldSize == 0) return;
    if (text.size() < fieldSize) {  // fits whole: no character to cut
        std::memcpy(field, text.data(), text.size());
        std::memset(field + text.size(), 0, fieldSize - text.size());
        return;
    }
    std::size_t n = 0;
    while (n < text.size()) {
        std::size_t len = AnsiCharLength(text, n);
        if (n + len > fieldSize - 1) break;
        n += len;
    }
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, fieldSize - n);
}

std::string TimeZoneSetting() {
    std::string zone;
    if (const char* tz = std::getenv("TZ")) zone.append("=").append(tz);
    return zone;
}

namespace {

void DosFields(int year, int month, int day, int hour, int minute, int second, uint16_t& dosDate, uint16_t& dosTime) {
    if (year < 1980) {
        dosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
        dosTime = 0;
        return;
    }
    const int y = std::min(year - 1980, 127);
    dosDate = static_cast<uint16_t>((y << 9) | (month << 5) | day);
    dosTime = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

// The UTC offset of one UTC day, when the whole day has one (no change of zone rules inside it): a
// listing converts thousands of times, most of them on few days, and localtime_r takes a lock and
// walks the zone's rules each time.
struct DayOffset {
    int64_t day = INT64_MIN;  // days since the epoch
    long offset = 0;
    std::string zone;
};

bool OffsetOfDay(int64_t day, long& offset) {
    thread_local DayOffset cached;
    const std::string zone = TimeZoneSetting();
    if (cached.day == day && cached.zone == zone) {
        offset = cached.offset;
        return true;
    }
    const time_t first = static_cast<time_t>(day * 86400), last = first + 86399;
    struct tm a {}, b {};
    if (!localtime_r(&first, &a) || !localtime_r(&last, &b) || a.tm_gmtoff != b.tm_gmtoff) return false;
    cached.day = day;
    cached.offset = a.tm_gmtoff;
    cached.zone = zone;
    offset = a.tm_gmtoff;
    return true;
}

}  // namespace

void UnixToDosTime(int64_t unixTime, uint16_t& dosDate, uint16_t& dosTime) {
    // Days and seconds of the day, rounded down for times before the epoch.
    int64_t day = unixTime / 86400;
    if (unixTime % 86400 < 0) --day;
    long offset = 0;
    if (unixTime > INT64_MIN / 2 && unixTime < INT64_MAX / 2 && OffsetOfDay(day, offset)) {
        const int64_t local = unixTime + offset;
        int64_t z = local / 86400;
        int64_t secs = local % 86400;
        if (secs < 0) secs += 86400, --z;
        // Civil date of a day count (proleptic Gregorian).
        z += 719468;
        const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
        const int64_t doe = z - era * 146097;
        const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const int64_t mp = (5 * doy + 2) / 153;
        const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
        DosFields(static_cast<int>(std::clamp<int64_t>(y, 0, 9999)), m, d, static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60), dosDate, dosTime);
        return;
    }
    time_t t = static_cast<time_t>(unixTime);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) {
        DosFields(0, 1, 1, 0, 0, 0, dosDate, dosTime);
        return;
    }
    DosFields(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, dosDate, dosTime);
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

void FillEntryRecord(const EntryInfo& e, ArcEntryRecord& r) {
    std::memset(&r, 0, sizeof r);
    r.originalSize = Saturate(e.size);
    r.compressedSize = Saturate(e.compressedSize < 0 ? 0 : e.compressedSize);
    r.crc = e.crc;
    r.osType = e.osType;
    r.ratio = Ratio(e);
    UnixToDosTime(e.hasMtime ? e.mtime : 0, r.dosDate, r.dosTime);
    CopyAnsiField(r.fileName, sizeof r.fileName, e.path);
    CopyAnsiField(r.attribute, sizeof r.attribute, AttributeText(e));
    CopyAnsiField(r.method, sizeof r.method, e.method);
}

void FillProgressRecord(const EntryInfo& e, const AnsiString& destPath, int64_t written, ArcProgressRecord& r) {
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
    UnixToDosTime(e.hasMtime ? e.mtime : 0, i.dosDate, i.dosTime);
    CopyAnsiField(i.attribute, sizeof i.attribute, AttributeText(e));
    CopyAnsiField(i.method, sizeof i.method, e.method);
    r.structSize = sizeof(ArcProgressRecord);
    r.fileSize64 = static_cast<uint64_t>(std::max<int64_t>(e.size, 0));
    r.writeSize64 = static_cast<uint64_t>(std::max<int64_t>(written, 0));
}

}  // namespace norvex::modules
