// norvex-cli: the batch front end. Reads the settings (never writes them), checks the archiver
// modules, takes the paths as a command-line run of the main window would, runs the unpack engine and
// prints the numbered log lines in UTF-8.
//
//   norvex-cli [--ini FILE] [--to DIR] [--answer yes|no] [-d|-t|-k] PATH...
//
// Exit status: 0 when every listed archive was extracted, 1 when any failed or was skipped, 2 on a
// usage error.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "engine/UUnPack.h"
#include "engine/UUnPackThread.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "settings/SettingsBlock.h"
#include "settings/uIniControl.h"

using namespace norvex;
using namespace norvex::literals;

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl+C ends the process at once
}

const char kUsage[] =
    "使い方: norvex-cli [--ini FILE] [--to DIR] [--answer yes|no] [-d|-t|-k] PATH...\n"
    "  --ini FILE       この設定ファイルを読む（書き込みはしない）\n"
    "  --to DIR         解凍先を DIR にする（指定フォルダ）\n"
    "  --answer yes|no  確認にすべてこの答えを返す（既定: no）\n"
    "  -d / -t / -k     解凍後に書庫を 削除 / ごみ箱へ / そのまま\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "norvex-cli: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

struct TOptions {
    std::string ini;
    std::string to;
    bool answerYes = false;
    std::string afterSwitch;  // "-d", "-t", "-k" or empty
    std::vector<std::string> paths;
};

// Options come first; the first other argument may be the switch (compared exactly, as the program's
// own command line does: "-D" is a file name); every argument after it is a path.
bool ParseArguments(int argc, char** argv, TOptions& o, std::string& problem) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--ini" || a == "--to" || a == "--answer") {
            if (i + 1 >= argc) {
                problem = a + " には値が必要です";
                return false;
            }
            const std::string v = argv[++i];
            if (a == "--ini") o.ini = v;
            if (a == "--to") o.to = v;
            if (a == "--answer") {
                if (v != "yes" && v != "no") {
                    problem = "--answer は yes か no です";
                    return false;
                }
                o.answerYes = v == "yes";
            }
            continue;
        }
        if (a == "--help" || a == "-h") {
            problem.clear();
            return false;
        }
        if (a.rfind("--", 0) == 0) {
            problem = "不明なオプション " + a;
            return false;
        }
        break;
    }
    if (i < argc) {
        const std::string a = argv[i];
        if (a == "-d" || a == "-t" || a == "-k") {
            o.afterSwitch = a;
            ++i;
        }
    }
    for (; i < argc; ++i) o.paths.push_back(argv[i]);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("");
    TOptions opts;
    std::string problem;
    if (!ParseArguments(argc, argv, opts, problem)) return Usage(problem);

    SettingsBlock& s = Settings;
    {
        const TIniControl ini = opts.ini.empty() ? TIniControl() : TIniControl(ToAnsi(opts.ini));
        if (!opts.ini.empty() && !FileExists(ini.FileName()))
            std::fprintf(stderr, "norvex-cli: 設定ファイル %s がありません。既定値で実行します。\n", opts.ini.c_str());
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
    if (opts.afterSwitch == "-d") s.AfterMethod = TAfterMethod::Delete;
    if (opts.afterSwitch == "-t") s.AfterMethod = TAfterMethod::Trash;
    if (opts.afterSwitch == "-k") s.AfterMethod = TAfterMethod::Nothing;
    if (!opts.to.empty()) {
        s.PutLocation = TPutLocation::SpecialFolder;
        s.SpecialFolder = ExpandFileName(ToAnsi(opts.to));
    }

    TCliHost host(s, opts.answerYes, stdout, stderr, isatty(STDERR_FILENO) != 0);
    TUnPack job(s, host);
    CheckDlls(job, s, host);
    for (const std::string& p : opts.paths) host.AppendFile(ToAnsi(p));

    // The start, as the start button does it.
    if (host.FileCount() == 0) {
        host.AppendLog("> 処理ファイルがありません。"_ansi);
        return 0;
    }
    s.CompressMode = false;
    if (s.ConfirmIgnore && s.IgnoreDirectory &&
        !host.Ask("確認"_ansi, "ディレクトリ構成を無視して展開します。\rよろしいですか？"_ansi))
        return 1;
    if (s.ConfirmDelete && s.AfterMethod == TAfterMethod::Delete &&
        !host.Ask("確認"_ansi, "後始末が\"削除\"になっています。\r続行しますか？"_ansi))
        return 1;
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
    host.OnEndApplication = finishRun;

    std::signal(SIGINT, OnInterrupt);
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
    finishRun();
    // What stays in the list failed or was skipped, except the later volumes of an extracted set.
    for (const AnsiString& left : host.Files())
        if (!host.WasExtracted(left)) return 1;
    return 0;
}
