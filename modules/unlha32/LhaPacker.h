// The LHA module's packing commands: "u" (add files, replacing older copies already in the archive)
// and "a" (add files, replacing any copy). The archive is written under a temporary name beside it
// and renamed into place only when complete, so a failure never loses the archive that was there.
#pragma once
#include <cstdint>

#include "modules/common/CommandLine.h"
#include "modules/common/SafeExtractor.h"
#include "modules/lzh/LzhEncoder.h"

namespace norvex::modules {

struct PackOptions {
    bool onlyNewer = true;                        // "u": keep an archived copy at least as new
    lzh::LzhMethod method = lzh::LzhMethod::Lh5;
};

// line.archive is the archive, line.destination the base folder, line.masks the files and folders
// to add (folders with their contents). An entry is named by its path relative to the base folder,
// or by its own name when it lies outside. Log lines (cp932, "\r\n" each) are appended to log.
int32_t PackFiles(const CommandLine& line, const PackOptions& options, const ProgressSink& sink, AnsiString& log);

}  // namespace norvex::modules
