// Which archiver module serves an accepted extension, and the line logged when that module is not
// ready. One table for the whole engine: the preparation of an archive refuses it with this line
// before anything opens it, so a valid archive whose module is missing is never taken for broken.
#pragma once
#include "platform/AnsiString.h"
#include "settings/SettingsBlock.h"

namespace norvex {

struct TFormatModule {
    const char* Extension;  // lower-cased, with its dot
    int Dll;                // index of the archiver DLL table
    const char* NotReady;   // the log line (UTF-8) when the module is not ready
};

// The row of an extension, or nullptr when no module check applies to it.
const TFormatModule* FormatModuleOf(const AnsiString& extension);

// The module of the extension was found by the DLL check (true when no check applies).
bool FormatModuleReady(const SettingsBlock& settings, const AnsiString& extension);

}  // namespace norvex
