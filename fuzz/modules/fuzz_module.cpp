// libFuzzer target of one archiver module, linked in statically: arbitrary bytes as an archive of its
// format, listed, checked, tested and extracted into a scratch folder that is wiped after each run.
// The build names the module with NVX_FUZZ_PREFIX (its entry prefix), NVX_FUZZ_EXT (the archive's
// extension) and NVX_FUZZ_SWITCHES (overwrite always, with folders, in its dialect).
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>

#include "fuzz/modules/FuzzArchiveInput.h"

#define NVX_CAT2(a, b) a##b
#define NVX_CAT(a, b) NVX_CAT2(a, b)
#define NVX_ENTRY(suffix) NVX_CAT(NVX_FUZZ_PREFIX, suffix)

extern "C" {
int32_t NVX_FUZZ_PREFIX(NvxWindow*, const char*, char*, uint32_t);
HARC NVX_ENTRY(OpenArchive)(NvxWindow*, const char*, uint32_t);
int32_t NVX_ENTRY(CloseArchive)(HARC);
int32_t NVX_ENTRY(FindFirst)(HARC, const char*, ArcEntryRecord*);
int32_t NVX_ENTRY(FindNext)(HARC, ArcEntryRecord*);
int32_t NVX_ENTRY(GetArcOriginalSize)(HARC);
ARC_BOOL NVX_ENTRY(CheckArchive)(const char*, int32_t);
ARC_BOOL NVX_ENTRY(GetOriginalSizeEx)(HARC, int64_t*);
ARC_BOOL NVX_ENTRY(GetWriteTimeEx)(HARC, uint64_t*);
}

namespace {

norvex::fuzz::ModuleEntries Entries() {
    norvex::fuzz::ModuleEntries m;
    m.command = &NVX_FUZZ_PREFIX;
    m.openArchive = &NVX_ENTRY(OpenArchive);
    m.closeArchive = &NVX_ENTRY(CloseArchive);
    m.findFirst = &NVX_ENTRY(FindFirst);
    m.findNext = &NVX_ENTRY(FindNext);
    m.getArcOriginalSize = &NVX_ENTRY(GetArcOriginalSize);
    m.checkArchive = &NVX_ENTRY(CheckArchive);
    m.getOriginalSizeEx = &NVX_ENTRY(GetOriginalSizeEx);
    m.getWriteTimeEx = &NVX_ENTRY(GetWriteTimeEx);
    m.extension = NVX_FUZZ_EXT;
    m.extractSwitches = NVX_FUZZ_SWITCHES;
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A mutated size field may ask for gigabytes: a write past this limit fails with EFBIG (a disk
    // full, as the module sees it) instead of filling the disk.
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {64u << 20, 64u << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer installs its own handler of SIGXFSZ after LLVMFuzzerInitialize: ignored again here,
    // so that a write past the limit fails as on a full disk.
    static const bool xfszIgnored = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)xfszIgnored;
    static const norvex::fuzz::ModuleEntries entries = Entries();
    static norvex::fuzz::ArchiveFuzzScratch scratch(&NVX_FUZZ_EXT[1]);
    const std::string problem = norvex::fuzz::RunArchiveFuzzInput(entries, scratch, data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_module: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
