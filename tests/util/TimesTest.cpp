// Time conversions and date bounds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/support/TimeZone.h"
#include "util/Times.h"

using namespace norvex;

using norvex::test::TZone;

namespace {


TDateTime At(int y, int mo, int d, int h, int mi, int s) {
    TDateTime dt = 0;
    EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, 0, dt));
    return dt;
}

}  // namespace

TEST(UtilTimes, TwoDigitYearWindow) {
    EXPECT_EQ(TwoDigitYear(99, 2005), 1999);
    EXPECT_EQ(TwoDigitYear(30, 2005), 2030);
    EXPECT_EQ(TwoDigitYear(55, 2005), 1955);  // the window's first year
    EXPECT_EQ(TwoDigitYear(54, 2005), 2054);
    EXPECT_EQ(TwoDigitYear(0, 2060), 2100);
    EXPECT_EQ(TwoDigitYear(10, 2060), 2010);
}

TEST(UtilTimes, DateBoundsByLength) {
    const int year = 2005;
    EXPECT_EQ(ParseDateBound("0301", LowerBoundTime, year), 0);
    EXPECT_EQ(ParseDateBound("", LowerBoundTime, year), 0);
    EXPECT_EQ(ParseDateBound(std::string(1, '\0'), LowerBoundTime, year), 0);  // not given
    EXPECT_DOUBLE_EQ(ParseDateBound("030115", LowerBoundTime, year), At(2003, 1, 15, 0, 0, 0));
    EXPECT_DOUBLE_EQ(ParseDateBound("030115", UpperBoundTime, year), At(2003, 1, 15, 23, 59, 59));
    EXPECT_DOUBLE_EQ(ParseDateBound("990115", LowerBoundTime, year), At(1999, 1, 15, 0, 0, 0));
    EXPECT_DOUBLE_EQ(ParseDateBound("19990115", UpperBoundTime, year), At(1999, 1, 15, 23, 59, 59));
    EXPECT_DOUBLE_EQ(ParseDateBound("030115123456", UpperBoundTime, year), At(2003, 1, 15, 12, 34, 56));
    EXPECT_DOUBLE_EQ(ParseDateBound("20030115123456", LowerBoundTime, year), At(2003, 1, 15, 12, 34, 56));
    // A leading "l" is dropped, but "l" alone is no bound.
    EXPECT_DOUBLE_EQ(ParseDateBound("l030115", LowerBoundTime, year), At(2003, 1, 15, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("l", LowerBoundTime, year), 0);
    // Dates that do not exist and text that is not digits give no bound instead of a wrong one.
    EXPECT_EQ(ParseDateBound("20030230", LowerBoundTime, year), 0);
    EXPECT_EQ(ParseDateBound("20031301", LowerBoundTime, year), 0);
    EXPECT_EQ(ParseDateBound("20030115246000", LowerBoundTime, year), 0);
    EXPECT_EQ(ParseDateBound("2003-1-5", LowerBoundTime, year), 0);
}

TEST(UtilTimes, DosStampIsLocalTime) {
    TZone tokyo("JST-9");
    FILETIME ft = 123;
    ASSERT_TRUE(DosStampToFileTime(0, 0, ft));
    EXPECT_EQ(ft, 0u);
    // 2003-01-15 09:30:20 in Tokyo is 00:30:20 UTC.
    const uint16_t date = ((2003 - 1980) << 9) | (1 << 5) | 15;
    const uint16_t time = (9 << 11) | (30 << 5) | (20 / 2);
    ASSERT_TRUE(DosStampToFileTime(date, time, ft));
    EXPECT_EQ(ft, FileTimeFromUnix(1'042'590'620));
    uint16_t d2 = 0, t2 = 0;
    ASSERT_TRUE(FileTimeToDosStamp(ft, d2, t2));
    EXPECT_EQ(d2, date);
    EXPECT_EQ(t2, time);
    // Month 0, month 13 and hour 24 are refused.
    EXPECT_FALSE(DosStampToFileTime((23 << 9) | (0 << 5) | 1, 0, ft));
    EXPECT_FALSE(DosStampToFileTime((23 << 9) | (13 << 5) | 1, 0, ft));
    EXPECT_FALSE(DosStampToFileTime((23 << 9) | (1 << 5) | 1, 24 << 11, ft));
}

TEST(UtilTimes, FileTimeToCalendarValue) {
    TZone tokyo("JST-9");
    EXPECT_EQ(FileTimeToCalendar(0, true), 0);
    EXPECT_EQ(FileTimeToCalendar(0, false), 0);
    const FILETIME ft = FileTimeFromUnix(1'042'590'620);  // 2003-01-15 00:30:20 UTC
    EXPECT_NEAR(FileTimeToCalendar(ft, false), At(2003, 1, 15, 0, 30, 20), 1e-9);
    EXPECT_NEAR(FileTimeToCalendar(ft, true), At(2003, 1, 15, 9, 30, 20), 1e-9);
}
