// Sets TZ for the length of one test and puts the old value back: local-time conversions are tested
// in a fixed zone whatever the machine's own.
#pragma once
#include <cstdlib>
#include <ctime>
#include <string>

namespace norvex::test {

class TZone {
public:
    explicit TZone(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TZone() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    TZone(const TZone&) = delete;
    TZone& operator=(const TZone&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace norvex::test
