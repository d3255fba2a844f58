// Log-pane line shapes.
#include "engine/EngineLog.h"

#include <cctype>

#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

// Position of the first "%src" in text, compared without letter case and only at character starts
// (a cp932 trail byte may look like "s", "r" or "c", but never like "%").
std::size_t FindSourcePlaceholder(const AnsiString& text) {
    static const char kWord[] = "%src";
    for (std::size_t i = 0; i < text.size(); i += AnsiCharLength(text, i)) {
        if (text.size() - i < 4) break;
        bool same = true;
        for (std::size_t k = 0; k < 4 && same; ++k)
            same = std::tolower(static_cast<unsigned char>(text[i + k])) == kWord[k];
        if (same) return i;
    }
    return AnsiString::npos;
}

}  // namespace

AnsiString FormatLogLine(int n, const AnsiString& text, const AnsiString& currentArchive) {
    using namespace norvex::literals;
    if (text == "***") return " " + AnsiString(44, '*');
    const AnsiString number = " " + std::to_string(n) + "| ";
    if (text == "---") {
        static const AnsiString kRule = " " + "──────────────────────"_ansi;
        return number + kRule;
    }
    // Names inside the text, and the archive name put in for "%src", never bring a control
    // character to the pane or the terminal.
    // The placeholder is looked for in the text as the engine wrote it, by its own characters.
    const std::size_t at = FindSourcePlaceholder(text);
    if (at == AnsiString::npos) return number + ShownLogText(text);
    return number + ShownLogText(text.substr(0, at)) + "\"" + ShownName(currentArchive) + "\"" +
           ShownLogText(text.substr(at + 4));
}

}  // namespace norvex
