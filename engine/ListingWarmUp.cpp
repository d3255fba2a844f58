// The read-ahead of the next archive's listing.
#include "engine/ListingWarmUp.h"

#include <sched.h>
#include <sys/stat.h>

#include <thread>

#include "engine/ArchiveKinds.h"
#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

// The window of the warm-up: progress goes on, and a question gets the answer of nobody there.
int32_t GoOn(NvxWindow*, uint32_t, const ArcProgressRecord*) { return 0; }

int32_t NobodyToAsk(NvxWindow*, int32_t kind, const char*, const char*, char* answerText, uint32_t answerSize) {
    if (answerText && answerSize > 0) answerText[0] = '\0';
    return kind == ARC_ASK_OVERWRITE ? ARC_ANSWER_NO : ARC_ANSWER_CANCEL;
}

}  // namespace

TListingWarmUp::TListingWarmUp() {
    FWindow.structSize = sizeof(NvxWindow);
    FWindow.sendArcExtract = &GoOn;
    FWindow.ask = &NobodyToAsk;
}

TListingWarmUp::~TListingWarmUp() { Stop(); }

void TListingWarmUp::Start(const TListingEntryPoints& entries, const AnsiString& path, bool walk) {
    Finish();
    if (!entries.Complete() || path.empty()) return;
    std::lock_guard lock(FMutex);
    if (!FThread.joinable()) {
        FQuit = false;
        try {
            FThread = std::thread(&TListingWarmUp::Run, this);
        } catch (...) {
            return;  // no thread to be had: the count reads the archive itself, as it always could
        }
    }
    FEntries = entries;
    FPath = path;
    FWalk = walk;
    FAbandon.store(false);
    FState = TState::Pending;
    FChanged.notify_all();
}

void TListingWarmUp::Finish() {
    std::unique_lock lock(FMutex);
    if (FState == TState::Pending) FState = TState::Idle;
    FChanged.wait(lock, [this] { return FState == TState::Idle; });
}

void TListingWarmUp::Stop() {
    {
        std::unique_lock lock(FMutex);
        if (FState == TState::Pending) FState = TState::Idle;
        FAbandon.store(true);
        FChanged.wait(lock, [this] { return FState == TState::Idle; });
        FQuit = true;
        FChanged.notify_all();
    }
    if (FThread.joinable()) FThread.join();
}

void TListingWarmUp::Run() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FChanged.wait(lock, [this] { return FQuit || FState == TState::Pending; });
        if (FQuit) return;
        FState = TState::Reading;
        const TListingEntryPoints entries = FEntries;
        const AnsiString path = FPath;
        const bool walk = FWalk;
        lock.unlock();
        Read(entries, path, walk, &FWindow, FAbandon);
        lock.lock();
        FState = TState::Idle;
        FChanged.notify_all();
    }
}

void TListingWarmUp::Read(const TListingEntryPoints& entries, const AnsiString& path, bool walk, NvxWindow* window,
                          const std::atomic<bool>& abandon) {
    HARC harc = entries.OpenArchive(window, path.c_str(), 0);
    if (!harc) return;
    if (walk) {
        ArcEntryRecord record{};
        for (int32_t found = entries.FindFirst(harc, "*.*", &record); found == ARC_OK && !abandon.load();)
            found = entries.FindNext(harc, &record);
    }
    entries.CloseArchive(harc);
}

namespace {
std::atomic<int> g_readAheadForced{-1};  // -1: as the machine decides; 0: never; 1: always
}  // namespace

bool ReadAheadPays() {
    if (const int forced = g_readAheadForced.load(); forced >= 0) return forced == 1;
    static const bool pays = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        const unsigned cores = sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set))
                                                                           : std::thread::hardware_concurrency();
        return cores > 2;
    }();
    return pays;
}

void SetReadAheadForTesting(std::optional<bool> forced) { g_readAheadForced.store(forced ? (*forced ? 1 : 0) : -1); }

TArchiverType WarmUpType(const AnsiString& path) {
    TArchiverType type = ArchiverTypeFromExtension(path);
    if (const TArchiverType forced = ForcedArchiverType(ArchiveExtension(path)); forced != atNone) type = forced;
    if (type != atZip && type != atLha) return atNone;
    struct stat st {};
    return ::stat(FromAnsi(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) ? type : atNone;
}

}  // namespace norvex
