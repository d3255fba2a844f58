// Names on their way to a person: entry, archive and folder names reach the terminal of norvex-cli,
// the log pane and the questions only with their control characters escaped ("\x1b", "\u202e"), so
// that a name can neither drive a terminal, forge a log line nor reorder what is shown. The files on
// disk keep their real names; only what is shown changes.
#pragma once
#include <string>
#include <string_view>

#include "platform/AnsiString.h"

namespace norvex {

// True for a code point that must not be shown raw: C0 and C1 controls, DEL, the Unicode format
// controls (bidirectional embeddings, overrides and isolates, zero-width characters, the byte-order
// mark, tags, ...) and the line and paragraph separators.
bool IsHiddenControl(char32_t c);

// UTF-8 text with every such character escaped: "\xNN" below U+0080, "\uNNNN" (or "\UNNNNNNNN")
// above. With keepLayoutTab, the first tab of the text is kept when it directly follows "]" or a
// double quote: that is where the engine's own lines put theirs. With escapeInvalid, each byte that
// is not valid UTF-8 becomes "\xNN" too; without it such bytes are left for the front end, which
// knows how it shows them (the window reads them as cp932, the terminal gets them escaped).
std::string EscapeControlsUtf8(std::string_view utf8, bool keepLayoutTab = false, bool escapeInvalid = true);
// Only the bytes that are not valid UTF-8, as "\xNN": what norvex-cli does last before a terminal.
std::string EscapeInvalidUtf8(std::string_view bytes);

// The same on cp932 text, by whole characters: a trail byte is never taken for a control, and the
// characters that the codec carries for cp932 (a bidirectional override, say) are judged by what they
// carry. Raw bytes that are not UTF-8 stay as they are (see escapeInvalid above). Text without such
// characters comes back unchanged.
AnsiString ShownName(const AnsiString& name);
// A log line: as ShownName, but the engine's own layout tab stays (see EscapeControlsUtf8).
AnsiString ShownLogText(const AnsiString& text);

// The short way to UTF-8 for text that ShownName (keepLayoutTab false) or ShownLogText (true) gives
// back unchanged and whose UTF-8 is valid, told without converting twice: then appends FromAnsi(text)
// to out and returns true. Otherwise returns false and leaves out as it was: such text takes the long
// way (ShownName or ShownLogText, FromAnsi, EscapeInvalidUtf8).
bool AppendShownUtf8(std::string_view text, bool keepLayoutTab, std::string& out);

}  // namespace norvex
