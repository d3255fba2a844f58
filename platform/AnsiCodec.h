// The codec between the cp932 text of the core and the UTF-8 of Linux, and whole-character helpers.
//
// The conversion is lossless for every name a Linux file system can hold: characters that cp932
// lacks, and bytes that are not valid UTF-8, are carried as double-byte codes that cp932 leaves
// unassigned. Raw bytes have fixed carriers; other characters get one from a process-wide table on
// first sight. The codec lives in a shared library so that the host and the archiver modules, loaded
// into the same process, share that table.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/AnsiString.h"

namespace norvex {

// Raised by ToAnsi when a character needs a carrier and every carrier is taken. what() is UTF-8.
class ECodecTableFull : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 (possibly invalid) to cp932. Throws ECodecTableFull when the carrier table is full.
AnsiString ToAnsi(std::string_view utf8);
// As ToAnsi, but reports a full table by returning false (out then holds a partial result).
bool TryToAnsi(std::string_view utf8, AnsiString& out);
// cp932 to UTF-8. Carried characters come back as they went in; raw-byte carriers become the raw
// byte; bytes that are not cp932 (a lone lead byte, say) pass through as raw bytes.
std::string FromAnsi(std::string_view ansi);

// True when ansi holds a carrier (a character or a raw byte cp932 cannot hold, which means something
// only inside this process) or a lead byte without its trail: text that cannot be written out as cp932
// for another program to read.
bool HoldsCarrier(std::string_view ansi);

// How many carriers the process has handed out, and how many exist (for tests and diagnostics).
std::size_t CarriersInUse();
std::size_t CarrierCapacity();

// The cp932 lead-byte test: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the whole character that starts at s[i] (1 or 2; 1 for a lead byte at the end).
inline std::size_t AnsiCharLength(std::string_view s, std::size_t i) {
    return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// Index of the last whole character of s that is one of delims (single-byte delimiters only), or
// npos. A trail byte that equals a delimiter ("ソ" is 0x83 0x5C) is part of its character.
// One UTF-8 sequence at s[i]: its code point and length, or length 0 when s[i] does not start a
// valid, shortest-form sequence of a scalar value (overlong forms and surrogates are not).
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& c);

std::size_t AnsiLastDelimiter(std::string_view s, std::string_view delims);
// First such index at or after from, or npos.
std::size_t AnsiFirstDelimiter(std::string_view s, std::string_view delims, std::size_t from = 0);
// True when the last whole character of s is "/" or "\\".
bool AnsiEndsWithSeparator(std::string_view s);

namespace literals {
// "日本語"_ansi: a UTF-8 literal of the sources as cp932 text.
inline AnsiString operator""_ansi(const char* s, std::size_t n) { return ToAnsi(std::string_view(s, n)); }
}  // namespace literals

}  // namespace norvex
