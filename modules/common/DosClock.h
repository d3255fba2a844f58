// Local DOS dates and times of Unix times, for the records of one walk or one extraction: thousands of
// entries are converted, most of them on few days, and localtime_r takes a lock and walks the zone's
// rules each time. A clock looks up the UTC offset of each UTC day once (at the day's two ends) and
// converts the times of a day whose offset stays by arithmetic; a day whose offset changes goes
// through localtime_r time by time. The zone is the process's, as the clock first sees it for a day:
// a clock is made for one walk and not kept.
#pragma once
#include <climits>
#include <cstdint>

namespace norvex::modules {

class DosClock {
public:
    void convert(int64_t unixTime, uint16_t& dosDate, uint16_t& dosTime);

private:
    int64_t day_ = INT64_MIN;  // days since the epoch of what follows
    bool steady_ = false;      // the day has one offset:
    long offset_ = 0;          // this, in seconds east of UTC
};

}  // namespace norvex::modules
