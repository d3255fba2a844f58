// Writing entries under the destination folder: path refusal, walking folders without following
// links, temporary files renamed into place, the overwrite policy, progress and cancel.
#include "modules/common/SafeExtractor.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

namespace {

constexpr int64_t kProgressStep = 64 * 1024;
// The step of progress told for data a worker wrote before the entry's turn.
constexpr int64_t kRelayStep = 256 * 1024;
// Links with ".." in their target that one run makes at most (each is checked again whenever a
// link is replaced).
constexpr std::size_t kMaxClimbingLinks = 256;
constexpr std::size_t kHoleBlock = 4096;

bool AllZero(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    return size == 0 || (p[0] == 0 && std::memcmp(p, p + 1, size - 1) == 0);
}

// A descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_ = -1;
};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Splits a cp932 path at whole-character separators.
std::vector<AnsiString> SplitPath(std::string_view path) {
    std::vector<AnsiString> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t pos = AnsiFirstDelimiter(path, "/\\", start);
        parts.emplace_back(path.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return parts;
}

// True when the path ends in a separator (a whole character: the trail byte 0x5C of "表" is not one).
bool NamesAFolder(std::string_view path) { return !path.empty() && SplitPath(path).back().empty(); }

AnsiString JoinParts(const std::vector<AnsiString>& parts, std::size_t count) {
    AnsiString out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += PathDelim;
        out += parts[i];
    }
    return out;
}

// An entry's name as a log line shows it: the log is text up to its first NUL, so a NUL in a name
// (refused) is written out as "\\x00" rather than cutting the line and every line after it.
AnsiString ShownPath(const AnsiString& path) {
    if (path.find('\0') == AnsiString::npos) return path;
    AnsiString out;
    for (char c : path) {
        if (c == '\0') out += "\\x00";
        else out.push_back(c);
    }
    return out;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct timespec ToTimespec(bool has, int64_t sec, int32_t nsec) {
    struct timespec ts {};
    if (!has) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = nsec;
    return ts;
}

}  // namespace

mode_t CurrentUmask() {
    static std::atomic<int> known{-1};
    if (const int value = known.load(std::memory_order_relaxed); value >= 0) return static_cast<mode_t>(value);
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            const int value = static_cast<int>(std::stoul(line.substr(6), nullptr, 8) & 0777);
            known.store(value, std::memory_order_relaxed);
            return static_cast<mode_t>(value);
        }
    }
    return 077;
}

bool ProgressSink::send(uint32_t state, const ArcProgressRecord& record) const {
    if (window && window->sendArcExtract && window->sendArcExtract(window, state, &record) != 0) return false;
    if (callback && !callback(window, 0, state, const_cast<ArcProgressRecord*>(&record))) return false;
    return true;
}

bool ProgressSink::isProtected(const AnsiString& path, uint64_t device, uint64_t inode) const {
    if (!window || window->structSize < offsetof(NvxWindow, isProtected) + sizeof(window->isProtected) ||
        !window->isProtected)
        return false;
    return window->isProtected(window, path.c_str(), device, inode) != 0;
}

int32_t ProgressSink::askOverwrite(const AnsiString& path) const {
    if (!window || !window->ask) return 0;
    static const AnsiString caption = "上書き確認"_ansi;
    return window->ask(window, ARC_ASK_OVERWRITE, caption.c_str(), path.c_str(), nullptr, 0);
}

bool ProgressSink::refused(int32_t cause, int32_t code, const AnsiString& name, const AnsiString& line) const {
    if (!window || window->structSize < NVX_WINDOW_SIZE_WITH_REFUSED || !window->refused) return false;
    return window->refused(window, cause, code, name.c_str(), line.c_str()) != 0;
}

void ProgressSink::keptExisting(const AnsiString& name) const {
    if (!window || window->structSize < NVX_WINDOW_SIZE_WITH_REFUSED || !window->refused) return;
    const AnsiString line = "> 同名のファイルを残したため展開しません: "_ansi + name;
    window->refused(window, ARC_CAUSE_KEPT_EXISTING, ARC_OK, name.c_str(), line.c_str());
}

// The cause of a refusal from the errno of the call, or from the failure code it was turned into.
int32_t RefusalCause(int32_t code, int err) {
    switch (err) {
    case ENAMETOOLONG: return ARC_CAUSE_NAME_TOO_LONG;
    case ENOSPC: return ARC_CAUSE_DISK_FULL;
    case EDQUOT: return ARC_CAUSE_QUOTA;
    case EFBIG: return ARC_CAUSE_FILE_TOO_LARGE;
    case EROFS: return ARC_CAUSE_READ_ONLY;
    case EACCES:
    case EPERM: return ARC_CAUSE_PERMISSION;
    case ENOTDIR: return ARC_CAUSE_NOT_A_FOLDER;
    case EILSEQ:
    case EINVAL: return ARC_CAUSE_INVALID_NAME;
    case EIO: return ARC_CAUSE_IO_ERROR;
    case EMFILE:
    case ENFILE: return ARC_CAUSE_TOO_MANY_OPEN;
    default: break;
    }
    switch (code) {
    case ARC_ERROR_LONG_FILE_NAME: return ARC_CAUSE_NAME_TOO_LONG;
    case ARC_DISK_SPACE: return ARC_CAUSE_DISK_FULL;
    case ARC_READ_ONLY: return ARC_CAUSE_READ_ONLY;
    default: return ARC_CAUSE_UNKNOWN;
    }
}

