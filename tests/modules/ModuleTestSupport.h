// Helpers of the module tests: a module loaded through dlopen as the host loads it, a test window
// that records progress and answers questions, and tree snapshots for byte-for-byte comparisons.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archivers/ArchiverAbi.h"

namespace norvex::test {

// One module, loaded from the build's module folder by its DLL name, with its entries resolved.
class LoadedModule {
public:
    LoadedModule(const std::string& dllName, const std::string& prefix);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return handle_ != nullptr && command != nullptr; }
    void* symbol(const std::string& suffix) const;

    // Runs the command function with a UTF-8 command line (converted to cp932 for the call).
    int32_t run(NvxWindow* window, const std::string& utf8CmdLine, std::string* output = nullptr) const;

    ARC_COMMAND command = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_GET_ARC_ORIGINAL_SIZE getArcOriginalSize = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;
    ARC_GET_SIZE_EX getOriginalSizeEx = nullptr;
    ARC_GET_TIME_EX getWriteTimeEx = nullptr;
    ARC_GET_ARCHIVE_TYPE getArchiveType = nullptr;
    ARC_SET_OWNER_WINDOW_EX setOwnerWindowEx = nullptr;
    ARC_KILL_OWNER_WINDOW_EX killOwnerWindowEx = nullptr;

private:
    void* handle_ = nullptr;
    std::string prefix_;
};

// A host window: records every progress record, stops when told, answers questions from queues.
struct TestWindow : NvxWindow {
    TestWindow();
    struct Progress {
        uint32_t state;
        std::string source;  // cp932
        std::string dest;    // cp932
        uint64_t size, written;
        uint32_t size32, written32;
    };
    std::vector<Progress> progress;
    std::deque<int32_t> overwriteAnswers;  // consumed in order; empty = ARC_ANSWER_NO
    std::vector<std::string> overwriteQuestions;
    std::deque<std::string> passwords;     // consumed in order; empty = the user cancels
    int passwordQuestions = 0;
    std::vector<std::string> passwordCaptions;  // cp932
    // Stop when this returns true for a record (default: never).
    std::function<bool(const Progress&)> stopWhen;
    // What NvxWindow::refused told, once listenForRefusals() has set it; every call answers
    // refusedAnswer.
    struct Refusal {
        int32_t cause, code;
        std::string name, line;  // cp932
    };
    std::vector<Refusal> refusals;
    int32_t refusedAnswer = 1;
    void listenForRefusals();
};

// Every file, folder and link under root, by relative UTF-8 path: "f:<content>", "d", "l:<target>".
std::map<std::string, std::string> SnapshotTree(const std::string& root);

// Clears the UTF-8 flag (bit 11) in every local and central header of a ZIP file, so that its names
// look like names without a charset.
void ClearZipUtf8Flags(const std::string& zipPath);

// Every entry name of an archive, as FindFirst/FindNext give them (UTF-8); endCode receives the
// result that ended the walk (-1 when the listing ran to its end).
std::vector<std::string> ListAll(const LoadedModule& module, const std::string& archive, int32_t* endCode = nullptr);

// n bytes of noise, the same for the same seed.
std::string RandomBytes(std::size_t n, unsigned seed = 2);
// n bytes of words, Japanese and English, that compress well; the same for the same seed.
std::string WordText(std::size_t n, unsigned seed);

// The UTF-8 of a cp932 text and back, for building expectations.
std::string Sjis(const std::string& utf8);  // cp932 bytes of a UTF-8 literal

}  // namespace norvex::test
