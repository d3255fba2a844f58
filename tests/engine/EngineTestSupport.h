// What the engine tests share: a scripted host that records the log in UTF-8 and answers questions,
// a run of the engine on a list of paths, and archives made with the real tools.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/UUnPack.h"
#include "engine/UUnPackThread.h"
#include "settings/SettingsBlock.h"

namespace norvex::test {

class TScriptedHost : public TEngineHost {
public:
    explicit TScriptedHost(SettingsBlock& settings);

    void RunOnMainThread(const std::function<void()>& step) override;
    void AppendLog(const AnsiString& text) override;
    void ShowStatus(const AnsiString& word) override;
    int FileCount() override { return static_cast<int>(files.size()); }
    AnsiString FileAt(int index) override { return files.at(static_cast<std::size_t>(index)); }
    void DeleteFileAt(int index) override { files.erase(files.begin() + index); }
    void AppendFile(const AnsiString& path) override { files.push_back(path); }
    void FocusFile(int) override {}
    void ShowEntryName(const AnsiString&) override {}
    void ShowFilePercent(int percent) override;
    void ShowTotalPercent(int percent) override;
    void EnableBreakButton() override {}
    void RememberFolder(TFolderList, const AnsiString& path) override { remembered.push_back(path); }
    bool Ask(const AnsiString& caption, const AnsiString& text) override;
    void Notice(const AnsiString& caption, const AnsiString& text) override;
    int AskArchiver(int kind, const AnsiString& caption, const AnsiString& text, AnsiString& answerText) override;
    void EndApplication() override {}

    // UTF-8 host paths of the file list (the list holds cp932).
    std::vector<std::string> FilesUtf8() const;
    // The engine lines of the log (after the DLL check block), UTF-8, numbered as the pane shows them,
    // and the same without the " n| " prefix.
    std::vector<std::string> lines;
    std::vector<std::string> texts;
    bool HasLine(const std::string& text) const;

    std::vector<AnsiString> files;
    std::vector<AnsiString> remembered;
    std::vector<std::string> questions;  // "caption: text" in UTF-8
    std::vector<std::string> notices;
    bool answer = false;                  // the answer to every Yes/No question
    std::vector<std::string> passwords;   // UTF-8, answered in order; none left: the question is cancelled
    std::function<void(const std::string& text)> onLog;  // runs after each line is recorded
    std::function<void(int percent)> onProgress;          // per-file and total percentages

private:
    SettingsBlock& settings_;
};

// One run of the engine: the job with its DLL check (flags only), the worker, served until it ends,
// then the window's end of run (the residue after a break). Returns the host for inspection.
struct TEngineRun {
    SettingsBlock settings;
    TScriptedHost host{settings};
    std::unique_ptr<TUnPack> job;
    std::unique_ptr<TUnPackThread> worker;

    TEngineRun();
    // Paths are UTF-8 host paths.
    void Run(const std::vector<std::string>& paths);
    // The break button, as the window does it in each run state.
    void Break();
};

// True when the module of a DLL name is built; tests that need one skip with a clear message.
bool HaveModule(const char* dllName);

// Makes a ZIP of the named files and folders inside folder (recursively); false when zip failed.
bool MakeZip(const std::string& zipPath, const std::string& folder, const std::vector<std::string>& names,
             bool stored = false);

}  // namespace norvex::test

#define NORVEX_REQUIRE_MODULE(dll)                                                          \
    do {                                                                                    \
        if (!::norvex::test::HaveModule(dll)) GTEST_SKIP() << "module " dll " is not built"; \
    } while (0)
