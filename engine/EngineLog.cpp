// Log-pane line shapes.
#include "engine/EngineLog.h"

#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

// Position of "%src" when text is the archive heading (the placeholder in any letter case), else
// npos. Only the heading has a placeholder: every other line may quote names, which are text.
std::size_t FindSourcePlaceholder(std::string_view text) {
    const std::string_view heading = kArchiveHeading;
    const std::size_t at = heading.find('%');
    if (text.size() != heading.size() || text.substr(0, at) != heading.substr(0, at) ||
        text.substr(at + 4) != heading.substr(at + 4))
        return AnsiString::npos;
    const auto is = [](char c, char lower) { return (c | 0x20) == lower; };  // an ASCII letter, either case
    return is(text[at + 1], 's') && is(text[at + 2], 'r') && is(text[at + 3], 'c') ? at : AnsiString::npos;
}

// " n| ", the head of a numbered line (built by appending: GCC 12 warns falsely about "..." + string).
std::string NumberHead(int n) {
    std::string head = " ";
    head += std::to_string(n);
    head += "| ";
    return head;
}

}  // namespace

AnsiString FormatLogLine(int n, const AnsiString& text, const AnsiString& currentArchive) {
    using namespace norvex::literals;
    if (text == "***") return " " + AnsiString(44, '*');
    const AnsiString number = NumberHead(n);
    if (text == "---") {
        static const AnsiString kRule = " ──────────────────────"_ansi;
        return number + kRule;
    }
    // Names inside the text, and the archive name put in for "%src", never bring a control
    // character to the pane or the terminal.
    const std::size_t at = FindSourcePlaceholder(text);
    if (at == AnsiString::npos) return number + ShownLogText(text);
    return number + ShownLogText(text.substr(0, at)) + "\"" + ShownName(currentArchive) + "\"" +
           ShownLogText(text.substr(at + 4));
}

std::string TerminalLogLine(int n, const AnsiString& text, const AnsiString& currentArchive) {
    if (text != "***" && text != "---") {
        std::string line = NumberHead(n);
        const std::string_view whole(text);
        const std::size_t at = FindSourcePlaceholder(whole);
        if (at == AnsiString::npos) {
            if (AppendShownUtf8(whole, true, line)) return line;
        } else if (AppendShownUtf8(whole.substr(0, at), true, line)) {
            line += '"';
            if (AppendShownUtf8(currentArchive, false, line)) {
                line += '"';
                if (AppendShownUtf8(whole.substr(at + 4), true, line)) return line;
            }
        }
    }
    return EscapeInvalidUtf8(FromAnsi(FormatLogLine(n, text, currentArchive)));
}

}  // namespace norvex