int32_t WriteErrorCode(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ARC_DISK_SPACE;
    case EROFS: return ARC_READ_ONLY;
    case ENAMETOOLONG: return ARC_ERROR_LONG_FILE_NAME;
    default: return ARC_ERROR_CANNOT_WRITE;
    }
}

struct SafeExtractor::Impl {
    ProgressSink sink;
    AnsiString destination;  // cp932, no trailing separator
    ExtractOptions options;
    Fd root;
    bool yesAll = false, noAll = false;
    bool cancelled = false;
    int32_t firstFailure = ARC_OK;
    struct FolderFix {
        std::vector<AnsiString> parts;
        EntryInfo entry;
    };
    std::vector<FolderFix> folders;
    FolderCache folderCache;  // the calling thread's
    // The links made by this run whose targets climb (".."): the host names of the folder each
    // lies in, its target.
    struct MadeLink {
        std::vector<std::string> folder;
        std::string target;
    };
    std::vector<MadeLink> links;
};

SafeExtractor::SafeExtractor(ProgressSink sink, AnsiString destination, ExtractOptions options) : impl_(new Impl) {
    impl_->sink = sink;
    // A host path: only "/" separates ("back\\" is a folder's name).
    while (destination.size() > 1 && destination.back() == '/') destination.pop_back();
    if (destination.empty()) destination = ".";
    impl_->destination = std::move(destination);
    impl_->options = options;
}

SafeExtractor::~SafeExtractor() { delete impl_; }

void SafeExtractor::fail(int32_t code, const AnsiString& message, int sysError, const AnsiString& name) {
    // Out of descriptors, no step can be done, whatever it was (a folder, a file, a link): the run
    // fails as having too many files open, not as the step that met the limit first.
    if (sysError == EMFILE || sysError == ENFILE) code = ARC_ERROR_TOO_MANY_FILES;
    if (code == ARC_ERROR_USER_CANCEL) impl_->cancelled = true;
    else if (impl_->firstFailure == ARC_OK) impl_->firstFailure = code;
    const int32_t cause = RefusalCause(code, sysError);
    if (!message.empty() && cause != ARC_CAUSE_UNKNOWN && impl_->sink.refused(cause, code, name, message)) return;
    if (!message.empty()) AppendOutputLine(log_, message);
}

void AppendOutputLine(AnsiString& output, const AnsiString& line) {
    // None of these bytes is ever the trail byte of a cp932 character.
    for (const char c : line) {
        if (c == '\0') output += "\\x00";  // the output is text up to its first NUL
        else if (c == '\n') output += "\\x0a";
        else if (c == '\r') output += "\\x0d";
        else output += c;
    }
    output += "\r\n";
}

int32_t SafeExtractor::result() const {
    if (impl_->cancelled) return ARC_ERROR_USER_CANCEL;
    return impl_->firstFailure;
}

int32_t SafeExtractor::open() {
    std::string host = FromAnsi(impl_->destination);
    // The destination is the user's choice: links in it are followed, missing folders are made.
    for (std::size_t pos = 1; pos <= host.size(); ++pos) {
        if (pos == host.size() || host[pos] == '/') {
            std::string prefix = host.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                fail(ARC_ERROR_MAKEDIRECTORY, "> 展開先フォルダを作成できません: "_ansi + impl_->destination, errno,
                     impl_->destination);
                return ARC_ERROR_MAKEDIRECTORY;
            }
        }
    }
    impl_->root.reset(::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!impl_->root) {
        // Only the descriptor limit is a cause worth naming here; any other failure to open a folder
        // just made or found keeps the plain line.
        const int err = errno == EMFILE || errno == ENFILE ? errno : 0;
        fail(ARC_ERROR_MAKEDIRECTORY, "> 展開先フォルダを開けません: "_ansi + impl_->destination, err, impl_->destination);
        return result();
    }
    return ARC_OK;
}

bool SafeExtractor::SanitizePath(std::string_view entryPath, bool useFolders, std::vector<AnsiString>& parts) {
    parts.clear();
    // A name of ASCII alone (most names) is its own host name and has no double-byte characters to
    // step over: the same rules, without the conversions.
    if (std::all_of(entryPath.begin(), entryPath.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::size_t start = 0;
        while (start <= entryPath.size()) {
            std::size_t end = entryPath.find_first_of("/\\", start);
            if (end == std::string_view::npos) end = entryPath.size();
            std::string_view c = entryPath.substr(start, end - start);
            start = end + 1;
            if (parts.empty() && c.size() >= 2 && IsAsciiLetter(c[0]) && c[1] == ':') c.remove_prefix(2);
            if (c.empty() || c == ".") continue;
            if (c == ".." || c.find('\0') != std::string_view::npos) return false;
            parts.emplace_back(c);
        }
        if (parts.empty()) return false;
        if (!useFolders) parts.erase(parts.begin(), parts.end() - 1);
        return true;
    }
    std::vector<AnsiString> raw = SplitPath(entryPath);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        AnsiString& c = raw[i];
        // A drive letter before the first separator ("C:", "C:name") is stripped.
        if (parts.empty() && c.size() >= 2 && IsAsciiLetter(c[0]) && c[1] == ':') c.erase(0, 2);
        if (c.empty() || c == ".") continue;
        if (c == "..") return false;
        // What the file system would see must be this one component: a NUL would cut the name
        // short, a "/" made of a lone lead byte's trail would split it.
        std::string host = FromAnsi(c);
        if (host.find_first_of(std::string_view("/\0", 2)) != std::string::npos || host == "." || host == "..")
            return false;
        parts.push_back(std::move(c));
    }
    if (parts.empty()) return false;
    if (!useFolders) parts.erase(parts.begin(), parts.end() - 1);
    return true;
}

