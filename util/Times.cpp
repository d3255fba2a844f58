// Time conversions and date bounds.
#include "util/Times.h"

#include <cctype>

namespace norvex {

TDateTime FileTimeToCalendar(FILETIME ft, bool toLocal) {
    if (ft == 0) return 0;
    return FileTimeToDateTime(toLocal ? FileTimeToLocalFileTime(ft) : ft);
}

bool DosStampToFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME& ft) {
    if (dosDate == 0 && dosTime == 0) {
        ft = 0;
        return true;
    }
    const int year = 1980 + (dosDate >> 9);
    const int month = (dosDate >> 5) & 0x0F;
    const int day = dosDate & 0x1F;
    const int hour = dosTime >> 11;
    const int minute = (dosTime >> 5) & 0x3F;
    const int second = (dosTime & 0x1F) * 2;
    TDateTime local;
    if (!TryEncodeDateTime(year, month, day, hour, minute, second, 0, local)) return false;
    ft = LocalFileTimeToFileTime(DateTimeToFileTime(local));
    return true;
}

bool FileTimeToDosStamp(FILETIME ft, uint16_t& dosDate, uint16_t& dosTime) {
    int year, month, day, hour, minute, second, ms;
    DecodeDateTime(FileTimeToDateTime(FileTimeToLocalFileTime(ft)), year, month, day, hour, minute, second, ms);
    if (year < 1980 || year > 2107) return false;
    dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    dosTime = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    return true;
}

int TwoDigitYear(int year, int currentYear) {
    const int c = currentYear - 50;
    int full = year + (c / 100) * 100;
    if (full < c) full += 100;
    return full;
}

namespace {

int Digits(const AnsiString& s, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (s[i] - '0');
    return value;
}

}  // namespace

TDateTime ParseDateBound(const AnsiString& text, const AnsiString& defaultTime, int currentYear) {
    AnsiString s = text;
    if (s.size() > 1 && s[0] == 'l') s.erase(0, 1);
    const std::size_t n = s.size();
    if (n != 6 && n != 8 && n != 12 && n != 14) return 0;
    if (n == 6 || n == 8) s += defaultTime;
    const std::size_t yearDigits = (n == 6 || n == 12) ? 2 : 4;
    if (s.size() != yearDigits + 10) return 0;  // a default time that is not "hhnnss"
    for (const char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    int year = Digits(s, 0, yearDigits);
    if (yearDigits == 2) year = TwoDigitYear(year, currentYear);
    const std::size_t at = yearDigits;
    TDateTime dt;
    if (!TryEncodeDateTime(year, Digits(s, at, 2), Digits(s, at + 2, 2), Digits(s, at + 4, 2), Digits(s, at + 6, 2),
                           Digits(s, at + 8, 2), 0, dt))
        return 0;
    return dt;
}

TDateTime ParseDateBound(const AnsiString& text, const AnsiString& defaultTime) {
    return ParseDateBound(text, defaultTime, CurrentYear());
}

}  // namespace norvex
