// Reading the listing of the next archive ahead, on a thread of its own, while the worker extracts
// the current one: the module then has that archive parsed when the count and the extraction open
// it (a module keeps the archive it parsed last, known by its identity, so a file replaced in the
// meantime is parsed afresh). What the listing holds is thrown away, and a listing that fails says
// nothing: the warm-up changes no result, no log line and no question.
#pragma once
#include <atomic>
#include <thread>

#include "archivers/ArchiverAbi.h"
#include "archivers/ArchiverDll.h"
#include "archivers/Archives.h"
#include "platform/AnsiString.h"

namespace norvex {

class TListingWarmUp {
public:
    TListingWarmUp();
    // Waits for a started listing (abandoning it).
    ~TListingWarmUp();
    TListingWarmUp(const TListingWarmUp&) = delete;
    TListingWarmUp& operator=(const TListingWarmUp&) = delete;

    // Starts reading the listing of path through the module's own entries (all four resolved
    // beforehand, on the thread that owns the bindings): opened, walked to its end when walk is set,
    // closed. A listing still running is waited for first. Only the entries, the path and a window of
    // the warm-up's own reach the thread: the module never reads the owner window set for the
    // extraction, and nobody is asked anything.
    void Start(const TListingEntryPoints& entries, const AnsiString& path, bool walk);
    // Waits until the listing has ended. abandon stops it at the next entry (the run is ending, and
    // the listing would only keep it waiting). Must come before any module is unloaded.
    void Finish(bool abandon = false);
    bool Started() const { return FThread.joinable(); }

private:
    static void Read(TListingEntryPoints entries, AnsiString path, bool walk, NvxWindow* window,
                     const std::atomic<bool>* stop);

    NvxWindow FWindow{};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// The type of the next archive of a run when it is worth reading ahead, else atNone: a regular file
// (a fifo or a device is never opened) whose name the count gives to the ZIP or the LHA module.
TArchiverType WarmUpType(const AnsiString& path);
// Whether the read-ahead of an archive of that type walks its listing to the end: the ZIP module
// keeps what it parsed as soon as the archive is opened (its central directory), the LHA module
// once a listing has read every header.
inline bool WarmUpWalks(TArchiverType type) { return type == atLha; }

}  // namespace norvex