namespace {

enum class WalkResult { Ok, Link, NotFolder, CannotMake };

// Opens the folder parts[0..count) under root, making missing ones, never following a link.
WalkResult OpenFolder(int root, const std::vector<AnsiString>& parts, std::size_t count, bool create, Fd& out) {
    Fd current(::dup(root));
    if (!current) return WalkResult::CannotMake;
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = FromAnsi(parts[i]);
        int fd = ::openat(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), name.c_str(), 0777) != 0 && errno != EEXIST) return WalkResult::CannotMake;
            fd = ::openat(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            struct stat st {};
            if (::fstatat(current.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                return WalkResult::Link;
            if (errno == ELOOP) return WalkResult::Link;
            return errno == ENOTDIR ? WalkResult::NotFolder : WalkResult::CannotMake;
        }
        current.reset(fd);
    }
    out = std::move(current);
    return WalkResult::Ok;
}

// A name for a temporary file beside the final one.
std::string TempName() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char buf[40];
    std::snprintf(buf, sizeof buf, ".nvx%016llx.tmp", static_cast<unsigned long long>(rng()));
    return buf;
}

// Checks that a link target, relative to the folder of the link (depth folders under the
// destination), stays inside the destination.
bool LinkTargetInside(std::string_view target, std::size_t depth) {
    if (target.empty() || target[0] == '/' || target[0] == '\\') return false;
    if (target.size() >= 2 && IsAsciiLetter(target[0]) && target[1] == ':') return false;
    long level = static_cast<long>(depth);
    for (const AnsiString& c : SplitPath(target)) {
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (--level < 0) return false;
        } else {
            ++level;
        }
    }
    return true;
}

// The permission bits a regular file entry gets (no set-id bits), the umask applied.
mode_t FileMode(const EntryInfo& entry) {
    mode_t mode = entry.hasMode ? (entry.mode & 0777) : (entry.readOnly ? 0444 : 0666);
    return mode & ~CurrentUmask();
}

