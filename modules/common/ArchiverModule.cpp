// The family's entries over an ArchiverModule: the command function, the listing handle, the
// archive check.
#include "modules/common/ArchiverModule.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <sys/stat.h>

#include "modules/common/ParallelExtraction.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

bool ArchiverModule::signatureMatches(const AnsiString&) const { return true; }

int32_t ArchiverModule::otherCommand(const CommandLine&, const ProgressSink&, AnsiString& log) {
    AppendOutputLine(log, "> 対応していないコマンドです"_ansi);
    return ARC_ERROR_COMMAND_NAME;
}

int32_t ArchiverModule::archiveType(const AnsiString&) { return 0; }

namespace {

// The output buffer is text up to its NUL: the rest of it (often many KiB) is not cleared.
void CopyOutput(const AnsiString& text, char* output, uint32_t outputSize) {
    if (!output || outputSize == 0) return;
    CopyAnsiText(output, outputSize, text);
}

bool IsRegularFile(const AnsiString& path) {
    struct stat st {};
    return ::stat(FromAnsi(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int32_t RunExtraction(ArchiverModule& m, const CommandLine& line, const ProgressSink& sink, bool testOnly,
                      AnsiString& log) {
    if (line.archive.empty()) {
        log += "> 書庫が指定されていません\r\n"_ansi;
        return ARC_ERROR_NOT_FIND_ARC_FILE;
    }
    if (!IsRegularFile(line.archive)) {
        AppendOutputLine(log, "> 書庫が見つかりません: "_ansi + line.archive);
        return ARC_ERROR_NOT_FIND_ARC_FILE;
    }
    ExtractOptions options = InterpretSwitches(m.dialect(), line);
    MaskSet masks(line.masks, m.dialect() == SwitchDialect::Zip);
    std::unique_ptr<ArchiveSource> source;
    int32_t code = m.openSource(line.archive, SourceContext{sink.window}, source);
    if (code != ARC_OK) {
        AppendOutputLine(log, "> 書庫を開けません: "_ansi + line.archive);
        return code;
    }
    SafeExtractor extractor(sink, line.destination, options);
    if (!testOnly && (code = extractor.open()) != ARC_OK) {
        log += extractor.log();
        return code;
    }
    // Extraction uses every core when the source can hand out entries' data (ParallelExtraction).
    unsigned workers = testOnly ? 1 : ExtractionWorkers();
    bool first = true;
    for (;;) {
        if (workers > 1) {
            ExtractInParallel(*source, extractor, masks, line.archive, workers);
            break;
        }
        EntryInfo entry;
        code = source->nextEntry(entry);
        if (code == ARC_FIND_END) break;
        if (code != ARC_OK) {
            AnsiString why = source->lastMessage();
            extractor.fail(code, (first ? "> 書庫ではありません: "_ansi : "> 書庫が壊れています: "_ansi) + line.archive +
                                     (why.empty() ? AnsiString() : " (" + why + ")"));
            break;
        }
        first = false;
        if (!masks.matches(entry.path)) continue;
        code = testOnly ? extractor.test(entry, *source) : extractor.extract(entry, *source);
        if (code == ARC_ERROR_USER_CANCEL) break;
        if (code != ARC_OK && source->fatal()) break;
    }
    int32_t result = extractor.finish();
    log += extractor.log();
    if (result == ARC_ERROR_USER_CANCEL) log += "> 中止しました\r\n"_ansi;
    return result;
}

int32_t RunList(ArchiverModule& m, const CommandLine& line, const ProgressSink& sink, AnsiString& log) {
    std::unique_ptr<ArchiveSource> source;
    if (!IsRegularFile(line.archive)) return ARC_ERROR_NOT_FIND_ARC_FILE;
    int32_t code = m.openSource(line.archive, SourceContext{sink.window}, source);
    if (code != ARC_OK) return code;
    for (;;) {
        EntryInfo entry;
        code = source->nextEntry(entry);
        if (code == ARC_FIND_END) return ARC_OK;
        if (code != ARC_OK) return code;
        log += entry.path + "\r\n";
    }
}

// The state behind an HARC: a source read from the front, restarted by FindFirst.
struct ListingHandle {
    ArchiverModule* module = nullptr;
    AnsiString path;
    NvxWindow* window = nullptr;
    std::unique_ptr<ArchiveSource> source;
    bool fresh = false;          // the source is at its start, with `prefetched` read
    bool havePrefetched = false;
    int32_t prefetchCode = ARC_OK;
    EntryInfo prefetched;
    EntryInfo current;
    bool haveCurrent = false;
    bool searching = false;
    MaskSet mask;
    DosClock clock;
};

std::mutex g_handlesMutex;
std::set<ListingHandle*> g_handles;

ListingHandle* Lookup(HARC harc) {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    auto* h = static_cast<ListingHandle*>(harc);
    return g_handles.count(h) ? h : nullptr;
}

int32_t Restart(ListingHandle& h) {
    h.source.reset();
    int32_t code = h.module->openSource(h.path, SourceContext{h.window, true}, h.source);
    if (code != ARC_OK) return code;
    h.prefetchCode = h.source->nextEntry(h.prefetched);
    h.havePrefetched = true;
    h.fresh = true;
    h.clock = DosClock();
    return ARC_OK;
}

int32_t NextMatching(ListingHandle& h, ArcEntryRecord* record) {
    for (;;) {
        int32_t code;
        if (h.havePrefetched) {
            h.current = h.prefetched;
            code = h.prefetchCode;
            h.havePrefetched = false;
        } else {
            code = h.source->nextEntry(h.current);
        }
        h.fresh = false;
        if (code != ARC_OK) {
            h.haveCurrent = false;
            if (code != ARC_FIND_END) h.searching = false;
            return code;
        }
        h.haveCurrent = true;
        if (!h.mask.matches(h.current.path)) continue;
        if (record) FillEntryRecord(h.current, *record, h.clock);
        return ARC_OK;
    }
}

// FindFirst's start: the walk from the front (read again unless the handle is fresh), the masks.
int32_t BeginSearch(ListingHandle& h, const char* wildName) {
    if (!h.fresh) {
        const int32_t code = Restart(h);
        if (code != ARC_OK) return code;
    }
    std::vector<AnsiString> masks;
    if (wildName) TokenizeCommandLine(wildName, masks);
    h.mask = MaskSet(std::move(masks), h.module->dialect() == SwitchDialect::Zip);
    h.searching = true;
    return ARC_OK;
}

}  // namespace

int32_t ModuleCommand(ArchiverModule& m, ModuleState& s, NvxWindow* window, const char* cmdLine, char* output,
                      uint32_t outputSize) {
    CopyOutput(AnsiString(), output, outputSize);
    if (!cmdLine) return ARC_ERROR_COMMAND_NAME;
    ProgressSink sink;
    sink.window = window ? window : s.ownerWindow;
    sink.callback = s.ownerCallback;
    sink.enumProc = s.enumProc;
    CommandLine line;
    AnsiString log;
    int32_t code = ParseCommandLine(cmdLine, line);
    if (code != ARC_OK) {
        log += code == ARC_ERROR_RESPONSE_READ ? "> レスポンスファイルを読めません\r\n"_ansi : "> コマンドがありません\r\n"_ansi;
        CopyOutput(log, output, outputSize);
        return code;
    }
    ApplyDialectLayout(m.dialect(), line);
    try {
        switch (line.kind) {
        case CommandKind::Extract:
        case CommandKind::ExtractFlat: code = RunExtraction(m, line, sink, false, log); break;
        case CommandKind::Test: code = RunExtraction(m, line, sink, true, log); break;
        case CommandKind::List: code = RunList(m, line, sink, log); break;
        case CommandKind::Other: code = m.otherCommand(line, sink, log); break;
        }
    } catch (const std::bad_alloc&) {
        code = ARC_ERROR_ENOUGH_MEMORY;
    } catch (const std::exception& e) {
        AppendOutputLine(log, "> 内部エラー: "_ansi + ToAnsi(e.what()));
        code = ARC_ERROR_CANNOT_READ;
    }
    CopyOutput(log, output, outputSize);
    return code;
}

HARC ModuleOpenArchive(ArchiverModule& m, ModuleState& s, NvxWindow* window, const char* path, uint32_t) {
    if (!path || !IsRegularFile(path)) return nullptr;
    try {
        auto h = std::make_unique<ListingHandle>();
        h->module = &m;
        h->path = path;
        h->window = window ? window : s.ownerWindow;
        if (Restart(*h) != ARC_OK) return nullptr;
        if (h->prefetchCode != ARC_OK && h->prefetchCode != ARC_FIND_END) return nullptr;
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        g_handles.insert(h.get());
        return h.release();
    } catch (...) {
        return nullptr;
    }
}

int32_t ModuleCloseArchive(HARC harc) {
    ListingHandle* h = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        auto it = g_handles.find(static_cast<ListingHandle*>(harc));
        if (it == g_handles.end()) return ARC_ERROR_HARC_ISNOT_OPENED;
        h = *it;
        g_handles.erase(it);
    }
    delete h;
    return ARC_OK;
}

int32_t ModuleFindFirst(HARC harc, const char* wildName, ArcEntryRecord* entry) {
    ListingHandle* h = Lookup(harc);
    if (!h) return ARC_ERROR_HARC_ISNOT_OPENED;
    try {
        const int32_t code = BeginSearch(*h, wildName);
        return code == ARC_OK ? NextMatching(*h, entry) : code;
    } catch (...) {
        return ARC_ERROR_ENOUGH_MEMORY;
    }
}

int32_t ModuleListNames(HARC harc, const char* wildName, ARC_NAME_AND_SIZE_PROC proc, void* context) {
    ListingHandle* h = Lookup(harc);
    if (!h) return ARC_ERROR_HARC_ISNOT_OPENED;
    if (!proc) return ARC_ERROR_COMMAND_NAME;
    try {
        if (const int32_t code = BeginSearch(*h, wildName); code != ARC_OK) return code;
        // The names are looked at where the source keeps them; only an entry the walk stops at
        // becomes the current one (as FindNext would have left it).
        h->haveCurrent = false;
        for (;;) {
            const EntryInfo* entry = nullptr;
            int32_t code;
            if (h->havePrefetched) {
                h->havePrefetched = false;
                entry = &h->prefetched;
                code = h->prefetchCode;
            } else {
                code = h->source->viewNextEntry(entry);
            }
            h->fresh = false;
            if (code != ARC_OK) {
                if (code != ARC_FIND_END) h->searching = false;
                return code;
            }
            if (!h->mask.matches(entry->path)) continue;
            // Cut at a NUL, as GetFileNameEx gives it.
            const AnsiString& path = entry->path;
            const std::size_t length = std::min(path.find('\0'), path.size());
            if (length > UINT32_MAX) return ARC_ERROR_ENOUGH_MEMORY;
            if (proc(context, path.data(), static_cast<uint32_t>(length), entry->size) != 0) {
                h->current = *entry;
                h->haveCurrent = true;
                return ARC_OK;
            }
        }
    } catch (...) {
        return ARC_ERROR_ENOUGH_MEMORY;
    }
}

int32_t ModuleFindNext(HARC harc, ArcEntryRecord* entry) {
    ListingHandle* h = Lookup(harc);
    if (!h) return ARC_ERROR_HARC_ISNOT_OPENED;
    if (!h->searching) return ARC_ERROR_NOT_SEARCH_MODE;
    try {
        return NextMatching(*h, entry);
    } catch (...) {
        return ARC_ERROR_ENOUGH_MEMORY;
    }
}

int32_t ModuleGetArcOriginalSize(HARC harc) {
    ListingHandle* h = Lookup(harc);
    if (!h) return -1;
    try {
        std::unique_ptr<ArchiveSource> source;
        if (h->module->openSource(h->path, SourceContext{h->window}, source) != ARC_OK) return -1;
        int64_t total = 0;
        for (;;) {
            EntryInfo e;
            int32_t code = source->nextEntry(e);
            if (code == ARC_FIND_END) break;
            if (code != ARC_OK) return -1;
            // Saturated as it goes: hostile headers may claim sizes near 2^63 each.
            if (e.size > 0) total = e.size > INT64_MAX - total ? INT64_MAX : total + e.size;
        }
        return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    } catch (...) {
        return -1;  // nothing may leave a C entry; a name the codec cannot carry, or no memory
    }
}

ARC_BOOL ModuleCheckArchive(ArchiverModule& m, ModuleState& s, const char* path, int32_t mode) {
    if (!path || !IsRegularFile(path)) return 0;
    try {
        if (!m.signatureMatches(path)) return 0;
        std::unique_ptr<ArchiveSource> source;
        if (m.openSource(path, SourceContext{s.ownerWindow}, source) != ARC_OK) return 0;
        int level = mode & 0x0F;  // higher bits are flags we accept and ignore
        for (bool first = true;; first = false) {
            EntryInfo e;
            int32_t code = source->nextEntry(e);
            if (code == ARC_FIND_END) return 1;
            if (code != ARC_OK) return 0;
            if (level == ARC_CHECKARCHIVE_RAPID && first) return 1;
            if (level >= 2 && e.type == EntryType::File) {
                int64_t read = 0;
                for (;;) {
                    const void* data;
                    std::size_t size;
                    if (source->readBlock(data, size) != ARC_OK) return 0;
                    if (size == 0) break;
                    if (e.size >= 0 && static_cast<uint64_t>(size) > static_cast<uint64_t>(e.size - read)) return 0;
                    read += static_cast<int64_t>(size);
                }
                if (e.size >= 0 && read != e.size) return 0;
            }
        }
    } catch (...) {
        return 0;
    }
}

ARC_BOOL ModuleGetTime(HARC harc, uint64_t* fileTime, int which) {
    ListingHandle* h = Lookup(harc);
    if (!h || !h->haveCurrent || !fileTime) return 0;
    const EntryInfo& e = h->current;
    switch (which) {
    case 0:
        if (!e.hasMtime) return 0;
        *fileTime = UnixToFileTime(e.mtime, e.mtimeNsec);
        return 1;
    case 1:
        if (!e.hasBirthtime) return 0;
        *fileTime = UnixToFileTime(e.birthtime, e.birthtimeNsec);
        return 1;
    default:
        if (!e.hasAtime) return 0;
        *fileTime = UnixToFileTime(e.atime, e.atimeNsec);
        return 1;
    }
}

ARC_BOOL ModuleGetSize(HARC harc, int64_t* size, bool compressed) {
    ListingHandle* h = Lookup(harc);
    if (!h || !h->haveCurrent || !size) return 0;
    int64_t v = compressed ? h->current.compressedSize : h->current.size;
    if (v < 0) return 0;
    *size = v;
    return 1;
}

int32_t ModuleGetFileName(HARC harc, char* buffer, uint32_t size) {
    ListingHandle* h = Lookup(harc);
    if (!h || !h->haveCurrent) return -1;
    // Cut at a NUL as the record is: the writer refuses such a name, and the listing shows what
    // comes before it.
    const AnsiString& path = h->current.path;
    const std::size_t length = std::min(path.find('\0'), path.size());
    if (length > static_cast<std::size_t>(INT32_MAX - 1)) return -1;
    if (buffer && size > length) {
        std::memcpy(buffer, path.data(), length);
        buffer[length] = '\0';
    }
    return static_cast<int32_t>(length);
}

int32_t ModuleArchiveType(ArchiverModule& m, const char* path) {
    if (!path) return 0;
    try {
        return m.archiveType(path);
    } catch (...) {
        return 0;
    }
}

}  // namespace norvex::modules
