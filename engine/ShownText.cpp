// Escaping of control characters in names shown to a person.
#include "engine/ShownText.h"

#include <cstdio>
#include <iterator>

#include "platform/AnsiCodec.h"
#include "platform/AnsiScan.h"

namespace norvex {

namespace {

struct TRange {
    char32_t first, last;
};

// The format characters of Unicode (general category Cf), with the line and paragraph separators.
constexpr TRange kFormatControls[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};
static_assert(
    [] {
        for (std::size_t k = 1; k < std::size(kFormatControls); ++k)
            if (kFormatControls[k].first <= kFormatControls[k - 1].last) return false;
        return true;
    }(),
    "the format-control ranges are sorted and apart (IsHiddenControl stops at the first range above)");

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

// The length of the run of printable ASCII (never escaped, never part of another character) at i.
std::size_t PrintableAsciiRun(std::string_view s, std::size_t i) {
    std::size_t j = i;
    while (j < s.size() && static_cast<unsigned char>(s[j]) >= 0x20 && static_cast<unsigned char>(s[j]) < 0x7F) ++j;
    return j - i;
}

// True when the tabs of plain text all stay: there is none, or the one that EscapeControlsUtf8 keeps
// as the layout tab. In plain text every character but ASCII decodes to U+00A7 or above, so the UTF-8
// before a tab ends in "]" or a double quote exactly when the character before it is that ASCII
// character; a tab and a double quote are never trail bytes, "]" may be one.
bool TabsStay(std::string_view text, bool keepLayoutTab) {
    const std::size_t tab = text.find('\t');
    if (tab == std::string_view::npos) return true;
    if (!keepLayoutTab || tab == 0 || text.find('\t', tab + 1) != std::string_view::npos) return false;
    const char before = text[tab - 1];
    return before == '"' || (before == ']' && IsAnsiCharStart(text, tab - 1));
}

// Text that Shown gives back as it is, told without converting it. Plain cp932 text holds no carrier
// (which may carry a control) and no control but the tab, and none of the characters of cp932 itself
// is a hidden control (ShownTextTest checks every one): only the tabs are left to judge.
bool ShowsAsIs(std::string_view text, bool keepLayoutTab) {
    return TabsStay(text, keepLayoutTab) && IsPlainAnsi(text);
}

AnsiString Shown(const AnsiString& text, bool keepLayoutTab) {
    if (ShowsAsIs(text, keepLayoutTab)) return text;
    const std::string utf8 = FromAnsi(text);
    const std::string escaped = EscapeControlsUtf8(utf8, keepLayoutTab, /*escapeInvalid=*/false);
    if (escaped == utf8) return text;
    // Every character left is one the text already had (or plain ASCII): no new carrier is needed.
    AnsiString out;
    return TryToAnsi(escaped, out) ? out : text;
}

}  // namespace

bool IsHiddenControl(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    for (const TRange& r : kFormatControls) {
        if (c < r.first) return false;  // the ranges are in ascending order
        if (c <= r.last) return true;
    }
    return false;
}

std::string EscapeControlsUtf8(std::string_view utf8, bool keepLayoutTab, bool escapeInvalid) {
    std::string out;
    out.reserve(utf8.size());
    bool tabSeen = false;
    for (std::size_t i = 0; i < utf8.size();) {
        if (const std::size_t run = PrintableAsciiRun(utf8, i); run > 0) {
            out.append(utf8, i, run);
            i += run;
            continue;
        }
        char32_t c = 0;
        const std::size_t len = DecodeUtf8(utf8, i, c);
        if (len == 0) {
            if (escapeInvalid)
                AppendEscape(out, "\\x%02x", static_cast<unsigned char>(utf8[i]));
            else
                out += utf8[i];
            ++i;
            continue;
        }
        if (c == '\t' && keepLayoutTab && !tabSeen && !out.empty() && (out.back() == ']' || out.back() == '"')) {
            tabSeen = true;
            out += '\t';
        } else if (!IsHiddenControl(c)) {
            out.append(utf8, i, len);
        } else if (c < 0x80) {
            AppendEscape(out, "\\x%02x", static_cast<unsigned>(c));
        } else if (c <= 0xFFFF) {
            AppendEscape(out, "\\u%04x", static_cast<unsigned>(c));
        } else {
            AppendEscape(out, "\\U%08x", static_cast<unsigned>(c));
        }
        if (c == '\t') tabSeen = true;
        i += len;
    }
    return out;
}

std::string EscapeInvalidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        if (const std::size_t run = PrintableAsciiRun(bytes, i); run > 0) {
            out.append(bytes, i, run);
            i += run;
            continue;
        }
        char32_t c = 0;
        const std::size_t len = DecodeUtf8(bytes, i, c);
        if (len == 0) {
            AppendEscape(out, "\\x%02x", static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            out.append(bytes, i, len);
            i += len;
        }
    }
    return out;
}

bool AppendShownUtf8(std::string_view text, bool keepLayoutTab, std::string& out) {
    return TabsStay(text, keepLayoutTab) && AppendPlainFromAnsi(text, out);
}

AnsiString ShownName(const AnsiString& name) { return Shown(name, false); }

AnsiString ShownLogText(const AnsiString& text) { return Shown(text, true); }

}  // namespace norvex
