// One fuzz input for an archiver module, shared by the libFuzzer targets (which link a module's
// entries statically) and the test that replays kept inputs (which loads the built module as the host
// does). The bytes are an archive: it is listed through OpenArchive / FindFirst / FindNext, checked
// with CheckArchive, tested and extracted with the module's command function into a scratch folder.
//
// What must hold for any input, besides "no crash, no leak, no sanitizer report":
//  - nothing is written beside the destination folder, and nothing inside it links out of it;
//  - no temporary file of the writer is left behind;
//  - the records are well formed: NUL-terminated texts, 32-bit sizes saturated from the 64-bit ones,
//    every destination in a progress record under the destination folder;
//  - listing and extracting agree on failure: a failed command returns a failure code (0x8000 and
//    up), never a crash.
// RunArchiveFuzzInput returns an empty text when all of that holds, else what went wrong.
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archivers/ArchiverAbi.h"

namespace norvex::fuzz {

inline constexpr std::size_t kArchiveFuzzMaxInput = 256 * 1024;
inline constexpr int kArchiveFuzzMaxEntries = 20000;

// A module's entries, however they were found.
struct ModuleEntries {
    ARC_COMMAND command = nullptr;
    ARC_OPEN_ARCHIVE openArchive = nullptr;
    ARC_CLOSE_ARCHIVE closeArchive = nullptr;
    ARC_FIND_FIRST findFirst = nullptr;
    ARC_FIND_NEXT findNext = nullptr;
    ARC_GET_ARC_ORIGINAL_SIZE getArcOriginalSize = nullptr;
    ARC_CHECK_ARCHIVE checkArchive = nullptr;
    ARC_GET_SIZE_EX getOriginalSizeEx = nullptr;
    ARC_GET_TIME_EX getWriteTimeEx = nullptr;
    const char* extension = ".arc";   // the archive's file name extension (".zip", ...)
    const char* extractSwitches = ""; // switches for "overwrite always, with folders" in its dialect
};

namespace detail {

inline int RemoveOne(const char* path, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP) ::rmdir(path);
    else ::unlink(path);
    return 0;
}

// Removes a tree without following links; folders are made writable first so that a read-only
// folder from the archive cannot keep its content.
inline void RemoveTree(const std::string& root) {
    ::nftw(root.c_str(), [](const char* p, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_D) ::chmod(p, (st->st_mode & 07777) | 0700);
        return 0;
    }, 32, FTW_PHYS);
    ::nftw(root.c_str(), RemoveOne, 32, FTW_DEPTH | FTW_PHYS);
}

inline bool Terminated(const char* field, std::size_t size) { return std::memchr(field, 0, size) != nullptr; }

inline uint32_t Saturated(uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

// Host window of the run: checks each progress record, answers every question "yes".
struct CheckingWindow : NvxWindow {
    std::string destination;  // with a trailing "/"
    std::string problem;
    long records = 0;

    CheckingWindow() {
        structSize = sizeof(NvxWindow);
        refused = nullptr;
        context = nullptr;
        sendArcExtract = [](NvxWindow* self, uint32_t, const ArcProgressRecord* r) -> int32_t {
            auto* w = static_cast<CheckingWindow*>(self);
            ++w->records;
            if (!r) {
                w->problem = "null progress record";
                return 1;
            }
            const EXTRACTINGINFOEX& i = r->info;
            if (!Terminated(i.sourceFileName, sizeof i.sourceFileName) ||
                !Terminated(i.destFileName, sizeof i.destFileName) || !Terminated(i.attribute, sizeof i.attribute) ||
                !Terminated(i.method, sizeof i.method))
                w->problem = "progress record text without its NUL";
            else if (r->structSize != sizeof(ArcProgressRecord))
                w->problem = "progress record without its size";
            else if (i.fileSize != Saturated(r->fileSize64) || i.writeSize != Saturated(r->writeSize64))
                w->problem = "32-bit sizes of a progress record do not follow the 64-bit ones";
            else if (i.destFileName[0] != '\0' &&
                     std::strncmp(i.destFileName, w->destination.c_str(), w->destination.size()) != 0)
                w->problem = std::string("progress names a path outside the destination: ") + i.destFileName;
            return w->problem.empty() ? 0 : 1;
        };
        ask = [](NvxWindow*, int32_t kind, const char*, const char*, char* answerText, uint32_t answerSize) -> int32_t {
            if (kind == ARC_ASK_PASSWORD) {
                if (answerText && answerSize > 8) std::strcpy(answerText, "password");
                return ARC_ANSWER_YES;
            }
            return ARC_ANSWER_YES;
        };
        isProtected = nullptr;
    }
};

// Relative link target, from a link depth folders under the destination: does it stay inside?
inline bool LinkStaysInside(const std::string& target, int depth) {
    if (target.empty() || target[0] == '/') return false;
    int level = depth;
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos) end = target.size();
        const std::string part = target.substr(start, end - start);
        if (part == "..") {
            if (--level < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++level;
        }
        start = end + 1;
    }
    return true;
}

