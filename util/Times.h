// Time conversions between the archivers' DOS stamps, file times and calendar values, and the date
// bounds of the pack options.
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"
#include "platform/FileSystem.h"

namespace norvex {

// 0 for a zero file time; otherwise the calendar value of ft, converted to local time when toLocal.
TDateTime FileTimeToCalendar(FILETIME ft, bool toLocal);
// A DOS stamp (date and time halves) read as local time, as a UTC file time. Both halves zero give a
// zero file time. False (ft untouched) when a field is out of range (month 0 or 13, hour 24, ...).
bool DosStampToFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME& ft);
// The reverse, for a UTC file time; false outside 1980-2107.
bool FileTimeToDosStamp(FILETIME ft, uint16_t& dosDate, uint16_t& dosTime);

// The two-digit year window of 50 years: with c = currentYear - 50, year + (c div 100) * 100, plus 100
// when that is below c. 99 seen in 2005 is 1999; 30 is 2030.
int TwoDigitYear(int year, int currentYear);

// The default times of the date bounds.
inline constexpr const char* LowerBoundTime = "000000";
inline constexpr const char* UpperBoundTime = "235959";

// A date bound as a local calendar value, or 0 for "no bound". A leading "l" is dropped when the text
// is longer than one character. Then by length: 6 (yymmdd) or 12 (yymmddhhnnss), with the two-digit
// year window; 8 (yyyymmdd) or 14 (yyyymmddhhnnss). Without a time part the time comes from
// defaultTime ("hhnnss"). Any other length, a character that is not a digit, or a date that does not
// exist also gives 0.
TDateTime ParseDateBound(const AnsiString& text, const AnsiString& defaultTime, int currentYear);
TDateTime ParseDateBound(const AnsiString& text, const AnsiString& defaultTime);

}  // namespace norvex
