// The log line for an entry that the file system refused, by the cause the module reported
// (ARC_CAUSE_* of archivers/ArchiverAbi.h): it says why, and names the entry.
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"

namespace norvex {

// "> [ 展開できません ] <cause>: <name>"; empty for a cause without a text (the module's own line
// is kept then).
AnsiString RefusalLine(int32_t cause, const AnsiString& name);

// The reason, in the words of the refusal lines, for a file-system failure (errno) that is the same
// whatever was being done: a read-only file system, an input/output error, a busy file, no
// descriptor left. Empty for any other errno: the caller says what it means in its own case.
AnsiString FileSystemFailureText(int err);

}  // namespace norvex
