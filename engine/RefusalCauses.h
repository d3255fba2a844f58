// The log line for an entry that the file system refused, by the cause the module reported
// (ARC_CAUSE_* of archivers/ArchiverAbi.h): it says why, and names the entry.
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"

namespace norvex {

// "> [ 展開できません ] <cause>: <name>"; empty for a cause without a text (the module's own line
// is kept then).
AnsiString RefusalLine(int32_t cause, const AnsiString& name);

}  // namespace norvex
