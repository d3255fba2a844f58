// The shape of a log-pane line, shared by the main window and norvex-cli so that both number and
// print the engine's lines the same way.
#pragma once
#include "platform/AnsiString.h"

namespace norvex {

// The line that opens the log of each archive; the front end puts the archive's name for "%src".
inline constexpr char kArchiveHeading[] = ">>>> [ %src ]  --";

// The line that the log pane shows for text as line number n (n counts every appended text):
//  "***" gives " " and 44 asterisks (n is not shown); "---" gives " n|  " and 22 box-drawing
//  lines; the archive heading (kArchiveHeading, its "%src" in any letter case) gives " n| " and the
//  heading with the current archive name in double quotes for "%src"; any other text gives " n| " and
//  the text as it is. A "%src" anywhere else is text: most lines quote names (entries, folders,
//  volumes), and a name that holds "%src" must read as itself, not as the archive's name. Control
//  characters that names bring along are shown escaped (engine/ShownText.h); the engine's own layout
//  tab stays.
AnsiString FormatLogLine(int n, const AnsiString& text, const AnsiString& currentArchive);

// The same line as norvex-cli prints it: in UTF-8, with the bytes that are not UTF-8 escaped, that is
// EscapeInvalidUtf8(FromAnsi(FormatLogLine(...))). The usual line, whose pieces show as they are,
// is converted once, straight from the engine's text.
std::string TerminalLogLine(int n, const AnsiString& text, const AnsiString& currentArchive);

}  // namespace norvex
