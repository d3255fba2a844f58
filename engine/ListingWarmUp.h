// Reading the listing of the next archive ahead, on a thread of its own, while the worker extracts
// the current one: the module then has that archive parsed when the count and the extraction open
// it (a module keeps the archives it parsed last, known by their identity, so a file replaced in the
// meantime is parsed afresh). What the listing holds is thrown away, and a listing that fails says
// nothing: the warm-up changes no result, no log line and no question.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "archivers/ArchiverAbi.h"
#include "archivers/ArchiverDll.h"
#include "archivers/Archives.h"
#include "platform/AnsiString.h"

namespace norvex {

// One thread, made at the first read-ahead and kept until Stop, takes one listing at a time.
class TListingWarmUp {
public:
    TListingWarmUp();
    // Stops the thread (abandoning a listing under way).
    ~TListingWarmUp();
    TListingWarmUp(const TListingWarmUp&) = delete;
    TListingWarmUp& operator=(const TListingWarmUp&) = delete;

    // Hands the thread the listing of path, read through the module's own entries (all four
    // resolved beforehand, on the thread that owns the bindings): opened, walked to its end when
    // walk is set, closed. A listing handed over before is finished first. Only the entries, the path
    // and a window of the warm-up's own reach the thread: the module never reads the owner window
    // set for the extraction, and nobody is asked anything.
    void Start(const TListingEntryPoints& entries, const AnsiString& path, bool walk);
    // Afterwards no listing is under way: one the thread has not begun is withdrawn (a busy machine
    // may not have run the thread yet, and the count reads the archive itself sooner than it would
    // wait for it), one under way is waited for.
    void Finish();
    // Finish, a listing under way stopped at its next entry, and the thread ended: before the run
    // ends and before any module may be unloaded.
    void Stop();

private:
    enum class TState { Idle, Pending, Reading };
    void Run();
    static void Read(const TListingEntryPoints& entries, const AnsiString& path, bool walk, NvxWindow* window,
                     const std::atomic<bool>& abandon);

    NvxWindow FWindow{};
    std::mutex FMutex;
    std::condition_variable FChanged;
    TState FState = TState::Idle;
    bool FQuit = false;
    std::atomic<bool> FAbandon{false};
    TListingEntryPoints FEntries;
    AnsiString FPath;
    bool FWalk = false;
    std::thread FThread;
};

// Whether reading ahead can pay on this machine. The extraction's own workers take every core the
// process may use; with two cores or fewer a listing read beside them only competes with them: a run
// over 200 small ZIPs on two cores took the same time with it as without (within 2 %, either way),
// for a thread woken and the archive opened once more per archive.
bool ReadAheadPays();
// For tests: read ahead on every machine (true), never (false), or as the machine decides (nullopt).
void SetReadAheadForTesting(std::optional<bool> forced);

// The type of the next archive of a run when it is worth reading ahead, else atNone: a regular file
// (a fifo or a device is never opened) whose name the count gives to the ZIP or the LHA module.
TArchiverType WarmUpType(const AnsiString& path);
// Whether the read-ahead of an archive of that type walks its listing to the end: the ZIP module
// keeps what it parsed as soon as the archive is opened (its central directory), the LHA module
// once a listing has read every header.
inline bool WarmUpWalks(TArchiverType type) { return type == atLha; }

}  // namespace norvex
