// DOS times of the records are local times: a clock's conversion must agree with localtime_r in every
// zone, on the days the zone's offset changes too, and a new clock follows a change of TZ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "modules/common/DosClock.h"

using norvex::modules::DosClock;

namespace {

std::pair<uint16_t, uint16_t> Reference(int64_t unixTime) {
    const time_t t = static_cast<time_t>(unixTime);
    struct tm tm {};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) return {(1 << 5) | 1, 0};
    const int year = std::min(tm.tm_year - 80, 127);
    return {static_cast<uint16_t>((year << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday),
            static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2))};
}

::testing::AssertionResult Agrees(DosClock& clock, int64_t t) {
    uint16_t date = 0, time = 0;
    clock.convert(t, date, time);
    const auto [d, s] = Reference(t);
    if (date == d && time == s) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at " << t << ": " << date << " " << time << ", localtime_r " << d << " " << s;
}

struct ZoneScope {
    explicit ZoneScope(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        ::unsetenv("TZ");
        ::tzset();
    }
};

}  // namespace

TEST(DosTime, AgreesWithLocaltimeInEveryZoneAndAcrossItsChanges) {
    // Offsets of whole hours, half and three quarters of an hour, half-hour summer time, none.
    for (const char* zone : {"UTC", "Asia/Tokyo", "Europe/Berlin", "America/New_York", "America/St_Johns",
                             "Asia/Kathmandu", "Australia/Lord_Howe", "Pacific/Apia"}) {
        SCOPED_TRACE(zone);
        ZoneScope scope(zone);
        DosClock clock;
        std::mt19937_64 random(7);
        for (int i = 0; i < 20000; ++i) {
            const int64_t t = static_cast<int64_t>(random() % 4'300'000'000ull) - 300'000'000;
            ASSERT_TRUE(Agrees(clock, t));
        }
        // Every day from 1979 to 2040 whose offset changes: every 7 minutes and 13 seconds across it and
        // the days around it, in an order that moves back and forth between days.
        for (int64_t day = 3287; day < 25567; ++day) {
            const time_t a = static_cast<time_t>(day * 86400), b = a + 86399;
            struct tm ta {}, tb {};
            localtime_r(&a, &ta);
            localtime_r(&b, &tb);
            if (ta.tm_gmtoff == tb.tm_gmtoff) continue;
            for (int64_t t = (day - 1) * 86400; t < (day + 2) * 86400; t += 433) {
                ASSERT_TRUE(Agrees(clock, t));
                ASSERT_TRUE(Agrees(clock, day * 86400 + (t % 86400)));
            }
        }
        // The ends of the range DOS times hold, and far outside it.
        for (const int64_t t : {int64_t{-1}, int64_t{0}, int64_t{315532800}, int64_t{4354819199}, int64_t{4354819200},
                                int64_t{1} << 40, -(int64_t{1} << 40)})
            EXPECT_TRUE(Agrees(clock, t));
    }
}

TEST(DosTime, ANewClockFollowsAChangeOfZone) {
    const int64_t t = 1'700'000'000;  // 2023-11-14 22:13:20 UTC
    uint16_t utcDate = 0, utcTime = 0, tokyoDate = 0, tokyoTime = 0;
    {
        ZoneScope scope("UTC");
        DosClock clock;
        clock.convert(t, utcDate, utcTime);
    }
    {
        ZoneScope scope("Asia/Tokyo");
        DosClock clock;
        clock.convert(t, tokyoDate, tokyoTime);
        EXPECT_TRUE(Agrees(clock, t));
    }
    EXPECT_EQ(utcTime >> 11, 22);
    EXPECT_EQ(tokyoTime >> 11, 7);
    EXPECT_EQ((tokyoDate & 31) - (utcDate & 31), 1);
}