// Creates a file without a name in folder (or, where the file system has none, one under a new
// temporary name). A file without a name gets its final permission bits `mode` at once (nobody can
// open it before it is complete and named); a named one is made 0600, and its bits are set when it
// is complete. 0 or the errno.
int OpenNewFile(int folder, mode_t mode, Fd& file, bool& named, std::string& temp) {
    static const bool canNameLater = ::access("/proc/self/fd", X_OK) == 0;
    named = false;
    if (canNameLater) file.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    for (int tries = 0; tries < 8 && !file; ++tries) {
        temp = TempName();
        file.reset(::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        named = static_cast<bool>(file);
        if (!file && errno != EEXIST) break;
    }
    return file ? 0 : (errno ? errno : EIO);
}

// Gives a file without a name (OpenNewFile) the name `name` in folder; never replaces what is
// there (EEXIST). 0 or the errno.
int NameNewFile(int file, int folder, const char* name) {
    // A descriptor names its file directly where the kernel lets this process do so; elsewhere
    // through /proc.
    static std::atomic<bool> emptyPath{true};
    if (emptyPath.load(std::memory_order_relaxed)) {
        if (::linkat(file, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM) return errno;
        emptyPath.store(false, std::memory_order_relaxed);
    }
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file);
    return ::linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// The entry's times on a complete file (the access time is the modification time when the archive
// has none).
void SetFileTimes(int file, const EntryInfo& entry) {
    struct timespec times[2] = {ToTimespec(entry.hasAtime, entry.atime, entry.atimeNsec),
                                ToTimespec(entry.hasMtime, entry.mtime, entry.mtimeNsec)};
    if (entry.hasMtime && !entry.hasAtime) times[0] = times[1];
    if (entry.hasMtime || entry.hasAtime) ::futimens(file, times);
}

struct WriteOutcome {
    int32_t code = ARC_OK;
    AnsiString message;
    int64_t written = 0;
    bool endsInHole = false;
};

// Copies an entry's data (a source's or a reader's readBlock) into fd, never more than declared bytes
// (-1: unknown). progress(written) at least every 64 KiB; false stops with ARC_ERROR_USER_CANCEL.
template <class Reader>
WriteOutcome WriteData(int fd, Reader& reader, int64_t declared, const AnsiString& shown,
                       const std::function<bool(int64_t)>& progress) {
    WriteOutcome o;
    int64_t reported = 0;
    auto writeFailed = [&](int err) {
        o.code = WriteErrorCode(err);
        o.message = (o.code == ARC_DISK_SPACE ? "> ディスクの空きが足りません: "_ansi : "> 書き込めません: "_ansi) + shown;
        return o;
    };
    for (;;) {
        const void* data = nullptr;
        std::size_t size = 0;
        int32_t code = reader.readBlock(data, size);
        if (code != ARC_OK) {
            AnsiString why = reader.lastMessage();
            o.code = code;
            o.message = "> 展開できません: "_ansi + shown + (why.empty() ? AnsiString() : " (" + why + ")");
            return o;
        }
        if (size == 0) return o;
        // Never more than the entry declares: a lying size field cannot make the writer go on.
        if (declared >= 0 && static_cast<uint64_t>(size) > static_cast<uint64_t>(declared - o.written)) {
            o.code = ARC_ERROR_HEADER_BROKEN;
            o.message = "> 書庫のデータがヘッダの大きさを超えています: "_ansi + shown;
            return o;
        }
        // Runs of zeros (the holes of a sparse entry, handed out without their bytes, or plain zeros)
        // are skipped, not written: the file keeps its holes and a run of zeros costs no disk space.
        o.endsInHole = !data || (size >= kHoleBlock && AllZero(data, size));
        if (o.endsInHole) {
            if (::lseek(fd, static_cast<off_t>(size), SEEK_CUR) < 0) return writeFailed(errno);
        } else if (!WriteAll(fd, data, size)) {
            return writeFailed(errno);
        }
        o.written += static_cast<int64_t>(size);
        if (o.written - reported >= kProgressStep) {
            reported = o.written;
            if (!progress(o.written)) {
                o.code = ARC_ERROR_USER_CANCEL;
                return o;
            }
        }
    }
}

// Follows a link target the way the kernel will, from the link's folder (host names of real
// folders under root), through the links already on disk: false as soon as a step would leave root,
// on an absolute target, on a loop, or on ".." after a component that does not exist yet (a link
// made there later could turn it around). Tested by LinkTest.
bool ResolvesInside(int root, std::vector<std::string> position, const std::string& target) {
    constexpr int kMaxLinks = 40;  // as the kernel's limit
    auto split = [](std::string_view text, std::deque<std::string>& into, bool front) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (;;) {
            const std::size_t slash = text.find('/', start);
            parts.emplace_back(text.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
            if (slash == std::string_view::npos) break;
            start = slash + 1;
        }
        if (front) into.insert(into.begin(), parts.begin(), parts.end());
        else into.insert(into.end(), parts.begin(), parts.end());
    };
    if (target.empty() || target[0] == '/') return false;
    std::deque<std::string> todo;
    split(target, todo, false);
    int links = 0;
    bool unresolved = false;  // the position names something that is not a folder on disk (yet)
    while (!todo.empty()) {
        std::string c = std::move(todo.front());
        todo.pop_front();
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (unresolved || position.empty()) return false;
            position.pop_back();
            continue;
        }
        if (unresolved) {
            position.push_back(std::move(c));
            continue;
        }
        Fd folder(::dup(root));
        for (const std::string& p : position) {
            if (!folder) break;
            folder.reset(::openat(folder.get(), p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        struct stat st {};
        if (!folder || ::fstatat(folder.get(), c.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            unresolved = true;
            position.push_back(std::move(c));
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks) return false;
            std::string next(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1, '\0');
            const ssize_t n = ::readlinkat(folder.get(), c.c_str(), next.data(), next.size());
            if (n <= 0 || static_cast<std::size_t>(n) >= next.size()) return false;
            next.resize(static_cast<std::size_t>(n));
            if (next[0] == '/') return false;
            split(next, todo, true);
            continue;
        }
        if (!S_ISDIR(st.st_mode)) unresolved = true;
        position.push_back(std::move(c));
    }
    return true;
}

}  // namespace

int32_t SafeExtractor::extractImpl(const EntryInfo& entry, ArchiveSource* source, AheadWrite* ahead) {
    Impl& d = *impl_;
    if (d.cancelled) return ARC_ERROR_USER_CANCEL;
    if (entry.type == EntryType::File && entry.size == 0 && NamesAFolder(entry.path)) {
        EntryInfo folder = entry;  // an empty file named as a folder is made as the folder
        folder.type = EntryType::Directory;
        return extractImpl(folder, source, ahead);
    }
    std::vector<AnsiString> parts;
    const AnsiString shown = ShownPath(entry.path);

    if (d.sink.enumProc) {
        ArcProgressRecord record;
        FillProgressRecord(entry, AnsiString(), 0, record, clock_);
        if (!d.sink.enumProc(&record)) {
            fail(ARC_ERROR_USER_CANCEL, {});
            return ARC_ERROR_USER_CANCEL;
        }
    }
    if (entry.type == EntryType::Directory && !d.options.useFolders) return ARC_OK;
    // A name that ends in a separator names a folder, whatever kind of entry carries it (a ZIP's
    // Unicode path field may say "dir/" for a file): the host counts it as a folder. Data or a link
    // has nowhere to land as that name.
    if (entry.type != EntryType::Directory && NamesAFolder(entry.path)) {
        fail(ARC_ERROR_HEADER_BROKEN, "> フォルダの項目にデータがあります: "_ansi + shown);
        return ARC_ERROR_HEADER_BROKEN;
    }
    if (!SanitizePath(entry.path, d.options.useFolders, parts)) {
        // A folder entry that is nothing but separators or "." ("/", "./") has nothing to make.
        bool dotDot = false;
        for (const AnsiString& c : SplitPath(entry.path)) dotDot = dotDot || c == "..";
        if (entry.type == EntryType::Directory && !dotDot) return ARC_OK;
        fail(ARC_ERROR_NOT_FILENAME, "> 危険なパスのため展開しません: "_ansi + shown);
        return ARC_ERROR_NOT_FILENAME;
    }
    AnsiString destPath = d.destination + PathDelim + JoinParts(parts, parts.size());

    // The folder's descriptor belongs to the cache and stays open until the next entry.
    int parentFd = -1;
    WalkResult walked = static_cast<WalkResult>(openFolderCached(parts, parts.size() - 1, d.folderCache, parentFd));
    const struct {
        int fd;
        int get() const { return fd; }
    } parent{parentFd};
    switch (walked) {
    case WalkResult::Ok: break;
    case WalkResult::Link:
        fail(ARC_ERROR_NOT_FILENAME, "> シンボリックリンクを経由するため展開しません: "_ansi + shown);
        return ARC_ERROR_NOT_FILENAME;
    case WalkResult::NotFolder:
    case WalkResult::CannotMake:
        fail(ARC_ERROR_MAKEDIRECTORY, "> フォルダを作成できません: "_ansi + shown, errno, shown);
        return ARC_ERROR_MAKEDIRECTORY;
    }
    std::string name = FromAnsi(parts.back());
    ArcProgressRecord record;

    if (entry.type == EntryType::Directory) {
        if (::mkdirat(parent.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            fail(ARC_ERROR_MAKEDIRECTORY, "> フォルダを作成できません: "_ansi + shown, errno, shown);
            return ARC_ERROR_MAKEDIRECTORY;
        }
        struct stat st {};
        if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
            fail(ARC_ERROR_MAKEDIRECTORY, "> フォルダを作成できません: "_ansi + shown);
            return ARC_ERROR_MAKEDIRECTORY;
        }
        d.folders.push_back({parts, entry});
        FillProgressRecord(entry, destPath, 0, record, clock_);
        if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
            fail(ARC_ERROR_USER_CANCEL, {});
            return ARC_ERROR_USER_CANCEL;
        }
        ++written_;
        return ARC_OK;
    }
    if (entry.type == EntryType::Other) {
        fail(ARC_ERROR_NOT_SUPPORT, "> 特殊ファイルは展開しません: "_ansi + shown);
        return ARC_ERROR_NOT_SUPPORT;
    }

    // The overwrite policy, for every kind of entry that lands under a name.
    struct stat existing {};
    bool replacing = false;
    if (::fstatat(parent.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        replacing = true;
        if (d.sink.isProtected(destPath, existing.st_dev, existing.st_ino)) {
            fail(ARC_ERROR_SAME_NAME_FILE, "> 解凍中または解凍待ちの書庫と同じ名前のため展開しません: "_ansi + shown);
            return ARC_ERROR_SAME_NAME_FILE;
        }
        if (S_ISDIR(existing.st_mode)) {
            fail(ARC_ERROR_CANNOT_WRITE, "> 同名のフォルダがあるため展開できません: "_ansi + shown);
            return ARC_ERROR_CANNOT_WRITE;
        }
        bool overwrite = false;
        switch (d.options.overwrite) {
        case OverwritePolicy::Always: overwrite = true; break;
        case OverwritePolicy::Never: overwrite = false; break;
        case OverwritePolicy::IfNewer:
            overwrite = entry.hasMtime && entry.mtime > static_cast<int64_t>(existing.st_mtim.tv_sec);
            break;
        case OverwritePolicy::Ask:
            if (d.yesAll) overwrite = true;
            else if (d.noAll) overwrite = false;
            else {
                switch (d.sink.askOverwrite(destPath)) {
                case ARC_ANSWER_YES: overwrite = true; break;
                case ARC_ANSWER_NO: overwrite = false; break;
                case ARC_ANSWER_YES_ALL: overwrite = d.yesAll = true; break;
                case ARC_ANSWER_NO_ALL:
                    d.noAll = true;
                    overwrite = false;
                    break;
                case ARC_ANSWER_CANCEL:
                    fail(ARC_ERROR_USER_CANCEL, {});
                    return ARC_ERROR_USER_CANCEL;
                default:
                    fail(ARC_ERROR_ALREADY_EXIST, "> 同名のファイルがあり、確認できないため展開しません: "_ansi + shown);
                    return ARC_ERROR_ALREADY_EXIST;
                }
            }
            break;
        }
        if (!overwrite) {
            // "Never", and "if newer" before a file at least as new: the archive holds the only copy
            // of this entry's version. A declined question reaches the host through its answer.
            if (d.options.overwrite != OverwritePolicy::Ask) d.sink.keptExisting(shown);
            return ARC_OK;
        }
    }

    std::string temp;
    std::vector<std::string> linkFolder;
    bool climbs = false;  // the link's target has a ".." component
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) linkFolder.push_back(FromAnsi(parts[i]));
    if (entry.type == EntryType::Symlink) {
        std::string target = FromAnsi(entry.linkTarget);
        climbs = ("/" + target + "/").find("/../") != std::string::npos;
        if (!LinkTargetInside(entry.linkTarget, parts.size() - 1) || !ResolvesInside(d.root.get(), linkFolder, target) ||
            (climbs && d.links.size() >= kMaxClimbingLinks)) {
            fail(ARC_ERROR_NOT_FILENAME, "> 展開先の外を指すリンクは作成しません: "_ansi + shown);
            return ARC_ERROR_NOT_FILENAME;
        }
        for (int tries = 0; tries < 8; ++tries) {
            temp = TempName();
            if (::symlinkat(target.c_str(), parent.get(), temp.c_str()) == 0) break;
            if (errno != EEXIST) {
                const int err = errno;
                int32_t code = WriteErrorCode(err);
                fail(code, "> リンクを作成できません: "_ansi + shown, err, shown);
                return code;
            }
        }
    } else if (entry.type == EntryType::Hardlink) {
        std::vector<AnsiString> targetParts;
        Fd targetFolder;
        if (!SanitizePath(entry.linkTarget, true, targetParts) ||
            OpenFolder(d.root.get(), targetParts, targetParts.size() - 1, false, targetFolder) != WalkResult::Ok) {
            fail(ARC_ERROR_NOT_FILENAME, "> 展開先の外を指すリンクは作成しません: "_ansi + shown);
            return ARC_ERROR_NOT_FILENAME;
        }
        std::string targetName = FromAnsi(targetParts.back());
        struct stat st {};
        if (::fstatat(targetFolder.get(), targetName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
            fail(ARC_ERROR_CANNOT_WRITE, "> リンク先のファイルがありません: "_ansi + shown);
            return ARC_ERROR_CANNOT_WRITE;
        }
        for (int tries = 0; tries < 8; ++tries) {
            temp = TempName();
            if (::linkat(targetFolder.get(), targetName.c_str(), parent.get(), temp.c_str(), 0) == 0) break;
            if (errno != EEXIST) {
                const int err = errno;
                int32_t code = WriteErrorCode(err);
                fail(code, "> リンクを作成できません: "_ansi + shown, err, shown);
                return code;
            }
        }
    }
    if (!temp.empty()) {
        if (::renameat(parent.get(), temp.c_str(), parent.get(), name.c_str()) != 0) {
            const int err = errno;
            int32_t code = WriteErrorCode(err);
            ::unlinkat(parent.get(), temp.c_str(), 0);
            fail(code, "> リンクを作成できません: "_ansi + shown, err, shown);
            return code;
        }
        // A hard link renamed onto a name that is already a link to the same file leaves both names
        // in place (rename does nothing then): the temporary one goes.
        if (entry.type == EntryType::Hardlink) ::unlinkat(parent.get(), temp.c_str(), 0);
        if (entry.type == EntryType::Symlink) {
            // A link that replaces another may turn around an earlier link whose target climbs
            // through it: every climbing link of this run must still stay inside, or the new one
            // goes. (A link at a fresh name cannot: a target that met a missing name was refused
            // if it climbed after it.)
            bool outside = false;
            if (replacing && S_ISLNK(existing.st_mode))
                for (const Impl::MadeLink& made : d.links)
                    outside = outside || !ResolvesInside(d.root.get(), made.folder, made.target);
            if (outside) {
                ::unlinkat(parent.get(), name.c_str(), 0);
                fail(ARC_ERROR_NOT_FILENAME, "> 展開先の外を指すリンクは作成しません: "_ansi + shown);
                return ARC_ERROR_NOT_FILENAME;
            }
            if (climbs) d.links.push_back({linkFolder, FromAnsi(entry.linkTarget)});
        }
        if (entry.type == EntryType::Symlink && entry.hasMtime) {
            struct timespec times[2] = {ToTimespec(entry.hasAtime, entry.atime, entry.atimeNsec),
                                        ToTimespec(true, entry.mtime, entry.mtimeNsec)};
            ::utimensat(parent.get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
        FillProgressRecord(entry, destPath, 0, record, clock_);
        if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
            fail(ARC_ERROR_USER_CANCEL, {});
            return ARC_ERROR_USER_CANCEL;
        }
        ++written_;
        return ARC_OK;
    }

    // A regular file: written as a file without a name where the file system allows it (so that not
    // even a killed process leaves a partial file behind), else under a temporary name; named and
    // renamed onto its real name only when complete.
    Fd file, aheadFolder;
    bool named = false;
    int tempFolder = parent.get();  // where `temp` lives
    int64_t written = 0;
    bool endsInHole = false;
    bool finished = false;  // the worker gave the file its permission bits and times
    auto discard = [&](int32_t code, const AnsiString& message, int err = 0) {
        file.reset();
        if (named) ::unlinkat(tempFolder, temp.c_str(), 0);
        fail(code, message, err, shown);
        return code;
    };
    // Another process took the name after it was looked at: what it put there is replaced only where
    // the user allowed replacing whatever is found.
    auto mayReplaceNewcomer = [&] { return d.options.overwrite == OverwritePolicy::Always || d.yesAll; };
    // Otherwise "never" keeps it as it would have been kept when found; a question nobody can answer
    // now leaves the entry out.
    auto keepNewcomer = [&]() -> int32_t {
        file.reset();
        if (named) ::unlinkat(tempFolder, temp.c_str(), 0);
        if (d.options.overwrite == OverwritePolicy::Never) {
            d.sink.keptExisting(shown);
            return ARC_OK;
        }
        fail(ARC_ERROR_ALREADY_EXIST, "> 展開中に同名のファイルが作られたため展開しません: "_ansi + shown, 0, shown);
        return ARC_ERROR_ALREADY_EXIST;
    };
    auto writeFailed = [&](int err) {
        int32_t wcode = WriteErrorCode(err);
        return discard(wcode, (wcode == ARC_DISK_SPACE ? "> ディスクの空きが足りません: "_ansi : "> 書き込めません: "_ansi) + shown, err);
    };
    if (ahead) {
        FillProgressRecord(entry, destPath, 0, record, clock_);
        // The data is being written by a worker: progress follows it; a stop lets go of its file.
        if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
            ahead->abandon();
            fail(ARC_ERROR_USER_CANCEL, {});
            return ARC_ERROR_USER_CANCEL;
        }
        // Data written before the entry's turn is told in steps as if it were being written now, so
        // that the host sees every entry's progress alike and can stop it anywhere.
        bool over = false;
        int64_t seen = 0, reported = 0;
        while (!over) {
            seen = ahead->wait(seen, over);
            while (seen - reported >= kProgressStep && (!over || seen - reported > kRelayStep)) {
                reported = over ? reported + kRelayStep : seen;
                FillProgressRecord(entry, destPath, reported, record, clock_);
                if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
                    ahead->abandon();
                    fail(ARC_ERROR_USER_CANCEL, {});
                    return ARC_ERROR_USER_CANCEL;
                }
            }
        }
        WrittenData& w = *ahead->outcome();
        if (w.code != ARC_OK) {
            fail(w.code, w.message, 0, shown);
            return w.code;
        }
        file.reset(w.file);
        w.file = -1;
        aheadFolder.reset(w.folder);
        w.folder = -1;
        tempFolder = aheadFolder.get();
        temp = std::move(w.temp);
        w.temp.clear();
        named = !temp.empty();
        written = w.written;
        endsInHole = w.endsInHole;
        finished = w.finished;
    } else {
        int err = OpenNewFile(parent.get(), FileMode(entry), file, named, temp);
        if (err) {
            int32_t code = WriteErrorCode(err);
            fail(code, "> ファイルを作成できません: "_ansi + shown, err, shown);
            return code;
        }
        FillProgressRecord(entry, destPath, 0, record, clock_);
        if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) return discard(ARC_ERROR_USER_CANCEL, {});
        WriteOutcome o = WriteData(file.get(), *source, entry.size, shown, [&](int64_t n) {
            FillProgressRecord(entry, destPath, n, record, clock_);
            return d.sink.send(ARCEXTRACT_INPROCESS, record);
        });
        if (o.code != ARC_OK) return discard(o.code, o.message);
        written = o.written;
        endsInHole = o.endsInHole;
    }
    if (entry.size >= 0 && written != entry.size)
        return discard(ARC_ERROR_EOF, "> 書庫のデータが途中で終わっています: "_ansi + shown);
    if (!finished) {
        if (endsInHole && ::ftruncate(file.get(), static_cast<off_t>(written)) != 0) return writeFailed(errno);
        if (named) ::fchmod(file.get(), FileMode(entry));
        SetFileTimes(file.get(), entry);
    }
    EntryInfo done = entry;
    if (done.size < 0) done.size = written;
    FillProgressRecord(done, destPath, written, record, clock_);
    if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) return discard(ARC_ERROR_USER_CANCEL, {});
    // The file it replaces stays whole until the new one is on the disk, even across a power cut.
    if (replacing && ::fdatasync(file.get()) != 0) return writeFailed(errno);
    if (!named && !replacing) {
        // Nothing had the name when it was looked at: the complete file takes it in one step. Should
        // the name have been taken since, the file goes the way of a replacement.
        const int err = NameNewFile(file.get(), parent.get(), name.c_str());
        if (err == 0) {
            if (::close(file.release()) != 0) {
                const int closeErr = errno;
                int32_t code = WriteErrorCode(closeErr);
                ::unlinkat(parent.get(), name.c_str(), 0);
                fail(code, "> 書き込めません: "_ansi + shown, closeErr, shown);
                return code;
            }
            ++written_;
            return ARC_OK;
        }
        if (err != EEXIST) return writeFailed(err);
        if (!mayReplaceNewcomer()) return keepNewcomer();
    }
    if (!named) {
        tempFolder = parent.get();
        int err = EEXIST;
        for (int tries = 0; tries < 8 && err == EEXIST; ++tries) {
            temp = TempName();
            err = NameNewFile(file.get(), parent.get(), temp.c_str());
        }
        if (err) return writeFailed(err);
        named = true;
    }
    int closeFd = file.release();
    if (::close(closeFd) != 0) {
        const int err = errno;
        int32_t code = WriteErrorCode(err);
        ::unlinkat(tempFolder, temp.c_str(), 0);
        fail(code, "> 書き込めません: "_ansi + shown, err, shown);
        return code;
    }
    // A name nothing had when it was looked at is taken without replacing what came since (where the
    // file system knows how); what came is then treated as above.
    int renamed = replacing ? -1 : ::renameat2(tempFolder, temp.c_str(), parent.get(), name.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && !replacing && errno == EEXIST && !mayReplaceNewcomer()) return keepNewcomer();
    if (renamed != 0 && ::renameat(tempFolder, temp.c_str(), parent.get(), name.c_str()) != 0) {
        const int err = errno;
        int32_t code = WriteErrorCode(err);
        ::unlinkat(tempFolder, temp.c_str(), 0);
        fail(code, "> ファイルを置き換えられません: "_ansi + shown, err, shown);
        return code;
    }
    ++written_;
    return ARC_OK;
}

