// Extraction of one archive on every core. The walk over the archive stays on the calling thread;
// entries whose data the source can hand out apart from the walk (ArchiveSource::takeDataReader) are
// decoded and written by a pool of workers into files without names, up to a bounded number of
// entries ahead. Everything the host sees happens on the calling thread, entry by entry in archive
// order, exactly as in a one-thread extraction: the member callback, the overwrite question, the
// progress records (following the worker while the entry's turn lasts), the log lines and the naming
// of each file. A stop (the host's answer or a cancelled question) stops every worker and lets go of
// every file written ahead, so nothing partial is left.
#pragma once
#include <cstdint>

#include "modules/common/ArchiveSource.h"
#include "modules/common/CommandLine.h"
#include "modules/common/SafeExtractor.h"

namespace norvex::modules {

// Runs the walk of RunExtraction over source (opened, at its start) into extractor (opened).
// archive is the archive's name for the log. Returns ARC_OK when the walk ran to its end, or the
// code that stopped it (the extractor's result() tells the outcome).
int32_t ExtractInParallel(ArchiveSource& source, SafeExtractor& extractor, const MaskSet& masks,
                          const AnsiString& archive, unsigned workers);

// The number of workers worth starting on this machine (the cores this process may use); 1 means
// extract on the calling thread alone.
unsigned ExtractionWorkers();

}  // namespace norvex::modules
