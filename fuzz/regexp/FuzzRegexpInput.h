// One fuzz input for the regular-expression engine, shared by the libFuzzer target and the test
// that replays kept inputs. Layout: a flags byte (bit 0: line feed ends a line, bit 1: fuzzy
// dictionary, bit 2: synonym dictionary), then the pattern, then up to four subjects, separated
// by NUL bytes. Inputs are capped so that slow-but-bounded patterns do not read as hangs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "regexp/bmRegExp.h"

namespace norvex {

inline constexpr std::size_t kRegexpFuzzMaxInput = 512;

inline void RunRegexpFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kRegexpFuzzMaxInput) return;
    const std::uint8_t flags = data[0];
    std::vector<std::string> parts(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 5)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    if (parts.size() == 1) parts.push_back(parts[0]);  // match the pattern against itself

    TAWKStr re;
    re.SetLineSeparator(flags & 1 ? mcls_LF : mcls_CRLF);
    try {
        if (flags & 2) re.SetUseFuzzyCharDic(true);
        if (flags & 4) re.SetUseSynonymDic(true);
        re.SetRegExp(parts[0]);
    } catch (const ERegExpParser&) {
        // A bad pattern leaves the empty one, which must still match.
    }
    for (std::size_t k = 1; k < parts.size(); ++k) {
        const std::string& subject = parts[k];
        int start = -1, length = -1;
        const int result = re.Match(subject, start, length);
        const int size = static_cast<int>(subject.size());
        if (result != start || start < 0 || length < 0 || (start == 0 && length != 0) ||
            (start > 0 && start - 1 + length > size))
            std::abort();
        // Setting the same pattern again hits the cache and must give the same answer.
        int again = -1, againLength = -1;
        try {
            re.SetRegExp(re.RegExp());
        } catch (const ERegExpParser&) {
            std::abort();
        }
        re.Match(subject, again, againLength);
        if (again != start || againLength != length) std::abort();
    }
}

}  // namespace norvex
