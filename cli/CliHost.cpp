// norvex-cli's engine host: main-thread steps run one at a time, the numbered log on standard output.
#include "cli/CliHost.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <unistd.h>

#include "archivers/ArchiverAbi.h"
#include "engine/EngineLog.h"
#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {

namespace {

// Message-box text on a terminal: the carriage returns that break its lines become line feeds. The
// engine has escaped the control characters of names already; bytes that are not UTF-8 (names
// from the disk that are not) are escaped here, since a terminal may take some of them for controls.
std::string ForTerminal(const AnsiString& text) {
    std::string s = EscapeInvalidUtf8(FromAnsi(text));
    for (char& c : s)
        if (c == '\r') c = '\n';
    return s;
}

}  // namespace

TCliHost::TCliHost(SettingsBlock& settings, bool answerYes, std::FILE* out, std::FILE* err, bool showProgress)
    : FSettings(settings),
      FAnswerYes(answerYes),
      FOut(out),
      FErr(err),
      FShowProgress(showProgress) {}

void TCliHost::RunOnMainThread(const std::function<void()>& step) {
    std::lock_guard steps(FSteps);
    step();
}

void TCliHost::ServeUntil(const std::function<bool()>& done, const std::function<void()>& idle) {
    for (;;) {
        {
            std::unique_lock lock(FMutex);
            FChanged.wait_for(lock, std::chrono::milliseconds(100), [&] { return FWoken; });
            FWoken = false;
        }
        std::lock_guard steps(FSteps);
        if (idle) idle();
        if (done()) return;
    }
}

void TCliHost::Wake() {
    std::lock_guard lock(FMutex);
    FWoken = true;
    FChanged.notify_all();
}

void TCliHost::AppendLog(const AnsiString& text) {
    const int n = ++FSettings.LogLineCount;
    ClearProgressLine();
    const std::string line = TerminalLogLine(n, text, FSettings.CurrentArchiveName);
    std::fputs(line.c_str(), FOut);
    std::fputc('\n', FOut);
    std::fflush(FOut);
}

AnsiString TCliHost::FileAt(int index) {
    return index >= 0 && index < FileCount() ? FFiles[static_cast<std::size_t>(index)] : AnsiString();
}

void TCliHost::DeleteFileAt(int index) {
    if (index >= 0 && index < FileCount()) FFiles.erase(FFiles.begin() + index);
}

void TCliHost::ShowEntryName(const AnsiString& name) {
    FEntryName = name;
    DrawProgress();
}

void TCliHost::ShowFilePercent(int percent) {
    FFilePercent = percent;
    DrawProgress();
}

void TCliHost::ShowTotalPercent(int percent) {
    FTotalPercent = percent;
    DrawProgress();
}

void TCliHost::DrawProgress() {
    if (!FShowProgress) return;
    std::string name = EscapeInvalidUtf8(FromAnsi(FEntryName));
    if (name.size() > 50) name = "..." + name.substr(name.size() - 47);
    std::fprintf(FErr, "\r\033[K[%3d%%] %3d%% %s", FTotalPercent, FFilePercent, name.c_str());
    std::fflush(FErr);
    FProgressShown = true;
}

void TCliHost::ClearProgressLine() {
    if (!FProgressShown) return;
    std::fputs("\r\033[K", FErr);
    std::fflush(FErr);
    FProgressShown = false;
}

bool TCliHost::Ask(const AnsiString& caption, const AnsiString& text) { return AnswerWith(caption, text, FAnswerYes); }

bool TCliHost::AnswerWith(const AnsiString& caption, const AnsiString& text, bool yes) {
    ClearProgressLine();
    std::fprintf(FErr, "[%s] %s\n  -> %s\n", ForTerminal(caption).c_str(), ForTerminal(text).c_str(), yes ? "はい" : "いいえ");
    std::fflush(FErr);
    return yes;
}

void TCliHost::Notice(const AnsiString& caption, const AnsiString& text) {
    ClearProgressLine();
    std::fprintf(FErr, "[%s] %s\n", ForTerminal(caption).c_str(), ForTerminal(text).c_str());
    std::fflush(FErr);
}

int TCliHost::AskArchiver(int kind, const AnsiString& caption, const AnsiString& text, AnsiString& answerText) {
    answerText.clear();
    if (kind != ARC_ASK_OVERWRITE) {
        // No password can be typed in a batch run.
        Notice(caption, text);
        return ARC_ANSWER_CANCEL;
    }
    return Ask(caption.empty() ? ToAnsi("上書き確認") : caption, text) ? ARC_ANSWER_YES : ARC_ANSWER_NO;
}

void TCliHost::ArchiveExtracted(const AnsiString& archivePath, const std::vector<AnsiString>& volumes) {
    FExtracted.push_back(ExpandFileName(archivePath));
    for (const AnsiString& volume : volumes) FExtracted.push_back(ExpandFileName(volume));
    FDisposals.emplace_back();
}

void TCliHost::ArchiveFailed(const AnsiString& archivePath) { FFailed.push_back(ExpandFileName(archivePath)); }

void TCliHost::ArchiveDisposed(const AnsiString&, bool done) {
    if (FDisposals.empty()) return;
    ++(done ? FDisposals.back().done : FDisposals.back().failed);
}

TCliHost::TSummary TCliHost::Summary() const {
    TSummary s;
    s.Extracted = static_cast<int>(FDisposals.size());
    for (const TDisposal& d : FDisposals) {
        if (d.failed > 0)
            ++s.DisposalFailed;
        else if (d.done > 0)
            ++s.Disposed;
    }
    for (const AnsiString& left : FFiles) {
        if (WasExtracted(left)) continue;
        const AnsiString full = ExpandFileName(left);
        if (std::find(FFailed.begin(), FFailed.end(), full) != FFailed.end())
            ++s.Failed;
        else
            ++s.Skipped;
    }
    return s;
}

int TCliHost::ExitStatus(const TSummary& summary) {
    if (summary.Failed > 0 || summary.Skipped > 0) return 1;
    if (summary.DisposalFailed > 0) return 3;
    return 0;
}

void TCliHost::WriteSummary(const TSummary& s) {
    ClearProgressLine();
    std::fprintf(FErr, "norvex-cli: 解凍 %d、失敗 %d、スキップ %d、後始末 %d", s.Extracted, s.Failed, s.Skipped, s.Disposed);
    if (s.DisposalFailed > 0) std::fprintf(FErr, "（後始末の失敗 %d）", s.DisposalFailed);
    std::fputc('\n', FErr);
    std::fflush(FErr);
}

bool TCliHost::WasExtracted(const AnsiString& path) const {
    const AnsiString full = ExpandFileName(path);
    for (const AnsiString& done : FExtracted)
        if (done == full) return true;
    return false;
}

void TCliHost::EndApplication() {
    ClearProgressLine();
    if (OnEndApplication) OnEndApplication();
    std::fflush(FOut);
    std::fflush(FErr);
    std::_Exit(1);
}

}  // namespace norvex
