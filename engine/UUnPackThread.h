// TUnPackThread: the worker of a run. It walks the host's file list from the top and takes each entry
// through PrepareArchive (main thread), ExtractArchive (worker) and FinishArchive (main thread): the
// entry checks and split-set detection, the destination and bind folder, the header test, the
// extraction call, the result line, the disposal of the archive and the tidying of folders.
//
// Every step that touches the host, the job or the file list is handed to the main thread through
// TEngineHost::RunOnMainThread while the worker waits; the worker itself runs only the archiver calls
// and their progress callbacks. The main thread writes only the break flag and the pause state while
// the worker runs. While an archive is extracted, the listing of the next one may be read ahead on a
// thread of its own (ListingWarmUp.h), which touches nothing of the run. POSIX cannot suspend a
// thread, so pausing is a pause point in the progress callback (and between archives).
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "archivers/ArchiverAbi.h"
#include "engine/EngineHost.h"
#include "engine/ListingWarmUp.h"
#include "engine/PackedCopyCheck.h"
#include "engine/QueueGuard.h"
#include "engine/UUnPack.h"
#include "platform/AnsiString.h"
#include "platform/FileIdentity.h"
#include "platform/FileSystem.h"
#include "settings/SettingsBlock.h"

namespace norvex {

class TArchiveFile;

// ---- Pieces of the worker that need no run (exposed for the tests) ------------------------------------

// The tail cut: with the switch on, the name loses its trailing digits and marks ("photos_2005" gives
// "photos", "report 3b" gives "report"); a name that is nothing but such a tail stays as it is.
AnsiString CutNameTail(const AnsiString& name, bool delFolderNum);

// Lower-cased extension of a host path, with its dot (".zip"); empty when the name has none. Only
// ASCII letters are lowered, by whole characters.
AnsiString LowerExtension(const AnsiString& path);

// Appends folder + name for each file of one folder whose name matches pattern (all of them when
// usePattern is false). Returns the number of entries examined, or -1 on a fault.
int FindFilesMatching(const AnsiString& folder, std::vector<AnsiString>& list, const AnsiString& pattern,
                      bool usePattern, const AnsiString& mask);

// Appends every file below folder (not the folders themselves) to list: the entries of each folder
// in natural order (NaturalOrder.h), files and folders interleaved, a folder's files in its place.
// Returns the number of entries found directly in folder.
int ListFilesRecursive(const AnsiString& folder, std::vector<AnsiString>& list);

// The percentages of the progress display. 64-bit safe: sizes beyond 4 GiB give the right figures.
struct TProgressFigures {
    int filePercent = 0;
    int totalPercent = 0;
    bool entryComplete = false;  // the entry has been written completely
};
TProgressFigures ComputeProgress(uint64_t size, uint64_t written, uint64_t doneSize, double totalSize);

// The sizes of the entries written so far, for the total percentage. A module reports the end of an
// entry more than once (its last step and its closing report): each entry counts once. A report of
// the entry still being written ends that entry's count, so a later entry of the same name counts.
class TDoneSizeTally {
public:
    void Note(std::string_view name, bool complete, uint64_t size);
    uint64_t Total() const { return FTotal; }
    void Reset() { *this = TDoneSizeTally(); }

private:
    uint64_t FTotal = 0;
    AnsiString FCountedName;
    bool FCounted = false;
};

// The name of an archiver failure code ("ERROR_NOT_ARC_FILE"), empty for codes without one.
AnsiString ArchiverErrorName(int code);

// True when an archiver result counts as success: 0 up to 0x7FFF. Negative values are faults.
inline bool ArchiverSucceeded(int result) { return result >= 0 && result < ARC_ERROR_FIRST; }

// ---- The worker -------------------------------------------------------------------------------------

class TUnPackThread {
public:
    TUnPackThread(TUnPack& job, SettingsBlock& settings, TEngineHost& host);
    // Waits for a started worker to end.
    ~TUnPackThread();
    TUnPackThread(const TUnPackThread&) = delete;
    TUnPackThread& operator=(const TUnPackThread&) = delete;

