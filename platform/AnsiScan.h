// Looks at cp932 text that need no conversion: where whole characters start, and whether text is
// plain, that is, converts to valid UTF-8 free of controls without a look at the carrier table.
// Tested by tests/platform/AnsiScanTest.cpp.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/AnsiCodec.h"

namespace norvex {

// True when a whole character starts at s[p] (p < s.size()), as AnsiCharLength steps through s from
// the start. Any byte after a byte that is no lead byte starts a character (that byte was a character
// of its own or a trail byte), so only the run of lead bytes just before p counts: p starts a
// character when that run is even.
inline bool IsAnsiCharStart(std::string_view s, std::size_t p) {
    std::size_t leads = 0;
    while (leads < p && IsLeadByte(static_cast<unsigned char>(s[p - 1 - leads]))) ++leads;
    return leads % 2 == 0;
}

// Plain text holds only characters that cp932 itself assigns (no carrier, and no lead byte without
// its trail byte) and no control character other than the tab (no C0 control, no DEL, not the single
// byte 0x80, which is U+0080). Its UTF-8 is FromAnsi's and is valid.
bool IsPlainAnsi(std::string_view ansi);
// For plain text, appends FromAnsi(ansi) to out and returns true; otherwise returns false and leaves
// out as it was.
bool AppendPlainFromAnsi(std::string_view ansi, std::string& out);

}  // namespace norvex
