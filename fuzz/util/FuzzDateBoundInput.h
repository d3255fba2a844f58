// One fuzz input for the date bounds of the pack-list builder, shared by the libFuzzer target and the
// test that replays kept inputs. Layout: two bytes of the current year (offset from 1900, up to 2199),
// then NUL-separated parts: the bound text and the default time.
//
// What must hold: a bound is 0 or a calendar value whose date and time are the digits given (the
// two-digit year through the 50-year window); the lower reading of a text (00:00:00) never lies after
// its upper reading (23:59:59); calendar values survive the trip through file times.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "util/Times.h"

namespace norvex::fuzz {

inline constexpr std::size_t kDateBoundFuzzMaxInput = 256;

inline std::string RunDateBoundFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > kDateBoundFuzzMaxInput) return {};
    const int currentYear = 1900 + (data[0] | (data[1] << 8)) % 300;
    std::vector<std::string> parts(1);
    for (std::size_t i = 2; i < size; ++i) {
        if (data[i] == 0) parts.emplace_back();
        else parts.back() += static_cast<char>(data[i]);
    }
    const AnsiString text = parts[0];
    const AnsiString defaultTime = parts.size() > 1 ? AnsiString(parts[1]) : AnsiString(LowerBoundTime);

    const TDateTime bound = ParseDateBound(text, defaultTime, currentYear);
    if (bound != 0) {
        // The digits the bound was made of.
        std::string s = text.size() > 1 && text[0] == 'l' ? text.substr(1) : text;
        if (s.size() == 6 || s.size() == 8) s += defaultTime;
        const std::size_t digits = s.size();  // yymmdd + hhnnss = 12, yyyymmdd + hhnnss = 14
        if (digits != 12 && digits != 14) return "a bound from a text of the wrong length";
        const std::size_t y = digits == 12 ? 2 : 4;
        auto num = [&](std::size_t at, std::size_t n) { return std::stoi(s.substr(at, n)); };
        int year = num(0, y);
        if (y == 2) year = TwoDigitYear(year, currentYear);
        int Y, M, D, h, m, sec, ms;
        DecodeDateTime(bound, Y, M, D, h, m, sec, ms);
        if (Y != year || M != num(y, 2) || D != num(y + 2, 2) || h != num(y + 4, 2) || m != num(y + 6, 2) ||
            sec != num(y + 8, 2) || ms != 0)
            return "a bound does not decode to the digits it was made of: " + text;
        if (y == 2 && (year < currentYear - 50 || year >= currentYear + 50))
            return "a two-digit year outside the 50-year window: " + text;
        // Through a file time and back, within a millisecond.
        if (year >= 1601) {
            const TDateTime back = FileTimeToDateTime(DateTimeToFileTime(bound));
            if (std::fabs(back - bound) > 1.0 / 86'400'000.0) return "a bound does not survive a file time";
        }
    }
    const TDateTime lower = ParseDateBound(text, LowerBoundTime, currentYear);
    const TDateTime upper = ParseDateBound(text, UpperBoundTime, currentYear);
    if ((lower == 0) != (upper == 0)) return "the lower and upper readings disagree on validity: " + text;
    if (lower > upper) return "the lower reading lies after the upper reading: " + text;
    return {};
}

}  // namespace norvex::fuzz