    // Starts Execute on a new thread, one step below normal priority. onTerminate runs on the worker
    // after Execute returns: the host schedules its FinishRun on the main thread from there.
    void Start(std::function<void()> onTerminate = {});
    // Waits until the worker has ended (the host must keep serving RunOnMainThread meanwhile when it
    // calls this on the main thread).
    void WaitFor();
    bool Finished() const { return FFinished.load(); }

    // The break button: the worker stops the archiver at its next notification, or does not start the
    // next extraction call.
    void SetBreak() { FBreak.store(true); }
    bool BreakFlag() const { return FBreak.load(); }
    // Asks the run loop to end before the next archive (with the break flag, as the window does).
    void Terminate() { FTerminated.store(true); }

    // Pause and resume: the worker waits at its next pause point until resumed.
    void Suspend();
    void Resume();
    bool Suspended() const;

    // The body of the run. Public so that a host may run it on a thread of its own.
    void Execute();

    // State of the current archive, for the hosts and the tests.
    const std::vector<AnsiString>& Volumes() const { return FVolumes; }
    int Result() const { return FResult; }

private:
    void Main(const std::function<void()>& step) { FHost.RunOnMainThread(step); }
    void LogFromWorker(const AnsiString& text);
    void PausePoint();

    // Main-thread steps.
    void CheckRunFolders();
    // key: the setting's ini key, named when its value is refused.
    bool EnsureFolder(const AnsiString& path, const AnsiString& kind, const char* key);
    // Expands folder entries until the entry in hand is no folder; what it found of that entry
    // (missing or a file) is kept in FEntryKind for PrepareArchive, in the same step.
    bool ExpandFolderEntry();
    void PrepareArchive();
    void SetDestination();
    bool DetectSplitSet();
    void LogMissingVolume();
    void CountAndBind();
    void FinishArchive();
    void LogModuleReport();
    void Dispose(const AnsiString& source);
    // Before the first volume is deleted, the extracted files are written to the device.
    void DeleteArchive(const AnsiString& source);
    void TrashArchive(const AnsiString& source);
    void MoveArchive(const AnsiString& source);
    // Why an extracted archive stays where it is instead of its disposal: not every entry landed, or
    // what landed is no longer where it was written.
    enum class TKeptBecause {
        ExistingKept,     // an existing file was kept
        FilterLeftOut,    // the file-extraction filter left entries out
        NamesCollided,    // with folders ignored, entries of one name overwrote each other
        LandingMoved,     // the folder the entries went into was moved or removed meanwhile
        EndUnmarked,      // the archive ends without its end mark: it may have been cut
    };
    void KeepArchive(TKeptBecause why);
    // True while the folder the extraction wrote into, and the top folder this archive claimed, are
    // still the folders they were when the extraction began (ArchiveDisposal.cpp).
    bool LandingStillThere() const;
    // Compress mode: the listed file is disposed of only when its packing was found sound
    // (PackedFiles.cpp); else it stays with the line that says why.
    void DisposePackedFile();
    AnsiString MoveAsideAsOld(const AnsiString& path);
    std::vector<AnsiString> PathsStillNeeded();
    // Both act only while the folder is the one of that identity (when one is given).
    bool RenameFolder(const AnsiString& from, const AnsiString& to, const TFileIdentity* identity = nullptr);
    bool DeleteFolder(const AnsiString& path, const TFileIdentity* identity = nullptr);
    void RenameSingleFolder(const AnsiString& path);
    void LogSplitSet();

    // Worker steps.
    int ExtractArchive(const AnsiString& archivePath, AnsiString destination);
    // Readies the read-ahead of the next archive's listing; the extraction's first progress report
    // (its archive is open by then) starts it.
    void ArmWarmUp();
    void SetExtractOptions(TArchiveFile& arc);
    // Compress mode: packs the file into the LZH named by arc and, when it is to be disposed of,
    // checks the archive against it (PackedFiles.cpp).
    int PackFile(TArchiveFile& arc, const AnsiString& file, const AnsiString& baseFolder);
    void OnArchiverProgress(int state, const EXTRACTINGINFOEX* eis, bool& abort);
    void ShowProgress(const EXTRACTINGINFOEX* eis);

