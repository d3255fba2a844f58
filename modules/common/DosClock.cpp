#include "modules/common/DosClock.h"

#include <algorithm>
#include <ctime>

#include "modules/common/ArchiveSource.h"

namespace norvex::modules {

namespace {

constexpr int64_t kDay = 86400;

// The proleptic Gregorian date of a count of days since 1970-01-01.
void CivilDate(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t ofEra = days - era * 146097;
    const int64_t yearOfEra = (ofEra - ofEra / 1460 + ofEra / 36524 - ofEra / 146096) / 365;
    const int64_t ofYear = ofEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t m = (5 * ofYear + 2) / 153;
    day = static_cast<int>(ofYear - (153 * m + 2) / 5 + 1);
    month = static_cast<int>(m < 10 ? m + 3 : m - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

// The DOS fields of a local date and time; 1980-01-01 00:00 for an earlier one, 2107 at the latest.
void Pack(int64_t year, int month, int day, int hour, int minute, int second, uint16_t& dosDate, uint16_t& dosTime) {
    if (year < 1980) {
        dosDate = (0 << 9) | (1 << 5) | 1;
        dosTime = 0;
        return;
    }
    const int y = static_cast<int>(std::min<int64_t>(year - 1980, 127));
    dosDate = static_cast<uint16_t>((y << 9) | (month << 5) | day);
    dosTime = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

}  // namespace

void UnixToDosTime(int64_t unixTime, uint16_t& dosDate, uint16_t& dosTime) {
    const time_t t = static_cast<time_t>(unixTime);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return Pack(0, 1, 1, 0, 0, 0, dosDate, dosTime);
    Pack(int64_t{tm.tm_year} + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, dosDate, dosTime);
}

void DosClock::convert(int64_t unixTime, uint16_t& dosDate, uint16_t& dosTime) {
    // Far outside what DOS times hold (1980 to 2107): the plain conversion gives its answer.
    if (unixTime < 0 || unixTime > (int64_t{1} << 40)) return UnixToDosTime(unixTime, dosDate, dosTime);
    const int64_t day = unixTime / kDay;
    if (day != day_) {
        const time_t first = static_cast<time_t>(day * kDay), last = first + kDay - 1;
        struct tm a {}, b {};
        day_ = day;
        steady_ = localtime_r(&first, &a) && localtime_r(&last, &b) && a.tm_gmtoff == b.tm_gmtoff;
        offset_ = a.tm_gmtoff;
    }
    if (!steady_) return UnixToDosTime(unixTime, dosDate, dosTime);
    const int64_t local = unixTime + offset_;
    const int64_t localDay = FloorDiv(local, kDay);
    const int64_t second = local - localDay * kDay;
    int64_t year = 0;
    int month = 0, dayOfMonth = 0;
    CivilDate(localDay, year, month, dayOfMonth);
    const int s = static_cast<int>(second);
    Pack(year, month, dayOfMonth, s / 3600, s / 60 % 60, s % 60, dosDate, dosTime);
}

}  // namespace norvex::modules