// Walks the destination: no writer residue, no link out.
inline void CheckTree(const std::string& folder, int depth, std::string& problem) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (name.rfind(".nvx", 0) == 0 && name.size() > 8 && name.compare(name.size() - 4, 4, ".tmp") == 0)
            problem = "a temporary file of the writer was left: " + path;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            if (n < 0 || !LinkStaysInside(std::string(target, static_cast<std::size_t>(n)), depth))
                problem = "a link points out of the destination: " + path;
        } else if (S_ISDIR(st.st_mode)) {
            CheckTree(path, depth + 1, problem);
        } else if (!S_ISREG(st.st_mode)) {
            problem = "a special file was made: " + path;
        }
        if (!problem.empty()) break;
    }
    ::closedir(dir);
}

}  // namespace detail

// The scratch folder of one process: root/a<ext> is the archive, root/out/ the destination. Nothing
// else may ever appear in root.
struct ArchiveFuzzScratch {
    std::string root;
    explicit ArchiveFuzzScratch(const char* tag) {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/nvx-fuzz-" + tag + "-XXXXXX";
        if (::mkdtemp(templ.data())) root = templ;
    }
    ~ArchiveFuzzScratch() {
        if (!root.empty()) detail::RemoveTree(root);
    }
    ArchiveFuzzScratch(const ArchiveFuzzScratch&) = delete;
    ArchiveFuzzScratch& operator=(const ArchiveFuzzScratch&) = delete;
};

inline std::string RunArchiveFuzzInput(const ModuleEntries& m, const ArchiveFuzzScratch& scratch,
                                       const std::uint8_t* data, std::size_t size) {
    using namespace detail;
    if (size > kArchiveFuzzMaxInput || scratch.root.empty()) return {};
    const std::string archiveName = std::string("a") + m.extension;
    const std::string archive = scratch.root + "/" + archiveName;
    const std::string out = scratch.root + "/out";
    {
        const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return "cannot write the archive";
        const bool ok = size == 0 || ::write(fd, data, size) == static_cast<ssize_t>(size);
        ::close(fd);
        if (!ok) return "cannot write the archive";
    }
    std::string problem;

    // Listing.
    if (HARC h = m.openArchive(nullptr, archive.c_str(), ARC_M_ERROR_MESSAGE_OFF)) {
        ArcEntryRecord record;
        int32_t code = m.findFirst(h, "*", &record);
        for (int n = 0; code == 0 && n < kArchiveFuzzMaxEntries && problem.empty(); ++n) {
            if (!Terminated(record.fileName, sizeof record.fileName) ||
                !Terminated(record.attribute, sizeof record.attribute) || !Terminated(record.method, sizeof record.method))
                problem = "entry record text without its NUL";
            int64_t size64 = -1;
            if (m.getOriginalSizeEx && m.getOriginalSizeEx(h, &size64) &&
                record.originalSize != Saturated(static_cast<uint64_t>(size64)))
                problem = "32-bit entry size does not follow the 64-bit one";
            uint64_t time = 0;
            if (m.getWriteTimeEx) m.getWriteTimeEx(h, &time);
            code = m.findNext(h, &record);
        }
        if (m.getArcOriginalSize) m.getArcOriginalSize(h);
        if (m.closeArchive(h) != 0) problem = "CloseArchive refused its own handle";
    }
    if (!problem.empty()) return problem;
    m.checkArchive(archive.c_str(), ARC_CHECKARCHIVE_FULLCRC);

    // Test and extraction, with a window that checks every record and answers "yes".
    CheckingWindow window;
    window.destination = out + "/";
    char output[2048];
    const std::string test = "t \"" + archive + "\"";
    m.command(&window, test.c_str(), output, sizeof output);
    if (!Terminated(output, sizeof output)) problem = "output text without its NUL";
    const std::string extract =
        std::string("x ") + m.extractSwitches + " \"" + archive + "\" \"" + out + "/\"";
    const int32_t result = m.command(&window, extract.c_str(), output, sizeof output);
    (void)result;
    if (problem.empty()) problem = window.problem;
    if (problem.empty() && !Terminated(output, sizeof output)) problem = "output text without its NUL";

    // Nothing beside the destination; nothing inside it that leads out.
    if (DIR* dir = ::opendir(scratch.root.c_str())) {
        while (dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name != "." && name != ".." && name != archiveName && name != "out" && problem.empty())
                problem = "written outside the destination: " + scratch.root + "/" + name;
        }
        ::closedir(dir);
    }
    if (problem.empty()) CheckTree(out, 0, problem);
    RemoveTree(out);
    ::unlink(archive.c_str());
    return problem;
}

}  // namespace norvex::fuzz
