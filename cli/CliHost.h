// The engine host of norvex-cli: a main-thread step of the worker runs on the worker itself, one at a
// time with the main thread's own loop (nothing here needs a particular thread, and a hand-over to
// another thread cost two thread switches per step, which showed on archives of a few entries); the log
// goes to standard output in UTF-8, numbered as the log pane numbers it; questions are answered with
// the --answer choice and echoed on standard error; progress is one line on standard error when that
// is a terminal. The file list is a plain vector.
#pragma once
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/EngineHost.h"
#include "settings/SettingsBlock.h"

namespace norvex {

class TCliHost : public TEngineHost {
public:
    TCliHost(SettingsBlock& settings, bool answerYes, std::FILE* out, std::FILE* err, bool showProgress);

    // The engine host.
    void RunOnMainThread(const std::function<void()>& step) override;
    void AppendLog(const AnsiString& text) override;
    void ShowStatus(const AnsiString&) override {}
    int FileCount() override { return static_cast<int>(FFiles.size()); }
    AnsiString FileAt(int index) override;
    void DeleteFileAt(int index) override;
    void AppendFile(const AnsiString& path) override { FFiles.push_back(path); }
    void FocusFile(int) override {}
    void ShowEntryName(const AnsiString& name) override;
    void ShowFilePercent(int percent) override;
    void ShowTotalPercent(int percent) override;
    bool ShowsProgress() const override { return FShowProgress; }
    // A batch run: as nice as the shell that started it, no nicer.
    bool LowersWorkerPriority() const override { return false; }
    void EnableBreakButton() override {}
    void RememberFolder(TFolderList, const AnsiString&) override {}
    bool Ask(const AnsiString& caption, const AnsiString& text) override;
    void Notice(const AnsiString& caption, const AnsiString& text) override;
    int AskArchiver(int kind, const AnsiString& caption, const AnsiString& text, AnsiString& answerText) override;
    void EndApplication() override;
    void ArchiveExtracted(const AnsiString& archivePath, const std::vector<AnsiString>& volumes) override;
    void ArchiveFailed(const AnsiString& archivePath) override;
    void ArchiveDisposed(const AnsiString& path, bool done) override;

    // A question answered with a given answer instead of the --answer choice (echoed the same way).
    bool AnswerWith(const AnsiString& caption, const AnsiString& text, bool yes);

    // True when path (as listed) was extracted, itself or as a volume of an extracted split set.
    bool WasExtracted(const AnsiString& path) const;

    // Waits until done() is true after a wake-up; idle runs on the main thread about ten times a
    // second (the CLI checks for Ctrl+C there), never at the same time as a step.
    void ServeUntil(const std::function<bool()>& done, const std::function<void()>& idle);
    // Wakes ServeUntil so that it checks done() again.
    void Wake();

    // Called by the CLI when the run has ended, to run FinishRun and leave the process at once
    // (EndApplication): set before the run.
    std::function<void()> OnEndApplication;

    std::vector<AnsiString>& Files() { return FFiles; }

    // What became of the listed archives, counted once the run has ended. A split set counts once.
    struct TSummary {
        int Extracted = 0;
        int Failed = 0;
        int Skipped = 0;          // left in the list without a failed extraction (later volumes of
                                  // an extracted set are not counted)
        int Disposed = 0;         // extracted archives whose every file was deleted, trashed or moved
        int DisposalFailed = 0;   // extracted archives of which some file could not be
    };
    TSummary Summary() const;
    // The exit status of the run: 1 when an archive failed or was skipped, else 3 when an
    // after-processing step failed, else 0.
    static int ExitStatus(const TSummary& summary);
    // The closing line on standard error: "norvex-cli: 解凍 n、失敗 n、スキップ n、後始末 n".
    void WriteSummary(const TSummary& summary);

private:
    void ClearProgressLine();
    void DrawProgress();

    SettingsBlock& FSettings;
    bool FAnswerYes;
    std::FILE* FOut;
    std::FILE* FErr;
    bool FShowProgress;
    std::vector<AnsiString> FFiles;
    std::vector<AnsiString> FExtracted;  // absolute paths
    std::vector<AnsiString> FFailed;     // absolute paths
    struct TDisposal {
        int done = 0;
        int failed = 0;
    };
    std::vector<TDisposal> FDisposals;   // one per extracted archive, in order

    // Held while a step or the main loop's idle runs (a step may run a nested step).
    std::recursive_mutex FSteps;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FWoken = false;

    // The progress line.
    AnsiString FEntryName;
    int FFilePercent = 0;
    int FTotalPercent = 0;
    bool FProgressShown = false;
};

}  // namespace norvex
