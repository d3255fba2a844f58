// Writing entries into a destination folder without ever writing outside it.
//
// Rules the extractor keeps, whatever the archive says:
//  - Leading separators and drive letters ("x:") are stripped; "." components are dropped; an entry
//    with a ".." component is refused. Entry names are cp932 inside and converted to the host's UTF-8
//    (FromAnsi) only at the file-system call.
//  - Every folder on the way is opened with openat(O_NOFOLLOW | O_DIRECTORY) from the destination's
//    descriptor, so a symbolic link (from the archive or already on disk) is never followed, and a
//    file "through" a link is refused. A symbolic link entry is made only when its target is relative
//    and stays inside the destination; hard links only to paths inside it; device files, fifos and
//    sockets never. A name that ends in a separator is a folder's: any other entry under it is
//    refused (an empty file is made as the folder).
//  - A file is written under a temporary name in its own folder and renamed onto its real name when
//    complete, so a failure never leaves a truncated file under the real name and never destroys the
//    file it would have replaced. Times and permission bits (no set-id bits) are restored; folders
//    get theirs in finish(), after their content is written.
//  - Overwrite policy: ask ("上書き確認" through NvxWindow::ask: yes, no, yes to all, no to all,
//    cancel), always, never, if newer. Without a window, "ask" keeps the existing file and the entry
//    counts as left out (ARC_ERROR_ALREADY_EXIST), since nobody chose to skip it. An entry that
//    "never" or "if newer" kept from its name is told to the host (ProgressSink::keptExisting), since
//    the archive then holds the only copy of it.
//  - Progress: state ARCEXTRACT_INPROCESS with a filled ArcProgressRecord at the start of each entry,
//    at least every 64 KiB written and at its end (written == size). A non-zero answer stops at once:
//    the partial file is removed and ARC_ERROR_USER_CANCEL is returned.
//  - An entry left out for a reason the user did not choose (refused path, write error, CRC error)
//    makes result() a failure code; entries the user skipped (no, never, if newer, masks) do not.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archivers/ArchiverAbi.h"
#include "modules/common/ArchiveSource.h"
#include "modules/common/CommandLine.h"

namespace norvex::modules {

// The process's umask, read without changing it (umask() would race with other threads). Kept once
// read; while it cannot be read (no descriptor to be had, say) the strictest mask stands in, so that
// no file is ever made more open than the user allows.
mode_t CurrentUmask();

// How the host listens: the window of the call and the optional callback of SetOwnerWindowEx
// (a callback answering 0 stops like a non-zero window answer).
struct ProgressSink {
    NvxWindow* window = nullptr;
    ARCHIVERPROC callback = nullptr;
    ARC_ENUM_MEMBERS_PROC enumProc = nullptr;  // SetEnumMembersProc64: told of each entry, false stops
    // Sends one progress record; true = go on, false = the host asked to stop.
    bool send(uint32_t state, const ArcProgressRecord& record) const;
    // Asks the overwrite question; ARC_ANSWER_*, or 0 when nobody can be asked.
    int32_t askOverwrite(const AnsiString& path) const;
    // True when the host says the existing file at path must not be replaced (an archive of its run).
    bool isProtected(const AnsiString& path, uint64_t device, uint64_t inode) const;
    // Tells the host why the file system refused an entry (NvxWindow::refused); true when the host
    // logs it itself and the module's line is to be left out.
    bool refused(int32_t cause, int32_t code, const AnsiString& name, const AnsiString& line) const;
    // Tells the host that "never overwrite" or "if newer" kept the existing file of an entry's name, so
    // that the entry was not written (ARC_CAUSE_KEPT_EXISTING). Nothing goes into the module's own log.
    void keptExisting(const AnsiString& name) const;
};

// The data of one regular file written ahead of its turn, by a worker of ParallelExtraction, into a
// file without a name (or under a temporary name) in the entry's folder.
struct WrittenData {
    WrittenData() = default;
    ~WrittenData();  // closes the descriptors and removes a temporary name
    WrittenData(const WrittenData&) = delete;
    WrittenData& operator=(const WrittenData&) = delete;
    int32_t code = ARC_OK;     // ARC_OK when the whole data is in the file
    AnsiString message;        // the log line of a failure, as extract() would write it
    int folder = -1;           // the entry's folder, kept only with a temporary name
    int file = -1;
    std::string temp;          // the temporary name, when the file system has no files without one
    int64_t written = 0;
    bool endsInHole = false;
    bool finished = false;     // the file is complete and has its permission bits and times
};

// The last folder files went into, kept open for the next file in the same folder (one per thread).
class FolderCache {
public:
    FolderCache() = default;
    ~FolderCache();
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

private:
    friend class SafeExtractor;
    std::vector<AnsiString> parts;
    int fd = -1;
};

// What extractWritten() waits on: the worker writing an entry's data.
class AheadWrite {
public:
    virtual ~AheadWrite() = default;
    // Blocks until more than `since` bytes are written or the write is over; the bytes written.
    virtual int64_t wait(int64_t since, bool& over) = 0;
    // Once over: the outcome, or nullptr when the worker could not start (no folder or file could be
    // made); the entry then goes through extract() with the reader's data.
    virtual WrittenData* outcome() = 0;
    // The entry will not be named: the worker stops; returns once it has let go of the file.
    virtual void abandon() = 0;
};

class SafeExtractor {
public:
    SafeExtractor(ProgressSink sink, AnsiString destination, ExtractOptions options);
    ~SafeExtractor();
    SafeExtractor(const SafeExtractor&) = delete;
    SafeExtractor& operator=(const SafeExtractor&) = delete;

