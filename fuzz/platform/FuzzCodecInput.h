// One fuzz input for the codec, shared by the libFuzzer target and the test that replays kept inputs.
// The bytes are a name as Linux may hand it over (any bytes) and, read the other way, a cp932 text.
//
// What must hold: UTF-8 (valid or not) to cp932 and back gives the same bytes while the carrier
// table has room; the whole-character separator searches agree with a plain walk over the characters;
// cp932 to UTF-8 takes anything.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/AnsiCodec.h"

namespace norvex::fuzz {

inline constexpr std::size_t kCodecFuzzMaxInput = 4096;

inline std::string RunCodecFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size > kCodecFuzzMaxInput) return {};
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    AnsiString ansi;
    if (TryToAnsi(bytes, ansi)) {
        if (FromAnsi(ansi) != bytes) return "a name does not come back from cp932 unchanged";
        // Separators of the name stay separators, and no others appear.
        std::size_t hostSlashes = 0, ansiSlashes = 0;
        for (char c : bytes) hostSlashes += c == '/';
        for (std::size_t i = 0; i < ansi.size(); i += AnsiCharLength(ansi, i))
            ansiSlashes += AnsiCharLength(ansi, i) == 1 && ansi[i] == '/';
        if (hostSlashes != ansiSlashes) return "the conversion changed the number of separators";
    }

    // The same bytes as cp932: the searches by whole characters against a plain walk.
    (void)FromAnsi(bytes);
    std::size_t first = std::string_view::npos, last = std::string_view::npos, lastStart = std::string_view::npos;
    bool endsWithSeparator = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = AnsiCharLength(bytes, i);
        const bool sep = n == 1 && (bytes[i] == '/' || bytes[i] == '\\');
        if (sep) {
            if (first == std::string_view::npos) first = i;
            last = i;
        }
        lastStart = i;
        endsWithSeparator = sep;
        i += n;
    }
    (void)lastStart;
    if (AnsiFirstDelimiter(bytes, "/\\") != first) return "AnsiFirstDelimiter disagrees with the walk";
    if (AnsiLastDelimiter(bytes, "/\\") != last) return "AnsiLastDelimiter disagrees with the walk";
    if (AnsiEndsWithSeparator(bytes) != endsWithSeparator) return "AnsiEndsWithSeparator disagrees with the walk";
    if (first != std::string_view::npos && first + 1 <= bytes.size() &&
        AnsiFirstDelimiter(bytes, "/\\", first + 1) != std::string_view::npos &&
        AnsiFirstDelimiter(bytes, "/\\", first + 1) > last)
        return "AnsiFirstDelimiter from a position skips past the last separator";
    return {};
}

}  // namespace norvex::fuzz