    static int32_t AskFromModule(NvxWindow* self, int32_t kind, const char* caption, const char* text,
                                 char* answerText, uint32_t answerSize);
    static int32_t SendFromModule(NvxWindow* self, uint32_t state, const ArcProgressRecord* record);
    static int32_t ProtectedFromModule(NvxWindow* self, const char* path, uint64_t device, uint64_t inode);
    // The identity of each file of the archive as it was read; disposal acts only on those files.
    void RememberReadFiles(const AnsiString& archivePath);
    const TFileIdentity* ReadIdentity(const AnsiString& path) const;
    static int32_t RefusedFromModule(NvxWindow* self, int32_t cause, int32_t code, const char* name, const char* line);

    TUnPack& FJob;
    SettingsBlock& FSettings;
    TEngineHost& FHost;
    NvxWindow FOwnerWindow{};  // the window handed to the archiver: its questions reach the host

    std::atomic<bool> FBreak{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    mutable std::mutex FPauseMutex;
    std::condition_variable FPauseChanged;
    // Written under FPauseMutex; read without it by a pause point that finds the run going on.
    std::atomic<bool> FSuspended{false};
    std::thread FThread;

    // Fields of the current archive (written by one thread at a time: see the class comment).
    int FBreakNotifications = 0;
    std::vector<AnsiString> FVolumes;
    AnsiString FMissingVolume;  // a volume of the set missing before a later one (CollectSetVolumes)
    std::vector<std::pair<AnsiString, TFileIdentity>> FReadFiles;
    TQueueGuard FQueueGuard;  // the run's archives, which no entry may replace
    int FResult = 0;
    // What the module wrote to its output buffer during the last extraction; its "> " lines name
    // the entries it refused, and go to the log when the extraction failed.
    AnsiString FModuleReport;
    // The refusals the module explained with a cause (its lines for them are not in FModuleReport):
    // the lines to log, in order. Filled from any thread of the module.
    std::mutex FRefusalMutex;
    std::vector<AnsiString> FRefusalLines;
    int FIndex = 0;
    int FLastFilePercent = 999;
    int FLastTotalPercent = 999;
    // When the display was last handed to the main thread: it is redrawn at most every 50 ms.
    std::chrono::steady_clock::time_point FLastShownAt{};
    AnsiString FLastShownName = "xxxxxx";
    AnsiString FArchivePath;
    AnsiString FExtension;
    TPathKind FEntryKind = TPathKind::Missing;
    int FTopLevelCount = 0;
    bool FFolderCreated = false;
    TDoneSizeTally FDone;
    bool FShowsProgress = true;  // the host draws progress (asked once per extraction)

    // The read-ahead of the next archive (ListingWarmUp.h): the entry after the current one as the
    // preparation step found it, and the module entries that read it. Ended before the next count,
    // before the run ends and before the program is left.
    AnsiString FNextArchive;
    TListingEntryPoints FWarmUpEntries;
    bool FWarmUpWalks = false;
    std::atomic<bool> FWarmUpArmed{false};
    // An entry of this archive's extraction was not written because an existing file of its name
    // stayed: an overwrite question was answered no, or "never overwrite" or "if newer" kept it. The archive then
    // holds the only copy of that entry, and is not disposed of.
    std::atomic<bool> FExistingKept{false};
    std::atomic<bool> FEndUnmarked{false};  // the module said the archive ends without its end mark
    // The folder the extraction was given, as it was when the extraction began (unknown when it was
    // not there yet).
    TFileIdentity FLandingFolder;
    // The file system of this archive's destination wrote what it held to its device, which a
    // deletion of the archive waits for (ArchiveDisposal.cpp). In compress mode: the file system of
    // the new archive.
    bool FDestinationSynced = false;
    // Compress mode: the archive the listed file was packed into, the file's state from before its
    // packing, and what the check after a successful packing found (PackedCopyCheck.h).
    AnsiString FPackedArchive;
    TFileState FPackedState;
    TPackedCopy FPackedVerdict = TPackedCopy::Unreadable;
    TListingWarmUp FWarmUp;
};

}  // namespace norvex
