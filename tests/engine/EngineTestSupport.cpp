// The scripted host and the engine run of the tests.
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>

#include "archivers/ArchiverAbi.h"
#include "engine/EngineLog.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/ModuleLoader.h"
#include "tests/support/RunTool.h"

namespace norvex::test {

TScriptedHost::TScriptedHost(SettingsBlock& settings) : settings_(settings) {}

void TScriptedHost::RunOnMainThread(const std::function<void()>& step) {
    // The tests run the worker's steps on the worker itself: it waits for them in any case, so the
    // order of steps and lines is the same as with a served main thread.
    step();
}

void TScriptedHost::AppendLog(const AnsiString& text) {
    const int n = ++settings_.LogLineCount;
    const std::string line = FromAnsi(FormatLogLine(n, text, settings_.CurrentArchiveName));
    lines.push_back(line);
    const std::size_t bar = line.find("| ");
    texts.push_back(bar == std::string::npos ? line : line.substr(bar + 2));
    if (onLog) onLog(texts.back());
}

void TScriptedHost::ShowStatus(const AnsiString&) {}

void TScriptedHost::ShowFilePercent(int percent) {
    if (onProgress) onProgress(percent);
}

void TScriptedHost::ShowTotalPercent(int percent) {
    if (onProgress) onProgress(percent);
}

bool TScriptedHost::Ask(const AnsiString& caption, const AnsiString& text) {
    questions.push_back(FromAnsi(caption) + ": " + FromAnsi(text));
    return answer;
}

void TScriptedHost::Notice(const AnsiString& caption, const AnsiString& text) {
    notices.push_back(FromAnsi(caption) + ": " + FromAnsi(text));
}

int TScriptedHost::AskArchiver(int kind, const AnsiString& caption, const AnsiString& text, AnsiString& answerText) {
    questions.push_back(FromAnsi(caption) + ": " + FromAnsi(text));
    if (kind == ARC_ASK_PASSWORD && !passwords.empty()) {
        answerText = ToAnsi(passwords.front());
        passwords.erase(passwords.begin());
        return ARC_ANSWER_YES;
    }
    if (kind != ARC_ASK_OVERWRITE) return ARC_ANSWER_CANCEL;
    return answer ? ARC_ANSWER_YES : ARC_ANSWER_NO;
}

std::vector<std::string> TScriptedHost::FilesUtf8() const {
    std::vector<std::string> out;
    for (const AnsiString& f : files) out.push_back(FromAnsi(f));
    return out;
}

bool TScriptedHost::HasLine(const std::string& text) const {
    for (const std::string& t : texts)
        if (t == text) return true;
    return false;
}

TEngineRun::TEngineRun() {
    job = std::make_unique<TUnPack>(settings, host);
    CheckDlls(*job, settings, host);
    host.lines.clear();
    host.texts.clear();
    settings.LogLineCount = 0;
}

void TEngineRun::Run(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) host.files.push_back(ToAnsi(p));
    settings.AbortRun = false;
    settings.SkipArchive = false;
    settings.RunState = TRunState::Starting;
    worker = std::make_unique<TUnPackThread>(*job, settings, host);
    worker->Start();
    worker->WaitFor();
    // FinishRun: the residue of a broken extraction.
    if (settings.BreakRequested) {
        if (settings.CancelAll) host.AppendLog(ToAnsi("> [ 強制中断 ] 中断されました。"));
        job->DeleteResidue();
        settings.BreakRequested = false;
        settings.CancelAll = false;
    }
    settings.RunState = TRunState::Idle;
    settings.AbortRun = false;
}

void TEngineRun::Break() {
    worker->SetBreak();
    settings.RunState = TRunState::Breaking;
    settings.BreakRequested = true;
}

bool HaveModule(const char* dllName) {
    return FileExists(ModuleFolder() + PathDelim + ModuleFileName(dllName));
}

bool MakeZip(const std::string& zipPath, const std::string& folder, const std::vector<std::string>& names,
             bool stored) {
    std::vector<std::string> argv{"zip", "-q", "-r", "-X"};
    if (stored) argv.push_back("-0");
    argv.push_back(zipPath);
    argv.insert(argv.end(), names.begin(), names.end());
    return RunTool(argv, folder).exitCode == 0;
}

}  // namespace norvex::test