int32_t SafeExtractor::extract(const EntryInfo& entry, ArchiveSource& source) {
    return extractImpl(entry, &source, nullptr);
}

int32_t SafeExtractor::extractWritten(const EntryInfo& entry, AheadWrite& ahead, ArchiveSource& fallback) {
    bool over = false;
    ahead.wait(-1, over);  // the worker has begun writing, or could not begin
    if (over && !ahead.outcome()) return extractImpl(entry, &fallback, nullptr);
    return extractImpl(entry, nullptr, &ahead);
}

bool SafeExtractor::writeAhead(const EntryInfo& entry, EntryDataReader& data, WrittenData& out,
                               const std::function<bool(int64_t)>& progress, FolderCache& folders) const {
    const Impl& d = *impl_;
    if (entry.type != EntryType::File || NamesAFolder(entry.path)) return false;
    std::vector<AnsiString> parts;
    if (!SanitizePath(entry.path, d.options.useFolders, parts)) return false;
    // The folder's descriptor belongs to the cache; it is kept beside the file only for a temporary
    // name, which is removed or renamed through it.
    int parent = -1;
    if (static_cast<WalkResult>(openFolderCached(parts, parts.size() - 1, folders, parent)) != WalkResult::Ok)
        return false;
    Fd file;
    bool named = false;
    std::string temp;
    if (OpenNewFile(parent, FileMode(entry), file, named, temp) != 0) return false;
    WriteOutcome o;
    if (progress(0)) o = WriteData(file.get(), data, entry.size, entry.path, progress);
    else o.code = ARC_ERROR_USER_CANCEL;
    if (o.code == ARC_OK && (entry.size < 0 || o.written == entry.size)) {
        // Complete: its permission bits and times now, off the walk's thread.
        if (o.endsInHole && ::ftruncate(file.get(), static_cast<off_t>(o.written)) != 0) {
            o.code = WriteErrorCode(errno);
            o.message = (o.code == ARC_DISK_SPACE ? "> ディスクの空きが足りません: "_ansi : "> 書き込めません: "_ansi) + entry.path;
        } else {
            if (named) ::fchmod(file.get(), FileMode(entry));
            SetFileTimes(file.get(), entry);
            out.finished = true;
        }
    }
    out.code = o.code;
    out.message = std::move(o.message);
    out.written = o.written;
    out.endsInHole = o.endsInHole;
    if (o.code != ARC_OK) {
        file.reset();
        if (named) ::unlinkat(parent, temp.c_str(), 0);
        return true;
    }
    out.file = file.release();
    if (named) {
        out.folder = ::dup(parent);
        if (out.folder < 0) {
            out.code = WriteErrorCode(errno);
            out.message = "> 書き込めません: "_ansi + entry.path;
            ::unlinkat(parent, temp.c_str(), 0);
            ::close(out.file);
            out.file = -1;
            return true;
        }
        out.temp = std::move(temp);
    }
    return true;
}

