// "日本語"_ansiOnce: a UTF-8 literal of the sources as cp932 text, like "..."_ansi, but converted on
// its first use only and kept for the life of the process. For the lines written for every archive
// (or more often), where a conversion on each use shows.
#pragma once
#include <algorithm>
#include <cstddef>
#include <string_view>

#include "platform/AnsiCodec.h"

namespace norvex {

// A string literal as a template argument: each literal gets its own converted text.
template <std::size_t N>
struct TSourceLiteral {
    char text[N];
    constexpr TSourceLiteral(const char (&s)[N]) { std::copy_n(s, N, text); }
    constexpr std::string_view view() const { return {text, N - 1}; }
};

namespace literals {

template <TSourceLiteral L>
const AnsiString& operator""_ansiOnce() {
    // Never destroyed: a worker may still write a line while the process ends.
    static const AnsiString& converted = *new AnsiString(ToAnsi(L.view()));
    return converted;
}

}  // namespace literals
}  // namespace norvex
