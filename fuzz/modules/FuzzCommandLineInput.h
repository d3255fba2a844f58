// One fuzz input for the modules' command-line reader, shared by the libFuzzer target and the test
// that replays kept inputs. Layout: a byte of flags (bits 0-2: the switch dialect, bit 3: "[...]"
// sets in masks), then NUL-separated parts: a command line, a mask, and texts to match it against.
//
// What must hold: parsing takes anything; a parsed line written back with every token quoted (double
// quotes doubled, as the host's builder writes them) parses to the same parts; a flat extraction never keeps folders; the wildcard matcher agrees with a plain
// dynamic-programming matcher on "*" and "?".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modules/common/CommandLine.h"
#include "platform/AnsiCodec.h"

namespace norvex::fuzz {

inline constexpr std::size_t kCommandLineFuzzMaxInput = 4096;

namespace detail {

// Whole characters as the matcher sees them: ASCII folded, "\\" as "/".
inline std::vector<uint16_t> MatchUnits(std::string_view s) {
    std::vector<uint16_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = AnsiCharLength(s, i);
        if (n == 2) {
            out.push_back(static_cast<uint16_t>((static_cast<unsigned char>(s[i]) << 8) | static_cast<unsigned char>(s[i + 1])));
        } else {
            char c = s[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c == '\\') c = '/';
            out.push_back(static_cast<unsigned char>(c));
        }
        i += n;
    }
    return out;
}

inline bool ReferenceMatch(std::string_view pattern, std::string_view text) {
    const std::vector<uint16_t> p = MatchUnits(pattern), t = MatchUnits(text);
    // can[j]: the pattern so far matches the first j characters of the text.
    std::vector<char> can(t.size() + 1, 0), next(t.size() + 1, 0);
    can[0] = 1;
    for (uint16_t pc : p) {
        std::fill(next.begin(), next.end(), 0);
        for (std::size_t j = 0; j <= t.size(); ++j) {
            if (pc == '*') {
                if (can[j] || (j > 0 && next[j - 1])) next[j] = 1;
            } else if (j > 0 && can[j - 1] && (pc == '?' || pc == t[j - 1])) {
                next[j] = 1;
            }
        }
        can.swap(next);
    }
    return can[t.size()] != 0;
}

inline bool SameLine(const modules::CommandLine& a, const modules::CommandLine& b) {
    return a.word == b.word && a.kind == b.kind && a.switches == b.switches && a.archive == b.archive &&
           a.destination == b.destination && a.hasDestination == b.hasDestination && a.masks == b.masks;
}

}  // namespace detail

inline std::string RunCommandLineFuzzInput(const std::uint8_t* data, std::size_t size) {
    using namespace modules;
    if (size == 0 || size > kCommandLineFuzzMaxInput) return {};
    const auto dialect = static_cast<SwitchDialect>((data[0] & 7) % 5);
    const bool brackets = (data[0] & 8) != 0;
    std::vector<std::string> parts(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) parts.emplace_back();
        else parts.back() += static_cast<char>(data[i]);
    }

    CommandLine line;
    const int32_t code = ParseCommandLine(parts[0], line);
    const ExtractOptions options = InterpretSwitches(dialect, line);
    if (line.kind == CommandKind::ExtractFlat && options.useFolders) return "a flat extraction keeps folders";

    // Written back by the builder's quoting rule (every token quoted, double quotes doubled), the line
    // parses to the same parts, whatever bytes the tokens hold (tokens that name a response file are
    // not written back).
    if (code == 0 && !line.word.empty()) {
        std::vector<AnsiString> tokens;
        tokens.push_back(line.word);
        tokens.insert(tokens.end(), line.switches.begin(), line.switches.end());
        if (!line.archive.empty()) tokens.push_back(line.archive);
        if (line.hasDestination) tokens.push_back(line.destination);
        tokens.insert(tokens.end(), line.masks.begin(), line.masks.end());
        bool writable = true;
        std::string again;
        for (const AnsiString& t : tokens) {
            if (t.size() > 1 && t[0] == '@') writable = false;
            again += '"';
            for (char c : t) {
                if (c == '"') again += '"';
                again += c;
            }
            again += "\" ";
        }
        if (writable) {
            CommandLine reparsed;
            ParseCommandLine(again, reparsed);
            if (!detail::SameLine(line, reparsed)) return "a quoted line does not parse back to the same parts";
        }
    }

    if (parts.size() >= 2) {
        const std::string& mask = parts[1];
        MaskSet set({mask}, brackets);
        for (std::size_t k = 2; k < parts.size(); ++k) {
            set.matches(parts[k]);
            (void)EntryFileName(parts[k]);
            const bool got = WildcardMatch(mask, parts[k], brackets);
            if (!brackets && got != detail::ReferenceMatch(mask, parts[k]))
                return "the wildcard matcher disagrees with the reference on \"" + mask + "\" and \"" + parts[k] + "\"";
        }
    }
    return {};
}

}  // namespace norvex::fuzz