    // Creates the destination folder (with its parents) when missing and opens it. ARC_OK,
    // ARC_ERROR_MAKEDIRECTORY, or ARC_ERROR_TOO_MANY_FILES when no descriptor is left.
    int32_t open();

    // Writes one entry, reading its data from source. Returns ARC_OK when written or skipped by
    // choice; ARC_ERROR_USER_CANCEL to stop everything; another failure code when the entry was left
    // out (remembered for result(); the caller goes on with the next entry unless source.fatal()).
    int32_t extract(const EntryInfo& entry, ArchiveSource& source);

    // Any thread: writes a regular file's data ahead of its turn (ParallelExtraction). progress(written)
    // is called at least every 64 KiB; false stops the write. False when the entry's folder or a file
    // in it cannot be made or the path is refused: nothing was read, extract() handles it in its turn.
    bool writeAhead(const EntryInfo& entry, EntryDataReader& data, WrittenData& out,
                    const std::function<bool(int64_t)>& progress, FolderCache& folders) const;

    // In the entry's turn, on the calling thread: extract() for a regular file whose data a worker
    // writes. The same checks, question, progress records and naming; the data is waited for.
    // `fallback` is used when the worker could not start.
    int32_t extractWritten(const EntryInfo& entry, AheadWrite& ahead, ArchiveSource& fallback);

    // Reads an entry's data to its end without writing (testing); progress and cancel as extract().
    int32_t test(const EntryInfo& entry, ArchiveSource& source);

    // Records a failure found outside extract() (a broken header, say).
    // sysError: the errno of a file-system call that refused the entry (0 when none), and name the
    // entry as shown; with them the host is told the cause (ProgressSink::refused). EMFILE or ENFILE
    // records ARC_ERROR_TOO_MANY_FILES whatever code says.
    void fail(int32_t code, const AnsiString& message, int sysError = 0, const AnsiString& name = {});

    // Applies the folders' times and modes. Returns result().
    int32_t finish();

    // ARC_OK, ARC_ERROR_USER_CANCEL after a cancel, else the first failure code seen.
    int32_t result() const;
    // The Japanese log text of the run (cp932, one line per "\r\n"), for the command's output buffer.
    const AnsiString& log() const { return log_; }
    // Entries written (files, folders and links).
    uint64_t written() const { return written_; }

    // The components (cp932) of the relative path an entry is written to; false when the entry is
    // refused (a ".." component, or nothing left). useFolders false keeps only the file name.
    static bool SanitizePath(std::string_view entryPath, bool useFolders, std::vector<AnsiString>& parts);

private:
    int32_t extractImpl(const EntryInfo& entry, ArchiveSource* source, AheadWrite* ahead);
    // Opens the folder parts[0..count) under the destination like the walk of every entry, from the
    // cache when the last file went into the same folder. A folder once walked cannot turn into a
    // link: an entry never replaces a folder. fd belongs to the cache: valid until its next use.
    int openFolderCached(const std::vector<AnsiString>& parts, std::size_t count, FolderCache& cache, int& fd) const;
    struct Impl;
    Impl* impl_;
    AnsiString log_;
    uint64_t written_ = 0;
    DosClock clock_;  // the progress records' DOS times (the extraction's own thread only)
};

// The code of an errno value met while writing: ENOSPC / EDQUOT give ARC_DISK_SPACE, EROFS
// ARC_READ_ONLY, ENAMETOOLONG ARC_ERROR_LONG_FILE_NAME, others ARC_ERROR_CANNOT_WRITE.
int32_t WriteErrorCode(int err);

// Appends one line of a module's output text and its "\r\n". The host reads the output line by line,
// and as text up to its first NUL, so a line break or a NUL that a name in line brings along is
// written as "\x0a", "\x0d" or "\x00" (as the host shows every control character of a name): a name
// never starts a line of its own nor cuts the output short.
void AppendOutputLine(AnsiString& output, const AnsiString& line);

}  // namespace norvex::modules
