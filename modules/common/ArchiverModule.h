// The shared body of every archiver module: a module describes its decoder and switch dialect in an
// ArchiverModule, and NORVEX_EXPORT_ARCHIVER_MODULE generates the family's C entries for its prefix.
//
//   class LhaModule : public norvex::modules::ArchiverModule { ... };
//   static LhaModule g_module;
//   NORVEX_EXPORT_ARCHIVER_MODULE(Unlha, g_module)
//
// exports Unlha, UnlhaOpenArchive, UnlhaCloseArchive, UnlhaFindFirst, UnlhaFindNext,
// UnlhaGetArcOriginalSize, UnlhaSetBackGroundMode, UnlhaGetBackGroundMode, UnlhaExtractMem,
// UnlhaCheckArchive, UnlhaSetOwnerWindowEx, UnlhaKillOwnerWindowEx, UnlhaGetWriteTimeEx,
// UnlhaGetCreateTimeEx, UnlhaGetAccessTimeEx, UnlhaGetOriginalSizeEx, UnlhaGetCompressedSizeEx,
// UnlhaGetArchiveType, UnlhaSetEnumMembersProc64, UnlhaClearEnumMembersProc64, UnlhaGetFileNameEx
// (the whole name of the entry last found, which the record may cut) and UnlhaListNames (every name
// and size of a listing in one call). Everything else in a
// module stays hidden (build with -fvisibility=hidden; ARC_EXPORT marks the entries).
//
// The command entry: the line is parsed (CommandLine.h); extraction and test commands run here over
// the module's ArchiveSource (masks, SafeExtractor, progress, cancel, result); any other command word
// goes to ArchiverModule::otherCommand. The output buffer receives the Japanese log text (cp932,
// NUL-terminated, cut to fit). A module given no window uses the one of SetOwnerWindowEx, if any.
#pragma once
#include <cstdint>
#include <memory>

#include "archivers/ArchiverAbi.h"
#include "modules/common/ArchiveSource.h"
#include "modules/common/CommandLine.h"
#include "modules/common/SafeExtractor.h"

namespace norvex::modules {

class ArchiverModule {
public:
    virtual ~ArchiverModule() = default;

    virtual SwitchDialect dialect() const = 0;

    // Opens the archive at path (cp932; the first volume of a set) for reading from the front.
    // ARC_OK, ARC_ERROR_NOT_FIND_ARC_FILE (missing), ARC_ERROR_ARC_FILE_OPEN, ARC_ERROR_NOT_ARC_FILE.
    virtual int32_t openSource(const AnsiString& path, const SourceContext& context,
                               std::unique_ptr<ArchiveSource>& out) = 0;

    // A quick look at the file's first bytes: false when it cannot be this module's format. Used by
    // CheckArchive before any header is read. The default answers true.
    virtual bool signatureMatches(const AnsiString& path) const;

    // Commands other than extraction and test (the LHA module's "u"). Lines for the caller's output
    // text go to log (cp932, "\r\n" after each). The default answers ARC_ERROR_COMMAND_NAME.
    virtual int32_t otherCommand(const CommandLine& line, const ProgressSink& sink, AnsiString& log);

    // GetArchiveType (the TAR module): the default answers 0 (unknown).
    virtual int32_t archiveType(const AnsiString& path);
};

// One process-wide state per module: the owner window of SetOwnerWindowEx, background mode, the
// member callback.
struct ModuleState {
    NvxWindow* ownerWindow = nullptr;
    ARCHIVERPROC ownerCallback = nullptr;
    ARC_BOOL background = 0;
    ARC_ENUM_MEMBERS_PROC enumProc = nullptr;
};

// The implementations behind the generated entries.
int32_t ModuleCommand(ArchiverModule& m, ModuleState& s, NvxWindow* window, const char* cmdLine,
                      char* output, uint32_t outputSize);
HARC ModuleOpenArchive(ArchiverModule& m, ModuleState& s, NvxWindow* window, const char* path, uint32_t mode);
int32_t ModuleCloseArchive(HARC harc);
int32_t ModuleFindFirst(HARC harc, const char* wildName, ArcEntryRecord* entry);
int32_t ModuleFindNext(HARC harc, ArcEntryRecord* entry);
int32_t ModuleListNames(HARC harc, const char* wildName, ARC_NAME_AND_SIZE_PROC proc, void* context);
int32_t ModuleGetArcOriginalSize(HARC harc);
ARC_BOOL ModuleCheckArchive(ArchiverModule& m, ModuleState& s, const char* path, int32_t mode);
ARC_BOOL ModuleGetTime(HARC harc, uint64_t* fileTime, int which /* 0 write, 1 create, 2 access */);
ARC_BOOL ModuleGetSize(HARC harc, int64_t* size, bool compressed);
int32_t ModuleGetFileName(HARC harc, char* buffer, uint32_t size);
int32_t ModuleArchiveType(ArchiverModule& m, const char* path);

}  // namespace norvex::modules

