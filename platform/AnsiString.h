// Text inside Norvex: every path, entry name, command line and log line is cp932 (Shift-JIS) bytes.
#pragma once
#include <string>

namespace norvex {

using AnsiString = std::string;

// The separator of the host's paths. Entry paths inside archives may use "/" or "\\".
inline constexpr char PathDelim = '/';

}  // namespace norvex
