// What the unpack engine needs of its front end: the log pane, the status word, the file list, the
// progress display, the break button, the folder drop-downs, questions and notices, running a step
// on the main thread, and the end of the application. The engine knows no window; the main window
// implements this with queued calls, norvex-cli with its own loop, the tests with a scripted host.
#pragma once
#include <functional>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// Which remembered-folder drop-down a newly created folder goes to.
enum class TFolderList { SpecialFolder, MoveFolder };

class TEngineHost {
public:
    virtual ~TEngineHost() = default;

    // ---- Called by the worker, from the worker thread ----------------------------------------------
    // Runs step on the main thread and returns when it has run. Exceptions thrown by step are carried
    // back and rethrown on the calling thread. Called on the main thread itself, runs step at once.
    virtual void RunOnMainThread(const std::function<void()>& step) = 0;

    // ---- Everything below is called on the main thread only -----------------------------------------
    // One log line. The host numbers it; in the archive heading (kArchiveHeading) it puts the current
    // archive name in double quotes for "%src". Any other text is shown as it is: a name in it that
    // holds "%src" stays as it is (see FormatLogLine in engine/EngineLog.h).
    virtual void AppendLog(const AnsiString& text) = 0;
    // The status word ("書庫テスト中", "解凍開始", ...).
    virtual void ShowStatus(const AnsiString& word) = 0;

    // The file list: full paths, read and changed by index.
    virtual int FileCount() = 0;
    virtual AnsiString FileAt(int index) = 0;
    virtual void DeleteFileAt(int index) = 0;
    virtual void AppendFile(const AnsiString& path) = 0;
    // Marks the entry as the focused one and scrolls it into view.
    virtual void FocusFile(int index) = 0;

    // Progress display. Nothing is drawn while the window is minimised; the engine asks first.
    virtual bool IsMinimized() { return false; }
    // False for a host that never draws progress (a batch run writing to a file or a pipe): the
    // worker then hands no progress to the main thread at all. Asked from the worker; it must not
    // change during a run.
    virtual bool ShowsProgress() const { return true; }
    // True for a desktop host: the worker (and the module's own threads, which take its priority)
    // runs one step below normal, so that the desktop stays responsive during long extractions. A
    // batch run keeps the priority it was started with.
    virtual bool LowersWorkerPriority() const { return true; }
    virtual void ShowEntryName(const AnsiString& name) = 0;  // txtFileName
    virtual void ShowFilePercent(int percent) = 0;           // progExpand and lblIndicate ("n%")
    virtual void ShowTotalPercent(int percent) = 0;          // progExpandGlobal and lblIndicateGlobal
    virtual void EnableBreakButton() = 0;                    // btnBreak

    // A folder the engine has just created goes to the top of its drop-down (remembered-list rule).
    virtual void RememberFolder(TFolderList list, const AnsiString& path) = 0;

    // A Yes/No question owned by the main window; true for Yes.
    virtual bool Ask(const AnsiString& caption, const AnsiString& text) = 0;
    // An OK notice owned by the main window.
    virtual void Notice(const AnsiString& caption, const AnsiString& text) = 0;
    // A question of an archiver module (the overwrite question "上書き確認", a password): kind,
    // answer and answerText follow the window ABI of archivers/ArchiverAbi.h (ARC_ASK_*, ARC_ANSWER_*).
    virtual int AskArchiver(int kind, const AnsiString& caption, const AnsiString& text,
                            AnsiString& answerText) = 0;

    // An archive has been extracted successfully (before it is disposed of); volumes holds every
    // volume of its split set, or is empty. norvex-cli counts the later volumes of such a set, which
    // the run skips, as extracted.
    virtual void ArchiveExtracted(const AnsiString& archivePath, const std::vector<AnsiString>& volumes) {
        (void)archivePath;
        (void)volumes;
    }

    // The extraction of an archive failed (the failure line was logged); it stays in the list.
    virtual void ArchiveFailed(const AnsiString& archivePath) { (void)archivePath; }
    // The after-processing (delete, trash, move) of one file of an extracted archive: done or not.
    virtual void ArchiveDisposed(const AnsiString& path, bool done) {
        (void)path;
        (void)done;
    }

    // Lets the main thread handle pending input (a short pause in long steps).
    virtual void ProcessMessages() {}
    // Runs the window's end of run (FinishRun), closes the main window and ends the application.
    // The worker is still inside an archiver call when this is asked for.
    virtual void EndApplication() = 0;
};

}  // namespace norvex
