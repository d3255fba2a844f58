// norvex-cli: the batch front end. Reads the settings (never writes them), checks the archiver
// modules, takes the paths as a command-line run of the main window would, runs the unpack engine and
// prints the numbered log lines in UTF-8.
//
//   norvex-cli [--ini FILE] [--to DIR] [--answer yes|no] [--confirm-delete yes|no] [-d|-t|-k] PATH...
//
// Exit status: 0 when every listed archive was extracted and disposed of as asked, 1 when any failed
// or was skipped, 3 when all were extracted but a delete, trash or move failed, 2 on a usage error,
// 128 + the signal when Ctrl+C (SIGINT), SIGTERM or SIGHUP broke the run off.
// The numbered log goes to standard output; a closing summary line (counts) to standard error.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliHost.h"
#include "engine/UUnPack.h"
#include "engine/UUnPackThread.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/LocalTimeZone.h"
#include "settings/SettingsBlock.h"
#include "settings/uIniControl.h"

using namespace norvex;
using namespace norvex::literals;

namespace {

// Ctrl+C, SIGTERM and SIGHUP break the run as the break button does: what the run made is taken
// back before the process ends. The signal that came first, 0 before any.
volatile std::sig_atomic_t g_interrupted = 0;
// The worker told at once (its break flag is a lock-free atomic), so that it stops at its next check
// even while the main loop waits for a step of it.
std::atomic<TUnPackThread*> g_worker{nullptr};
static_assert(std::atomic<TUnPackThread*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
constexpr int kBreakSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The signals handled here: one ignored when the program started (nohup, a background job) stays so.
volatile std::sig_atomic_t g_handled[std::size(kBreakSignals)] = {};

void OnInterrupt(int sig) {
    if (!g_interrupted) g_interrupted = sig;
    if (TUnPackThread* worker = g_worker.load()) worker->SetBreak();
    // A second signal ends the process at once.
    for (std::size_t i = 0; i < std::size(kBreakSignals); ++i)
        if (g_handled[i]) std::signal(kBreakSignals[i], SIG_DFL);
}

void HandleBreakSignals() {
    for (std::size_t i = 0; i < std::size(kBreakSignals); ++i) {
        struct sigaction old {};
        if (sigaction(kBreakSignals[i], nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        g_handled[i] = 1;
        struct sigaction on {};
        on.sa_handler = OnInterrupt;
        sigemptyset(&on.sa_mask);
        on.sa_flags = SA_RESTART;
        sigaction(kBreakSignals[i], &on, nullptr);
    }
}

const char kUsage[] =
    "使い方: norvex-cli [オプション] PATH...\n"
    "  書庫（ZIP, LZH, RAR, CAB）と、それを含むフォルダを順に解凍します。オプションはパスの前後どこにでも置けます。\n"
    "  --ini FILE              この設定ファイルを読む（書き込みはしない）\n"
    "  --to DIR                解凍先を DIR にする（指定フォルダ）\n"
    "  --answer yes|no         確認にすべてこの答えを返す（既定: no）\n"
    "  --confirm-delete yes|no 後始末「削除」の確認にだけこの答えを返す\n"
    "  -d / -t / -k            解凍後に書庫を 削除 / ごみ箱へ / そのまま\n"
    "  --                      これより後はすべてパス\n"
    "  -h, --help              この使い方を表示する\n"
    "  --version               版を表示する\n"
    "終了コード: 0 すべて解凍し後始末も済んだ / 1 解凍に失敗した・飛ばした書庫がある /\n"
    "            3 すべて解凍したが後始末（削除・ごみ箱・移動）に失敗した / 2 使い方の誤り /\n"
    "            128+シグナル番号 Ctrl+C・SIGTERM・SIGHUP で中断した（130, 143, 129）\n";

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "norvex-cli: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    PinLocalTimeZone();
    if (argc < 2) return UsageError("パスを指定してください");
    const TCliArguments opts = ParseCliArguments(argc, argv);
    switch (opts.Action) {
        case TCliArguments::TAction::UsageError: return UsageError(opts.Problem);
        case TCliArguments::TAction::Help: std::fputs(kUsage, stdout); return 0;
        case TCliArguments::TAction::Version: std::printf("norvex-cli %s\n", NORVEX_VERSION); return 0;
        case TCliArguments::TAction::Run: break;
    }

    SettingsBlock& s = Settings;
    {
        const TIniControl ini = opts.Ini.empty() ? TIniControl() : TIniControl(ToAnsi(opts.Ini));
        if (!opts.Ini.empty() && !FileExists(ini.FileName()))
            std::fprintf(stderr, "norvex-cli: 設定ファイル %s がありません。既定値で実行します。\n", opts.Ini.c_str());
        ini.Load(s);
    }
    s.Title = "Norvex";
    if (s.PreTestMode != TPreTestMode::Simple) s.PreTestMode = TPreTestMode::Complete;
    s.CurrentArchiveName.clear();
    s.LogLineCount = 0;

    // A command-line run: the switch sets the after-processing, --to the chosen folder.
    s.CommandLineMode = true;
    s.SavedAfterMethod = s.AfterMethod;
    s.SavedPutLocation = s.PutLocation;
    if (opts.AfterSwitch == "-d") s.AfterMethod = TAfterMethod::Delete;
    if (opts.AfterSwitch == "-t") s.AfterMethod = TAfterMethod::Trash;
    if (opts.AfterSwitch == "-k") s.AfterMethod = TAfterMethod::Nothing;
    if (!opts.To.empty()) {
        s.PutLocation = TPutLocation::SpecialFolder;
        s.SpecialFolder = ExpandFileName(ToAnsi(opts.To));
    }

    TCliHost host(s, opts.AnswerYes, stdout, stderr, isatty(STDERR_FILENO) != 0);
    TUnPack job(s, host);
    // The modules stay loaded for the run that follows (the job releases them at its end).
    CheckDlls(job, s, host, true);
    for (const std::string& p : opts.Paths) host.AppendFile(ToAnsi(p));

    // The start, as the start button does it.
    if (host.FileCount() == 0) {
        host.AppendLog("> 処理ファイルがありません。"_ansi);
        return 0;
    }
    s.CompressMode = false;
    const auto notStarted = [&] {
        const TCliHost::TSummary summary = host.Summary();
        host.WriteSummary(summary);
        return TCliHost::ExitStatus(summary);
    };
    if (s.ConfirmIgnore && s.IgnoreDirectory &&
        !host.Ask("確認"_ansi, "ディレクトリ構成を無視して展開します。\rよろしいですか？"_ansi))
        return notStarted();
    if (s.ConfirmDelete && s.AfterMethod == TAfterMethod::Delete) {
        const AnsiString caption = "確認"_ansi, text = "後始末が\"削除\"になっています。\r続行しますか？"_ansi;
        const bool go = opts.ConfirmDelete < 0 ? host.Ask(caption, text) : host.AnswerWith(caption, text, opts.ConfirmDelete == 1);
        if (!go) return notStarted();
    }
    s.AbortRun = false;
    s.SkipArchive = false;
    WriteRunHeader(s, host, false);
    s.RunActive = true;

    TUnPackThread worker(job, s, host);
    const auto finishRun = [&] {
        if (s.BreakRequested) {
            if (s.CancelAll) host.AppendLog("> [ 強制中断 ] 中断されました。"_ansi);
            job.DeleteResidue();
            s.BreakRequested = false;
            s.CancelAll = false;
        }
        s.RunState = TRunState::Idle;
        s.RunActive = false;
        s.AbortRun = false;
    };
    // Leaving at once (after a break, when the module would not stop): with the status of a break.
    host.OnEndApplication = [&] {
        finishRun();
        if (!g_interrupted) return;
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(128 + g_interrupted);
    };

    g_worker.store(&worker);
    HandleBreakSignals();
    s.RunState = TRunState::Starting;
    worker.Start([&] { host.Wake(); });
    bool breakSent = false;
    host.ServeUntil([&] { return worker.Finished(); },
                    [&] {
                        if (!g_interrupted || breakSent) return;
                        breakSent = true;
                        // The break button: the worker stops at its next check.
                        worker.SetBreak();
                        const TRunState state = s.RunState;
                        if (state == TRunState::Starting || state == TRunState::Testing) worker.Terminate();
                        if (state != TRunState::Idle) {
                            s.RunState = TRunState::Breaking;
                            s.BreakRequested = true;
                        }
                    });
    worker.WaitFor();
    g_worker.store(nullptr);
    finishRun();
    // What stays in the list failed or was skipped, except the later volumes of an extracted set.
    const TCliHost::TSummary summary = host.Summary();
    host.WriteSummary(summary);
    // A signal that came after the run had ended broke nothing off.
    return breakSent ? 128 + g_interrupted : TCliHost::ExitStatus(summary);
}