int SafeExtractor::openFolderCached(const std::vector<AnsiString>& parts, std::size_t count, FolderCache& cache,
                                    int& fd) const {
    fd = -1;
    if (cache.fd >= 0 && cache.parts.size() == count && std::equal(parts.begin(), parts.begin() + count, cache.parts.begin())) {
        fd = cache.fd;
        return static_cast<int>(WalkResult::Ok);
    }
    Fd out;
    WalkResult r = OpenFolder(impl_->root.get(), parts, count, true, out);
    if (r == WalkResult::Ok) {
        if (cache.fd >= 0) ::close(cache.fd);
        cache.fd = out.release();
        cache.parts.assign(parts.begin(), parts.begin() + count);
        fd = cache.fd;
    }
    return static_cast<int>(r);
}
FolderCache::~FolderCache() {
    if (fd >= 0) ::close(fd);
}

WrittenData::~WrittenData() {
    if (file >= 0) ::close(file);
    if (!temp.empty() && folder >= 0) ::unlinkat(folder, temp.c_str(), 0);
    if (folder >= 0) ::close(folder);
}

int32_t SafeExtractor::test(const EntryInfo& entry, ArchiveSource& source) {
    Impl& d = *impl_;
    if (d.cancelled) return ARC_ERROR_USER_CANCEL;
    if (entry.type != EntryType::File) return ARC_OK;
    ArcProgressRecord record;
    FillProgressRecord(entry, AnsiString(), 0, record, clock_);
    if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
        fail(ARC_ERROR_USER_CANCEL, {});
        return ARC_ERROR_USER_CANCEL;
    }
    int64_t read = 0, reported = 0;
    for (;;) {
        const void* data = nullptr;
        std::size_t size = 0;
        int32_t code = source.readBlock(data, size);
        if (code != ARC_OK) {
            AnsiString why = source.lastMessage();
            fail(code, "> 不正なデータです: "_ansi + ShownPath(entry.path) + (why.empty() ? AnsiString() : " (" + why + ")"));
            return code;
        }
        if (size == 0) break;
        if (entry.size >= 0 && static_cast<uint64_t>(size) > static_cast<uint64_t>(entry.size - read)) {
            fail(ARC_ERROR_HEADER_BROKEN, "> 書庫のデータがヘッダの大きさを超えています: "_ansi + ShownPath(entry.path));
            return ARC_ERROR_HEADER_BROKEN;
        }
        read += static_cast<int64_t>(size);
        if (read - reported >= kProgressStep) {
            reported = read;
            FillProgressRecord(entry, AnsiString(), read, record, clock_);
            if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
                fail(ARC_ERROR_USER_CANCEL, {});
                return ARC_ERROR_USER_CANCEL;
            }
        }
    }
    if (entry.size >= 0 && read != entry.size) {
        fail(ARC_ERROR_EOF, "> 書庫のデータが途中で終わっています: "_ansi + ShownPath(entry.path));
        return ARC_ERROR_EOF;
    }
    FillProgressRecord(entry, AnsiString(), read, record, clock_);
    if (!d.sink.send(ARCEXTRACT_INPROCESS, record)) {
        fail(ARC_ERROR_USER_CANCEL, {});
        return ARC_ERROR_USER_CANCEL;
    }
    return ARC_OK;
}

int32_t SafeExtractor::finish() {
    Impl& d = *impl_;
    // Deepest folders first, so that setting a parent's time is the last touch of that parent.
    std::stable_sort(d.folders.begin(), d.folders.end(),
                     [](const Impl::FolderFix& a, const Impl::FolderFix& b) { return a.parts.size() > b.parts.size(); });
    for (const auto& fix : d.folders) {
        Fd folder;
        if (OpenFolder(d.root.get(), fix.parts, fix.parts.size(), false, folder) != WalkResult::Ok) continue;
        const EntryInfo& e = fix.entry;
        if (e.hasMode) ::fchmod(folder.get(), (e.mode & 0777 & ~CurrentUmask()) | 0700);
        if (e.hasMtime) {
            struct timespec times[2] = {ToTimespec(e.hasAtime, e.atime, e.atimeNsec),
                                        ToTimespec(true, e.mtime, e.mtimeNsec)};
            if (!e.hasAtime) times[0] = times[1];
            ::futimens(folder.get(), times);
        }
    }
    d.folders.clear();
    return result();
}

}  // namespace norvex::modules