#define NORVEX_ARC_ENTRY extern "C" ARC_EXPORT

// Generates the family's entries for PREFIX over the ArchiverModule object MODULE.
#define NORVEX_EXPORT_ARCHIVER_MODULE(PREFIX, MODULE)                                                  \
    namespace {                                                                                        \
    ::norvex::modules::ModuleState g_nvxModuleState;                                                   \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX(NvxWindow* w, const char* c, char* o, uint32_t n) {                \
        return ::norvex::modules::ModuleCommand(MODULE, g_nvxModuleState, w, c, o, n);                 \
    }                                                                                                  \
    NORVEX_ARC_ENTRY HARC PREFIX##OpenArchive(NvxWindow* w, const char* p, uint32_t m) {               \
        return ::norvex::modules::ModuleOpenArchive(MODULE, g_nvxModuleState, w, p, m);                \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX##CloseArchive(HARC h) { return ::norvex::modules::ModuleCloseArchive(h); } \
    NORVEX_ARC_ENTRY int32_t PREFIX##FindFirst(HARC h, const char* w, ArcEntryRecord* e) {             \
        return ::norvex::modules::ModuleFindFirst(h, w, e);                                            \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX##FindNext(HARC h, ArcEntryRecord* e) {                             \
        return ::norvex::modules::ModuleFindNext(h, e);                                                \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX##GetArcOriginalSize(HARC h) {                                      \
        return ::norvex::modules::ModuleGetArcOriginalSize(h);                                         \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##SetBackGroundMode(ARC_BOOL b) {                                  \
        g_nvxModuleState.background = b;                                                               \
        return 1;                                                                                      \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##GetBackGroundMode(void) { return g_nvxModuleState.background; }  \
    NORVEX_ARC_ENTRY int32_t PREFIX##ExtractMem(NvxWindow*, const char*, void*, uint32_t, int64_t*,    \
                                               uint16_t*, uint32_t*) {                                 \
        return ARC_ERROR_NOT_SUPPORT;                                                                  \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##CheckArchive(const char* p, int32_t m) {                         \
        return ::norvex::modules::ModuleCheckArchive(MODULE, g_nvxModuleState, p, m);                  \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##SetOwnerWindowEx(NvxWindow* w, ARCHIVERPROC cb) {                \
        g_nvxModuleState.ownerWindow = w;                                                              \
        g_nvxModuleState.ownerCallback = cb;                                                           \
        return 1;                                                                                      \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##KillOwnerWindowEx(NvxWindow* w) {                                \
        if (!g_nvxModuleState.ownerWindow || g_nvxModuleState.ownerWindow != w) return 0;              \
        g_nvxModuleState.ownerWindow = nullptr;                                                        \
        g_nvxModuleState.ownerCallback = nullptr;                                                      \
        return 1;                                                                                      \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##GetWriteTimeEx(HARC h, uint64_t* t) {                            \
        return ::norvex::modules::ModuleGetTime(h, t, 0);                                              \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##GetCreateTimeEx(HARC h, uint64_t* t) {                           \
        return ::norvex::modules::ModuleGetTime(h, t, 1);                                              \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##GetAccessTimeEx(HARC h, uint64_t* t) {                           \
        return ::norvex::modules::ModuleGetTime(h, t, 2);                                              \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##GetOriginalSizeEx(HARC h, int64_t* s) {                          \
        return ::norvex::modules::ModuleGetSize(h, s, false);                                          \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##GetCompressedSizeEx(HARC h, int64_t* s) {                        \
        return ::norvex::modules::ModuleGetSize(h, s, true);                                           \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX##GetFileNameEx(HARC h, char* b, uint32_t n) {                      \
        return ::norvex::modules::ModuleGetFileName(h, b, n);                                          \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX##ListNames(HARC h, const char* w, ARC_NAME_AND_SIZE_PROC p, void* c) { \
        return ::norvex::modules::ModuleListNames(h, w, p, c);                                         \
    }                                                                                                  \
    NORVEX_ARC_ENTRY int32_t PREFIX##GetArchiveType(const char* p) {                                   \
        return ::norvex::modules::ModuleArchiveType(MODULE, p);                                        \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##SetEnumMembersProc64(ARC_ENUM_MEMBERS_PROC p, uint32_t size) {   \
        if (size != sizeof(ArcProgressRecord)) return 0;                                               \
        g_nvxModuleState.enumProc = p;                                                                 \
        return 1;                                                                                      \
    }                                                                                                  \
    NORVEX_ARC_ENTRY ARC_BOOL PREFIX##ClearEnumMembersProc64(void) {                                   \
        g_nvxModuleState.enumProc = nullptr;                                                           \
        return 1;                                                                                      \
    }
