// Loading modules as the host does, the recording window and tree snapshots.
#include "tests/modules/ModuleTestSupport.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <unistd.h>

#include "platform/AnsiCodec.h"
#include "platform/ModuleLoader.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace norvex::test {

LoadedModule::LoadedModule(const std::string& dllName, const std::string& prefix) : prefix_(prefix) {
    SetModuleFolder(ToAnsi(NORVEX_TEST_MODULE_DIR));
    handle_ = LoadModule(dllName);
    if (!handle_) return;
    command = reinterpret_cast<ARC_COMMAND>(ModuleSymbol(handle_, prefix.c_str()));
    openArchive = reinterpret_cast<ARC_OPEN_ARCHIVE>(symbol(ARC_SUFFIX_OPEN_ARCHIVE));
    closeArchive = reinterpret_cast<ARC_CLOSE_ARCHIVE>(symbol(ARC_SUFFIX_CLOSE_ARCHIVE));
    findFirst = reinterpret_cast<ARC_FIND_FIRST>(symbol(ARC_SUFFIX_FIND_FIRST));
    findNext = reinterpret_cast<ARC_FIND_NEXT>(symbol(ARC_SUFFIX_FIND_NEXT));
    getArcOriginalSize = reinterpret_cast<ARC_GET_ARC_ORIGINAL_SIZE>(symbol(ARC_SUFFIX_GET_ARC_ORIGINAL_SIZE));
    checkArchive = reinterpret_cast<ARC_CHECK_ARCHIVE>(symbol(ARC_SUFFIX_CHECK_ARCHIVE));
    getOriginalSizeEx = reinterpret_cast<ARC_GET_SIZE_EX>(symbol(ARC_SUFFIX_GET_ORIGINAL_SIZE_EX));
    getWriteTimeEx = reinterpret_cast<ARC_GET_TIME_EX>(symbol(ARC_SUFFIX_GET_WRITE_TIME_EX));
    getArchiveType = reinterpret_cast<ARC_GET_ARCHIVE_TYPE>(symbol(ARC_SUFFIX_GET_ARCHIVE_TYPE));
    setOwnerWindowEx = reinterpret_cast<ARC_SET_OWNER_WINDOW_EX>(symbol(ARC_SUFFIX_SET_OWNER_WINDOW_EX));
    killOwnerWindowEx = reinterpret_cast<ARC_KILL_OWNER_WINDOW_EX>(symbol(ARC_SUFFIX_KILL_OWNER_WINDOW_EX));
}

LoadedModule::~LoadedModule() {
    if (handle_) FreeModule(handle_);
}

void* LoadedModule::symbol(const std::string& suffix) const {
    return handle_ ? ModuleSymbol(handle_, (prefix_ + suffix).c_str()) : nullptr;
}

int32_t LoadedModule::run(NvxWindow* window, const std::string& utf8CmdLine, std::string* output) const {
    std::string line = ToAnsi(utf8CmdLine);
    std::vector<char> buffer(16384, '\0');
    int32_t code = command(window, line.c_str(), buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (output) *output = FromAnsi(buffer.data());
    return code;
}

namespace {

int32_t SendArcExtract(NvxWindow* self, uint32_t state, const ArcProgressRecord* record) {
    auto* w = static_cast<TestWindow*>(self);
    TestWindow::Progress p{state,
                           record->info.sourceFileName,
                           record->info.destFileName,
                           record->fileSize64,
                           record->writeSize64,
                           record->info.fileSize,
                           record->info.writeSize};
    w->progress.push_back(p);
    return (w->stopWhen && w->stopWhen(p)) ? 1 : 0;
}

int32_t Ask(NvxWindow* self, int32_t kind, const char* caption, const char* text, char* answerText,
            uint32_t answerSize) {
    auto* w = static_cast<TestWindow*>(self);
    if (kind == ARC_ASK_OVERWRITE) {
        w->overwriteQuestions.push_back(text);
        if (w->overwriteAnswers.empty()) return ARC_ANSWER_NO;
        int32_t a = w->overwriteAnswers.front();
        w->overwriteAnswers.pop_front();
        return a;
    }
    ++w->passwordQuestions;
    w->passwordCaptions.push_back(caption ? caption : "");
    if (w->passwords.empty()) return ARC_ANSWER_CANCEL;
    std::string pw = w->passwords.front();
    w->passwords.pop_front();
    std::snprintf(answerText, answerSize, "%s", pw.c_str());
    return ARC_ANSWER_YES;
}

int32_t Refused(NvxWindow* self, int32_t cause, int32_t code, const char* name, const char* line) {
    static std::mutex mutex;  // a module may tell from any of its threads
    std::lock_guard lock(mutex);
    auto* w = static_cast<TestWindow*>(self);
    w->refusals.push_back({cause, code, name ? name : "", line ? line : ""});
    return w->refusedAnswer;
}

}  // namespace

void TestWindow::listenForRefusals() { refused = &Refused; }

TestWindow::TestWindow() {
    structSize = sizeof(NvxWindow);
    refused = nullptr;
    context = nullptr;
    sendArcExtract = &SendArcExtract;
    ask = &Ask;
    isProtected = nullptr;
}

std::map<std::string, std::string> SnapshotTree(const std::string& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string rel = it->path().lexically_relative(root).string();
        if (it->is_symlink()) out[rel] = "l:" + fs::read_symlink(it->path()).string();
        else if (it->is_directory()) out[rel] = "d";
        else out[rel] = "f:" + ReadFile(it->path().string());
    }
    return out;
}

void ClearZipUtf8Flags(const std::string& zipPath) {
    std::string data = ReadFile(zipPath);
    for (std::size_t i = 0; i + 10 < data.size(); ++i) {
        if (data[i] != 'P' || data[i + 1] != 'K') continue;
        std::size_t flagAt;
        if (data[i + 2] == 3 && data[i + 3] == 4) flagAt = i + 6;
        else if (data[i + 2] == 1 && data[i + 3] == 2) flagAt = i + 8;
        else continue;
        data[flagAt + 1] = static_cast<char>(static_cast<unsigned char>(data[flagAt + 1]) & ~0x08);
    }
    std::ofstream(zipPath, std::ios::binary | std::ios::trunc) << data;
}

std::string Sjis(const std::string& utf8) { return ToAnsi(utf8); }

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

std::string WordText(std::size_t n, unsigned seed) {
    static const char* words[] = {"archive ", "folder ", "圧縮 ", "解凍 ", "block\n", "データ ", "zip ", "cab "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += words[rng() % 8];
    s.resize(n);
    return s;
}

std::vector<std::string> ListAll(const LoadedModule& module, const std::string& archive, int32_t* endCode) {
    std::vector<std::string> names;
    HARC h = module.openArchive(nullptr, ToAnsi(archive).c_str(), 0);
    if (!h) return names;
    ArcEntryRecord rec;
    int32_t r = module.findFirst(h, "*", &rec);
    for (; r == 0; r = module.findNext(h, &rec)) names.push_back(FromAnsi(rec.fileName));
    if (endCode) *endCode = r;
    module.closeArchive(h);
    return names;
}

}  // namespace norvex::test
