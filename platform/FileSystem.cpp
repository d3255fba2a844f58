// The file system over AnsiString paths, on POSIX calls.
#include "platform/FileSystem.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/AnsiCodec.h"
#include "platform/OwnedFd.h"
#include "platform/TreeRemoval.h"

namespace norvex {

namespace {

std::string Host(const AnsiString& path) { return FromAnsi(path); }

// The Windows-style attributes of a name whose stat is st (lst: the link itself).
uint32_t AttrFromStat(const struct stat& st, std::string_view name) {
    uint32_t attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= faDirectory;
    else attr |= faArchive;
    bool writable;
    if (st.st_uid == geteuid()) writable = st.st_mode & S_IWUSR;
    else if (st.st_gid == getegid()) writable = st.st_mode & S_IWGRP;
    else writable = st.st_mode & S_IWOTH;
    if (!writable) attr |= faReadOnly;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") attr |= faHidden;
    return attr;
}

std::string_view LastComponent(std::string_view hostPath) {
    while (hostPath.size() > 1 && hostPath.back() == '/') hostPath.remove_suffix(1);
    const auto slash = hostPath.rfind('/');
    return slash == std::string_view::npos ? hostPath : hostPath.substr(slash + 1);
}

FILETIME FromTimespec(const struct timespec& ts) { return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec); }

// Attributes, size and times of hostPath (following links), with the link bit added.
bool StatEntry(int dirfd, const char* hostPath, std::string_view name, TSearchRec& rec) {
    struct stat lst {};
    if (fstatat(dirfd, hostPath, &lst, AT_SYMLINK_NOFOLLOW) != 0) return false;
    struct stat st = lst;
    const bool isLink = S_ISLNK(lst.st_mode);
    if (isLink && fstatat(dirfd, hostPath, &st, 0) != 0) {
        st = lst;  // dangling link: describe the link itself as a plain file
        st.st_mode = (st.st_mode & ~S_IFMT) | S_IFREG;
    }
    rec.Attr = AttrFromStat(st, name) | (isLink ? faSymLink : 0);
    rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    rec.LastWriteTime = FromTimespec(st.st_mtim);
    rec.LastAccessTime = FromTimespec(st.st_atim);
    rec.CreationTime = rec.LastWriteTime;
    struct statx sx {};
    if (statx(dirfd, hostPath, 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        rec.CreationTime = FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    return true;
}

// ---- Wildcards ----------------------------------------------------------------------------------

// A cp932 string as whole characters; single-byte ASCII letters folded to lower case.
std::vector<uint16_t> Characters(std::string_view s) {
    std::vector<uint16_t> out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = AnsiCharLength(s, i);
        unsigned c = static_cast<unsigned char>(s[i]);
        if (n == 2) c = (c << 8) | static_cast<unsigned char>(s[i + 1]);
        else if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        out.push_back(static_cast<uint16_t>(c));
        i += n;
    }
    return out;
}

// "*" any run of characters, "?" one character. Iterative with one remembered star: linear in
// practice, never exponential.
bool Glob(const std::vector<uint16_t>& name, const std::vector<uint16_t>& mask) {
    std::size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace

// ---- Attributes -----------------------------------------------------------------------------------

bool FileExists(const AnsiString& path) {
    struct stat st {};
    return !path.empty() && stat(Host(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const AnsiString& path) {
    struct stat st {};
    return !path.empty() && stat(Host(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TPathKind KindOfPath(const AnsiString& path) {
    struct stat st {};
    if (path.empty() || stat(Host(path).c_str(), &st) != 0) return TPathKind::Missing;
    return S_ISDIR(st.st_mode) ? TPathKind::Folder : TPathKind::File;
}

uint32_t FileGetAttr(const AnsiString& path) {
    if (path.empty()) return INVALID_FILE_ATTRIBUTES;
    const std::string host = Host(path);
    TSearchRec rec;
    if (!StatEntry(AT_FDCWD, host.c_str(), LastComponent(host), rec)) return INVALID_FILE_ATTRIBUTES;
    return rec.Attr;
}

// ---- Times ----------------------------------------------------------------------------------------

FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    const int64_t ticks = (seconds + UnixEpochInFileTimeSeconds) * static_cast<int64_t>(FileTimeTicksPerSecond) +
                          nanoseconds / 100;
    return ticks < 0 ? 0 : static_cast<FILETIME>(ticks);
}

void FileTimeToUnix(FILETIME ft, int64_t& seconds, int64_t& nanoseconds) {
    seconds = static_cast<int64_t>(ft / FileTimeTicksPerSecond) - UnixEpochInFileTimeSeconds;
    nanoseconds = static_cast<int64_t>(ft % FileTimeTicksPerSecond) * 100;
}

FILETIME FileTimeToLocalFileTime(FILETIME utc) {
    int64_t sec, nsec;
    FileTimeToUnix(utc, sec, nsec);
    const time_t t = static_cast<time_t>(sec);
    struct tm tmLocal {};
    if (!localtime_r(&t, &tmLocal)) return utc;
    const int64_t shifted = static_cast<int64_t>(utc) + tmLocal.tm_gmtoff * static_cast<int64_t>(FileTimeTicksPerSecond);
    return shifted < 0 ? 0 : static_cast<FILETIME>(shifted);
}

FILETIME LocalFileTimeToFileTime(FILETIME local) {
    int64_t sec, nsec;
    FileTimeToUnix(local, sec, nsec);
    const time_t t = static_cast<time_t>(sec);
    struct tm fields {};
    if (!gmtime_r(&t, &fields)) return local;
    fields.tm_isdst = -1;  // let the zone rules decide whether summer time applies
    const time_t utc = mktime(&fields);
    if (utc == static_cast<time_t>(-1)) return local;
    return FileTimeFromUnix(utc, nsec);
}

TDateTime FileTimeToDateTime(FILETIME ft) {
    const int64_t days = static_cast<int64_t>(ft / FileTimeTicksPerDay) - CalendarEpochInFileTimeDays;
    return static_cast<double>(days) + static_cast<double>(ft % FileTimeTicksPerDay) / FileTimeTicksPerDay;
}

FILETIME DateTimeToFileTime(TDateTime dt) {
    const double whole = std::floor(dt);
    // Rounded to the millisecond, the resolution calendar values are built with.
    const int64_t ms = std::llround((dt - whole) * 86'400'000.0);
    const int64_t ticks = (static_cast<int64_t>(whole) + CalendarEpochInFileTimeDays) *
                              static_cast<int64_t>(FileTimeTicksPerDay) + ms * 10'000;
    return ticks < 0 ? 0 : static_cast<FILETIME>(ticks);
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms, TDateTime& dt) {
    using namespace std::chrono;
    if (year < 1 || year > 9999 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59 || ms < 0 || ms > 999)
        return false;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                             std::chrono::day(static_cast<unsigned>(day))};
    if (month < 1 || day < 1 || !ymd.ok()) return false;
    const auto days = sys_days(ymd) - sys_days(std::chrono::year(1899) / December / 30);
    dt = static_cast<double>(days.count()) + ((hour * 3600 + minute * 60 + second) * 1000.0 + ms) / 86'400'000.0;
    return true;
}

void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute, int& second, int& ms) {
    using namespace std::chrono;
    const double whole = std::floor(dt);
    int64_t msOfDay = std::llround((dt - whole) * 86'400'000.0);
    int64_t days = static_cast<int64_t>(whole);
    if (msOfDay >= 86'400'000) {
        msOfDay -= 86'400'000;
        ++days;
    }
    const year_month_day ymd{sys_days(std::chrono::year(1899) / December / 30) + std::chrono::days(days)};
    year = static_cast<int>(ymd.year());
    month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    hour = static_cast<int>(msOfDay / 3'600'000);
    minute = static_cast<int>(msOfDay / 60'000 % 60);
    second = static_cast<int>(msOfDay / 1000 % 60);
    ms = static_cast<int>(msOfDay % 1000);
}

TDateTime Now() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FileTimeToDateTime(FileTimeToLocalFileTime(FileTimeFromUnix(ts.tv_sec, ts.tv_nsec)));
}

int CurrentYear() {
    const time_t t = time(nullptr);
    struct tm fields {};
    localtime_r(&t, &fields);
    return fields.tm_year + 1900;
}

bool GetFileTimes(const AnsiString& path, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    const std::string host = Host(path);
    TSearchRec rec;
    if (path.empty() || !StatEntry(AT_FDCWD, host.c_str(), LastComponent(host), rec)) return false;
    if (creation) *creation = rec.CreationTime;
    if (lastAccess) *lastAccess = rec.LastAccessTime;
    if (lastWrite) *lastWrite = rec.LastWriteTime;
    return true;
}

bool SetFileTimes(const AnsiString& path, const FILETIME* /*creation*/, const FILETIME* lastAccess,
                  const FILETIME* lastWrite) {
    struct timespec times[2];
    auto fill = [](struct timespec& ts, const FILETIME* ft) {
        if (!ft || *ft == 0) {
            ts.tv_sec = 0;
            ts.tv_nsec = UTIME_OMIT;
            return;
        }
        int64_t sec, nsec;
        FileTimeToUnix(*ft, sec, nsec);
        ts.tv_sec = static_cast<time_t>(sec);
        ts.tv_nsec = static_cast<long>(nsec);
    };
    fill(times[0], lastAccess);
    fill(times[1], lastWrite);
    return !path.empty() && utimensat(AT_FDCWD, Host(path).c_str(), times, 0) == 0;
}

int64_t GetFileSize(const AnsiString& path) {
    struct stat st {};
    if (path.empty() || stat(Host(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

// ---- Enumeration ----------------------------------------------------------------------------------

struct TFindState {
    DIR* dir = nullptr;
    std::vector<uint16_t> mask;
    uint32_t attr = 0;
    ~TFindState() {
        if (dir) closedir(dir);
    }
};

TSearchRec::~TSearchRec() { FindClose(*this); }

TSearchRec::TSearchRec(TSearchRec&& other) noexcept
    : Name(std::move(other.Name)), Attr(other.Attr), Size(other.Size), LastWriteTime(other.LastWriteTime),
      LastAccessTime(other.LastAccessTime), CreationTime(other.CreationTime), FindHandle(other.FindHandle) {
    other.FindHandle = nullptr;
}

TSearchRec& TSearchRec::operator=(TSearchRec&& other) noexcept {
    if (this != &other) {
        FindClose(*this);
        Name = std::move(other.Name);
        Attr = other.Attr;
        Size = other.Size;
        LastWriteTime = other.LastWriteTime;
        LastAccessTime = other.LastAccessTime;
        CreationTime = other.CreationTime;
        FindHandle = other.FindHandle;
        other.FindHandle = nullptr;
    }
    return *this;
}

namespace {

bool MaskMatches(const std::vector<uint16_t>& name, const std::vector<uint16_t>& mask) {
    if (Glob(name, mask)) return true;
    // A trailing ".*" also stands for "no extension at all": "*.*" matches "README", "a*.*" matches "ab".
    const std::size_t n = mask.size();
    return n >= 2 && mask[n - 2] == '.' && mask[n - 1] == '*' &&
           Glob(name, std::vector<uint16_t>(mask.begin(), mask.end() - 2));
}

}  // namespace

bool MatchesMask(const AnsiString& name, const AnsiString& mask) {
    return MaskMatches(Characters(name), Characters(mask));
}

int FindFirst(const AnsiString& pattern, uint32_t attr, TSearchRec& rec) {
    FindClose(rec);
    const std::size_t slash = AnsiLastDelimiter(pattern, "/");
    const AnsiString folder = slash == AnsiString::npos ? AnsiString(1, '.')
                              : slash == 0                ? AnsiString(1, '/')
                                                          : pattern.substr(0, slash);
    const AnsiString mask = slash == AnsiString::npos ? pattern : pattern.substr(slash + 1);
    if (mask.empty()) return ENOENT;

    auto state = std::make_unique<TFindState>();
    state->dir = opendir(Host(folder).c_str());
    if (!state->dir) return errno ? errno : ENOENT;
    state->mask = Characters(mask);
    state->attr = attr;
    rec.FindHandle = state.release();
    const int result = FindNext(rec);
    if (result != 0) FindClose(rec);
    return result;
}

int FindNext(TSearchRec& rec) {
    TFindState* state = rec.FindHandle;
    if (!state) return EBADF;
    const uint32_t excluded = ~state->attr & (faHidden | faSysFile | faVolumeID | faDirectory);
    for (;;) {
        errno = 0;
        const struct dirent* entry = readdir(state->dir);
        if (!entry) return errno ? errno : ENOENT;
        const std::string_view hostName = entry->d_name;
        if (hostName == "." || hostName == "..") continue;
        const AnsiString name = ToAnsi(hostName);
        if (!MaskMatches(Characters(name), state->mask)) continue;
        if (!StatEntry(dirfd(state->dir), entry->d_name, hostName, rec)) continue;  // vanished meanwhile
        if (rec.Attr & excluded) continue;
        rec.Name = name;
        return 0;
    }
}

void FindClose(TSearchRec& rec) {
    delete rec.FindHandle;
    rec.FindHandle = nullptr;
}

// ---- Folders and files ----------------------------------------------------------------------------

bool CreateDir(const AnsiString& path) { return !path.empty() && mkdir(Host(path).c_str(), 0777) == 0; }

bool ForceDirectories(const AnsiString& path) {
    if (path.empty()) return false;
    std::string host = Host(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    struct stat st {};
    if (stat(host.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const auto slash = host.rfind('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(ToAnsi(host.substr(0, slash)))) return false;
    return mkdir(host.c_str(), 0777) == 0 || errno == EEXIST;
}

bool RemoveDir(const AnsiString& path) { return !path.empty() && rmdir(Host(path).c_str()) == 0; }

bool DeleteFile(const AnsiString& path) {
    struct stat st {};
    const std::string host = Host(path);
    if (path.empty() || lstat(host.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return unlink(host.c_str()) == 0;
}

bool DeleteTree(const AnsiString& path) { return !path.empty() && RemoveTree(path) == TRemoval::Removed; }

namespace {

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot refuse a replacement itself: check first.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

void CopyTimes(const struct stat& st, int fd) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(fd, times);
}

void CopyTimes(const struct stat& st, const std::string& path) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Copies what is left of in to out; false (errno set) on a read or write error.
bool CopyData(int in, int out) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += put;
        }
    }
}

bool CopyRegular(const std::string& from, const std::string& to, const struct stat& st, bool failIfExists) {
    struct stat target {};
    if (stat(to.c_str(), &target) == 0 && target.st_dev == st.st_dev && target.st_ino == st.st_ino) {
        errno = failIfExists ? EEXIST : EINVAL;  // truncating the target would destroy the source
        return false;
    }
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    const int out = open(to.c_str(), flags, st.st_mode & 07777);
    if (out < 0) {
        const int saved = errno;
        close(in);
        errno = saved;
        return false;
    }
    bool ok = CopyData(in, out);
    const int saved = errno;
    if (ok) {
        fchmod(out, st.st_mode & 07777);
        CopyTimes(st, out);
    }
    if (close(out) != 0) ok = false;
    close(in);
    if (!ok) {
        unlink(to.c_str());
        errno = saved;
    }
    return ok;
}

// Copies from (not following a link at from itself) to a new to, recursively for folders.
bool CopyTree(const std::string& from, const std::string& to) {
    struct stat st {};
    if (lstat(from.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
        const ssize_t n = readlink(from.c_str(), target.data(), target.size());
        if (n < 0) return false;
        target.resize(static_cast<std::size_t>(n));
        if (symlink(target.c_str(), to.c_str()) != 0) return false;
        CopyTimes(st, to);
        return true;
    }
    if (S_ISREG(st.st_mode)) return CopyRegular(from, to, st, true);
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTSUP;  // devices, pipes and sockets are not moved between file systems
        return false;
    }
    if (mkdir(to.c_str(), 0700) != 0) return false;
    DIR* dir = opendir(from.c_str());
    bool ok = dir != nullptr;
    while (ok) {
        errno = 0;
        const struct dirent* entry = readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        ok = CopyTree(from + "/" + entry->d_name, to + "/" + entry->d_name);
    }
    if (dir) closedir(dir);
    chmod(to.c_str(), st.st_mode & 07777);
    CopyTimes(st, to);
    return ok;
}

// The folder and the last name of a host path ("a/b" gives "a" and "b", "b" gives "." and "b").
void SplitLastName(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file for the copy in folder: one without a name where the file system allows it, else one under
// a new hidden name (temp). -1 when none can be made.
int OpenCopy(int folder, mode_t mode, std::string& temp) {
    temp.clear();
    int fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    for (int tries = 0; tries < 8 && fd < 0; ++tries) {
        temp = ".nvx-move-" + std::to_string(static_cast<int>(getpid())) + "-" + std::to_string(tries);
        fd = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) temp.clear();
    return fd;
}

// Names the open file `file` in folder without replacing anything: a file without a name (O_TMPFILE)
// by linking it, one under the temporary name `temp` by renaming that. 0 or the errno.
int NameCopy(int file, int folder, const std::string& temp, const std::string& name) {
    if (!temp.empty()) {
        if (renameat2(folder, temp.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        struct stat st {};
        if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
        return renameat(folder, temp.c_str(), folder, name.c_str()) == 0 ? 0 : errno;
    }
    if (linkat(file, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return errno;
    const std::string self = "/proc/self/fd/" + std::to_string(file);
    return linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

bool SameEntry(int folder, const std::string& name, const struct stat& of) {
    struct stat st {};
    return fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == of.st_dev &&
           st.st_ino == of.st_ino;
}

// A regular file moved to another file system. The copy is written without a name (or under a
// hidden temporary one) in the target's folder and takes the target's name only when it is complete
// and on the device, so that no part of a file ever stands under that name, even after a kill. The
// source is removed only while its name still holds the file that was copied; otherwise, or when it
// cannot be removed, the copy is taken back and the move fails.
bool MoveRegularAcross(const std::string& from, const std::string& to) {
    std::string fromFolder, fromName, toFolder, toName;
    SplitLastName(from, fromFolder, fromName);
    SplitLastName(to, toFolder, toName);
    const TOwnedFd source(open(fromFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const TOwnedFd target(open(toFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (source.get() < 0 || target.get() < 0) return false;
    const TOwnedFd in(openat(source.get(), fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || fstat(in.get(), &st) != 0) return false;
    const mode_t mode = st.st_mode & 07777;
    std::string temp;
    const TOwnedFd out(OpenCopy(target.get(), mode, temp));
    if (out.get() < 0) return false;
    struct stat made {};
    bool ok = CopyData(in.get(), out.get()) && fchmod(out.get(), mode) == 0 && fsync(out.get()) == 0 &&
              fstat(out.get(), &made) == 0;
    bool named = false;
    if (ok) {
        CopyTimes(st, out.get());
        const int err = NameCopy(out.get(), target.get(), temp, toName);
        named = err == 0;
        ok = named && syncfs(target.get()) == 0;
        if (err != 0) errno = err;
    }
    if (!ok) {
        const int saved = errno;
        if (named && SameEntry(target.get(), toName, made)) unlinkat(target.get(), toName.c_str(), 0);
        else if (!temp.empty()) unlinkat(target.get(), temp.c_str(), 0);
        errno = saved;
        return false;
    }
    const bool same = SameEntry(source.get(), fromName, st);
    if (same && unlinkat(source.get(), fromName.c_str(), 0) == 0) {
        fsync(source.get());
        return true;
    }
    const int saved = same ? errno : ESTALE;
    if (SameEntry(target.get(), toName, made)) unlinkat(target.get(), toName.c_str(), 0);
    errno = saved;
    return false;
}

}  // namespace

bool RenameFile(const AnsiString& from, const AnsiString& to) {
    return !from.empty() && !to.empty() && RenameNoReplace(Host(from), Host(to));
}

bool MoveFile(const AnsiString& from, const AnsiString& to) {
    return !from.empty() && !to.empty() && MoveHostPath(Host(from), Host(to));
}

bool MoveHostPath(const std::string& hostFrom, const std::string& hostTo) {
    if (hostFrom.empty() || hostTo.empty()) return false;
    if (RenameNoReplace(hostFrom, hostTo)) return true;
    if (errno != EXDEV) return false;
    struct stat st {};
    if (lstat(hostTo.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    if (lstat(hostFrom.c_str(), &st) != 0) return false;
    if (S_ISREG(st.st_mode)) return MoveRegularAcross(hostFrom, hostTo);
    const std::size_t slash = hostTo.rfind('/');
    const std::string toFolder = slash == std::string::npos ? "." : slash == 0 ? "/" : hostTo.substr(0, slash);
    AnsiString from, to;  // the removals below take the core's names
    if (!TryToAnsi(hostFrom, from) || !TryToAnsi(hostTo, to)) return false;
    if (!CopyTree(hostFrom, hostTo) || !SyncFileSystemOf(toFolder)) {
        const int saved = errno;
        DeleteTree(to);
        errno = saved;
        return false;
    }
    return DeleteTree(from);
}

bool SyncFileSystemOf(const std::string& hostFolder) {
    const int fd = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::syncfs(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

bool CopyFile(const AnsiString& from, const AnsiString& to, bool failIfExists) {
    struct stat st {};
    const std::string hostFrom = Host(from);
    if (from.empty() || to.empty() || stat(hostFrom.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return CopyRegular(hostFrom, Host(to), st, failIfExists);
}

int WriteNewFile(const AnsiString& path, std::string_view data) {
    if (path.empty()) return ENOENT;
    const std::string host = Host(path);
    const int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = 0;
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t put = write(fd, data.data() + done, data.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) unlink(host.c_str());
    return error;
}

AnsiString GetCurrentDir() {
    std::string buffer(4096, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return AnsiString();
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return ToAnsi(buffer);
}

bool SetCurrentDir(const AnsiString& path) { return !path.empty() && chdir(Host(path).c_str()) == 0; }

AnsiString ExpandFileName(const AnsiString& path) {
    AnsiString full = !path.empty() && path[0] == '/' ? path : GetCurrentDir() + "/" + path;
    std::vector<AnsiString> parts;
    for (std::size_t i = 0; i <= full.size();) {
        std::size_t next = full.find('/', i);  // "/" is never a cp932 trail byte
        if (next == AnsiString::npos) next = full.size();
        const AnsiString part = full.substr(i, next - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = next + 1;
    }
    AnsiString out;
    for (const AnsiString& part : parts) out += "/" + part;
    return out.empty() ? AnsiString("/") : out;
}

// ---- Named streams --------------------------------------------------------------------------------

bool VolumeSupportsNamedStreams(const AnsiString& /*path*/) { return false; }

std::vector<TNamedStream> ReadNamedStreams(const AnsiString& /*path*/) { return {}; }

}  // namespace norvex
