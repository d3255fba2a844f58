// Packing into LZH archives. Tested by LhaPackTest.
#include "modules/unlha32/LhaPacker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "modules/common/SafeExtractor.h"
#include "modules/lzh/LzhArchiveWriter.h"
#include "modules/unlha32/LzhSource.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

using namespace norvex::literals;

namespace {

struct PackItem {
    std::string hostPath;   // UTF-8
    AnsiString name;        // entry path, cp932, "\\"-separated
    bool isDirectory = false;
    int64_t mtime = 0;
    uint16_t mode = 0644;
    int64_t size = 0;
};

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Separators to "\\" (whole characters) and no leading or trailing ones: the form names are compared in.
AnsiString NormalizeName(std::string_view path) {
    AnsiString out;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t n = AnsiCharLength(path, i);
        if (n == 1 && (path[i] == '/' || path[i] == '\\')) {
            if (!out.empty() && !AnsiEndsWithSeparator(out)) out.push_back('\\');
        } else {
            out.append(path.substr(i, n));
        }
        i += n;
    }
    while (!out.empty() && AnsiEndsWithSeparator(out)) out.pop_back();
    return out;
}

// Why a name taken from the host cannot go into an archive as it stands, or "" when it can: in the
// archive "\\" separates folders, so a "\\" that is part of a Linux name would come back as a folder;
// and a character cp932 cannot hold is carried by a code that means it only inside this process, so
// every other reader (and Norvex tomorrow) would see another name. hostPart is cp932, "/"-separated.
AnsiString UnstorableReason(std::string_view hostPart) {
    if (AnsiFirstDelimiter(hostPart, "\\") != std::string_view::npos) return "「\\」を含む名前"_ansi;
    if (HoldsCarrier(hostPart)) return "cp932で表せない文字を含む名前"_ansi;
    return {};
}

// Strips trailing separators (whole characters).
// Host paths: only "/" separates (a "\\" is part of a Linux name, and "/" is never a trail byte).
AnsiString WithoutTrailingSeparators(AnsiString s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

// A "\\"-separated name with its "." and ".." components resolved; empty when a ".." would climb
// above where the name starts.
AnsiString WithoutDotComponents(std::string_view name) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = AnsiFirstDelimiter(name, "\\", start);
        const std::string_view part = name.substr(start, sep == std::string_view::npos ? sep : sep - start);
        if (part == "..") {
            if (parts.empty()) return {};
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (sep == std::string_view::npos) break;
        start = sep + 1;
    }
    AnsiString out;
    for (std::string_view part : parts) {
        if (!out.empty()) out.push_back('\\');
        out.append(part);
    }
    return out;
}

// A path given on the command line: a relative one lies under the base folder (the current folder
// only when no base folder was given).
AnsiString ResolveAgainstBase(const AnsiString& path, const AnsiString& base) {
    if (base.empty() || (!path.empty() && path[0] == '/')) return path;
    return base.back() == '/' ? base + path : base + PathDelim + path;
}

// The entry name of a path given on the command line: relative to base when inside it, else its
// own name.
// hostPart is the part of the path the name is made of (for UnstorableReason).
AnsiString EntryNameFor(const AnsiString& path, const AnsiString& base, AnsiString& hostPart) {
    const AnsiString p = WithoutTrailingSeparators(path);
    if (!base.empty() && p.size() > base.size() && p.compare(0, base.size(), base) == 0 &&
        (p[base.size()] == '/' || base.back() == '/')) {
        const std::string_view relative = std::string_view(p).substr(base.size());
        AnsiString name = WithoutDotComponents(NormalizeName(relative));
        if (!name.empty()) {
            hostPart.assign(relative);
            return name;
        }
    }
    const std::size_t sep = p.rfind('/');
    AnsiString name = sep == std::string::npos ? p : p.substr(sep + 1);
    if (name.empty() || name == "." || name == "..") {
        // "dir/.." and the like: name it after the folder it really is.
        char* real = realpath(FromAnsi(p).c_str(), nullptr);
        if (real) {
            const std::string r(real);
            free(real);
            const std::size_t slash = r.find_last_of('/');
            name = ToAnsi(slash == std::string::npos ? r : r.substr(slash + 1));
        }
    }
    hostPart = name;
    return NormalizeName(name);
}

AnsiString TooLargeLine(const AnsiString& shown) {
    AnsiString line;
    AppendOutputLine(line, "> 4GiB以上のファイルは書庫に格納できません: "_ansi + shown);
    return line;
}

PackItem ItemFromStat(std::string host, AnsiString name, const struct stat& st) {
    PackItem item;
    item.hostPath = std::move(host);
    item.name = std::move(name);
    item.isDirectory = S_ISDIR(st.st_mode);
    item.mtime = st.st_mtim.tv_sec;
    item.mode = static_cast<uint16_t>(st.st_mode & 07777);
    item.size = item.isDirectory ? 0 : st.st_size;
    return item;
}

struct Collector {
    std::vector<PackItem> items;
    std::set<AnsiString> names;
    dev_t skipDev = 0;
    ino_t skipIno = 0;
    bool haveSkip = false;
    AnsiString* log = nullptr;
    // The first reason the whole packing stops (a name that cannot be stored, a folder that cannot
    // be read): the archive is then not touched, so nothing is reported packed that is not in it.
    int32_t failure = ARC_OK;

    // False (and the reason logged) when the name cannot go into the archive; shown is the path.
    bool storable(std::string_view hostPart, const AnsiString& shown) {
        const AnsiString reason = UnstorableReason(hostPart);
        if (reason.empty()) return true;
        AppendOutputLine(*log, "> "_ansi + reason + "は書庫に格納できません: "_ansi + shown);
        if (failure == ARC_OK) failure = ARC_ERROR_NOT_FILENAME;
        return false;
    }

    // False (and the reason logged) when the file is too large for an entry: an LZH header holds a
    // 32-bit size, and a size cut short there would leave an archive that does not hold the file.
    bool fits(const struct stat& st, const AnsiString& shown) {
        if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) <= lzh::kMaxEntrySize) return true;
        *log += TooLargeLine(shown);
        if (failure == ARC_OK) failure = ARC_ERROR_NOT_SUPPORT;
        return false;
    }

    void add(PackItem item) {
        if (item.name.empty() || !names.insert(item.name).second) return;
        items.push_back(std::move(item));
    }

    // Adds a folder's contents below it. Symbolic links to files are packed as the file; links to
    // folders are not followed (they could loop), and other special files are left out.
    void addTree(const std::string& host, const AnsiString& name) {
        DIR* dir = opendir(host.c_str());
        if (!dir) {
            AppendOutputLine(*log, "> フォルダを読めません: "_ansi + ToAnsi(host));
            if (failure == ARC_OK) failure = ARC_ERROR_CANNOT_READ;
            return;
        }
        std::vector<std::string> children;
        while (dirent* d = readdir(dir)) {
            const std::string child = d->d_name;
            if (child != "." && child != "..") children.push_back(child);
        }
        closedir(dir);
        std::sort(children.begin(), children.end());
        for (const std::string& child : children) {
            const std::string childHost = host + "/" + child;
            const AnsiString childAnsi = ToAnsi(child);
            if (!storable(childAnsi, ToAnsi(childHost))) continue;
            const AnsiString childName = name.empty() ? childAnsi : name + "\\" + childAnsi;
            struct stat lst {};
            if (lstat(childHost.c_str(), &lst) != 0) continue;
            struct stat st = lst;
            if (S_ISLNK(lst.st_mode) && (stat(childHost.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
                AppendOutputLine(*log, "> リンクのため格納しません: "_ansi + childName);
                continue;
            }
            if (haveSkip && st.st_dev == skipDev && st.st_ino == skipIno) continue;
            if (S_ISDIR(st.st_mode)) {
                add(ItemFromStat(childHost, childName, st));
                addTree(childHost, childName);
            } else if (S_ISREG(st.st_mode)) {
                if (fits(st, ToAnsi(childHost))) add(ItemFromStat(childHost, childName, st));
            } else {
                AppendOutputLine(*log, "> 特殊なファイルのため格納しません: "_ansi + childName);
            }
        }
    }
};

// The temporary file's name pattern beside the archive: the archive's name and ".XXXXXX", the name cut
// short (at a whole UTF-8 character) when both would not fit in a folder entry, so that an archive of
// the longest name can still be written.
std::string TemporaryTemplate(const std::string& hostArchive) {
    constexpr std::string_view kSuffix = ".XXXXXX";
    const std::size_t slash = hostArchive.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t keep = hostArchive.size() - start;
    if (keep + kSuffix.size() > NAME_MAX) {
        keep = NAME_MAX - kSuffix.size();
        while (keep > 0 && (static_cast<unsigned char>(hostArchive[start + keep]) & 0xC0) == 0x80) --keep;
    }
    return hostArchive.substr(0, start + keep).append(kSuffix);
}

int32_t WriterFailure(lzh::WriteStatus status, int err) {
    switch (status) {
    case lzh::WriteStatus::ReadError: return ARC_ERROR_CANNOT_READ;
    case lzh::WriteStatus::WriteError: return WriteErrorCode(err);
    case lzh::WriteStatus::Cancelled: return ARC_ERROR_USER_CANCEL;
    case lzh::WriteStatus::TooLarge: return ARC_ERROR_NOT_SUPPORT;
    case lzh::WriteStatus::NameTooLong: return ARC_ERROR_LONG_FILE_NAME;
    case lzh::WriteStatus::Ok: break;
    }
    return ARC_OK;
}

// What the progress records of an item show.
EntryInfo ProgressInfoOf(const PackItem& item, const PackOptions& options) {
    EntryInfo info;
    info.path = item.name;
    info.type = item.isDirectory ? EntryType::Directory : EntryType::File;
    info.size = item.size;
    info.hasMtime = true;
    info.mtime = item.mtime;
    info.method = item.isDirectory ? "-lhd-" : lzh::MethodName(options.method);
    return info;
}

// Writes the new archive into tmpFd: kept entries of the old one, then the new items.
int32_t WriteArchive(int tmpFd, LzhSource* old, const std::vector<lzh::LzhEntryHeader>& kept,
                     const std::vector<PackItem>& items, const PackOptions& options, const AnsiString& archive,
                     const ProgressSink& sink, AnsiString& log) {
    lzh::LzhArchiveWriter writer(tmpFd, options.method);
    for (const lzh::LzhEntryHeader& h : kept) {
        const lzh::WriteStatus st = writer.CopyEntry(old->fd(), h);
        if (st != lzh::WriteStatus::Ok) return WriterFailure(st, errno);
    }
    DosClock clock;
    for (const PackItem& item : items) {
        lzh::EntryMeta meta;
        meta.path = item.name;
        meta.mtime = item.mtime;
        meta.mode = item.mode;
        const EntryInfo info = ProgressInfoOf(item, options);
        ArcProgressRecord record;
        FillProgressRecord(info, archive, 0, record, clock);
        if (!sink.send(ARCEXTRACT_INPROCESS, record)) return ARC_ERROR_USER_CANCEL;

        if (item.isDirectory) {
            const lzh::WriteStatus st = writer.AddDirectory(meta);
            if (st != lzh::WriteStatus::Ok) return WriterFailure(st, errno);
            continue;
        }
        const int in = open(item.hostPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            AppendOutputLine(log, "> ファイルを開けません: "_ansi + ToAnsi(item.hostPath));
            return errno == ENOENT ? ARC_NOT_EXIST : ARC_ERROR_CANNOT_READ;
        }
        FdCloser inCloser(in);
        int64_t lastReport = 0;
        bool cancelled = false;
        const lzh::WriteStatus st = writer.AddFile(meta, in, [&](uint64_t done) {
            if (static_cast<int64_t>(done) - lastReport < 64 * 1024) return true;
            lastReport = static_cast<int64_t>(done);
            FillProgressRecord(info, archive, lastReport, record, clock);
            cancelled = !sink.send(ARCEXTRACT_INPROCESS, record);
            return !cancelled;
        });
        const int err = errno;
        if (st != lzh::WriteStatus::Ok) {
            if (st == lzh::WriteStatus::ReadError) AppendOutputLine(log, "> ファイルを読めません: "_ansi + ToAnsi(item.hostPath));
            if (st == lzh::WriteStatus::TooLarge) log += TooLargeLine(ToAnsi(item.hostPath));
            return WriterFailure(st, err);
        }
        FillProgressRecord(info, archive, item.size, record, clock);
        if (!sink.send(ARCEXTRACT_INPROCESS, record)) return ARC_ERROR_USER_CANCEL;
        AppendOutputLine(log, "> 格納: "_ansi + item.name);
    }
    const lzh::WriteStatus st = writer.Finish();
    if (st != lzh::WriteStatus::Ok) return WriterFailure(st, errno);
    if (fsync(tmpFd) != 0) return WriteErrorCode(errno);
    return ARC_OK;
}

// The line for an archive that could not be written, after its temporary file went: why, and that
// nothing half-made was left (a new archive is not there at all, an updated one is as it was).
// Nothing for a failure that is not the archive's writing (a file that could not be read, a break).
void LogArchiveNotWritten(AnsiString& log, int32_t code, bool updating, const AnsiString& archive) {
    AnsiString why;
    switch (code) {
    case ARC_DISK_SPACE: why = "ディスクの空きが足りないため、"_ansi; break;
    case ARC_READ_ONLY: why = "読み取り専用のファイルシステムのため、"_ansi; break;
    case ARC_ERROR_CANNOT_WRITE:
    case ARC_ERROR_TMP_OPEN: why = "ディスクへ書き込めなかったため、"_ansi; break;
    default: return;
    }
    AppendOutputLine(log, "> "_ansi + why +
                              (updating ? "書庫を更新できませんでした。書庫は元のままです: "_ansi
                                        : "書庫を作成できませんでした。作りかけの書庫は残していません: "_ansi) +
                              archive);
}

// UpdateArchive's answer when the archive it would replace is no longer the one in place.
constexpr int32_t kAnotherArchive = -1;

// Waits for the turn to update the archive open on fd: an exclusive lock on it, which another
// packing holds until its archive has replaced this one. The host is asked between tries whether to
// stop (it is shown the first file to pack, not yet begun).
int32_t WaitForTurn(int fd, const AnsiString& archive, const std::vector<PackItem>& items, const PackOptions& options,
                    const ProgressSink& sink) {
    ArcProgressRecord record{};
    DosClock clock;
    for (bool asked = false;; asked = true) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return ARC_OK;
        if (errno == EINTR) continue;
        // A file system without locks: the update goes on, as it did before there were turns.
        if (errno != EWOULDBLOCK) return ARC_OK;
        if (!asked) {
            EntryInfo info = items.empty() ? EntryInfo{} : ProgressInfoOf(items.front(), options);
            if (items.empty()) info.path = archive;
            FillProgressRecord(info, archive, 0, record, clock);
        }
        if (!sink.send(ARCEXTRACT_INPROCESS, record)) return ARC_ERROR_USER_CANCEL;
        usleep(50 * 1000);
    }
}

// Puts the new archive in place where there was none; EEXIST when an archive has appeared meanwhile
// (another packing made one), 0 when done, else the errno.
int InstallNewArchive(const std::string& tmp, const std::string& archive) {
    if (renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, archive.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system that cannot rename without replacing: a second name taken where none is.
    if (link(tmp.c_str(), archive.c_str()) == 0) {
        unlink(tmp.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    return rename(tmp.c_str(), archive.c_str()) == 0 ? 0 : errno;
}

// One update of the archive with items: the entries of the archive in place that are kept, then the
// items, written beside it and put in its place. The archive is locked from before it is read until
// the new one has replaced it, and a new archive never replaces one that appeared meanwhile: so no
// update puts in place an archive that lacks what another packing put in after it was read (and
// whose files may have been deleted once found in the archive). kAnotherArchive when the archive in
// place is not (or no longer) the one this update read.
int32_t UpdateArchive(const AnsiString& archive, std::vector<PackItem> items, const PackOptions& options,
                      const ProgressSink& sink, AnsiString& log) {
    const std::string hostArchive = FromAnsi(archive);
    struct stat archiveStat {};
    const bool archiveExists = stat(hostArchive.c_str(), &archiveStat) == 0;
    if (archiveExists && !S_ISREG(archiveStat.st_mode)) return ARC_ERROR_ARC_FILE_OPEN;
    // A link to nothing under the archive's name is no archive: the new one replaces it.
    struct stat named {};
    const bool nameTaken = archiveExists || lstat(hostArchive.c_str(), &named) == 0;
    const FdCloser turn(archiveExists ? open(hostArchive.c_str(), O_RDONLY | O_CLOEXEC) : -1);
    if (archiveExists && turn.get() < 0 && errno == ENOENT) return kAnotherArchive;
    if (turn.get() >= 0) {
        const int32_t waited = WaitForTurn(turn.get(), archive, items, options, sink);
        if (waited != ARC_OK) return waited;
        struct stat now {};
        if (fstat(turn.get(), &archiveStat) != 0 || stat(hostArchive.c_str(), &now) != 0 ||
            now.st_dev != archiveStat.st_dev || now.st_ino != archiveStat.st_ino)
            return kAnotherArchive;
    }

    // What to keep of the archive that is there. A broken archive is not updated.
    std::unique_ptr<LzhSource> old;
    std::vector<lzh::LzhEntryHeader> kept;
    if (archiveExists) {
        int32_t code = LzhSource::Open(archive, old);
        if (code != ARC_OK) return code;
        for (;;) {
            EntryInfo e;
            code = old->nextEntry(e);
            if (code == ARC_FIND_END) break;
            if (code != ARC_OK) {
                AppendOutputLine(log, "> 書庫が壊れているため更新できません: "_ansi + archive);
                return code;
            }
            const lzh::LzhEntryHeader& h = old->currentHeader();
            const AnsiString oldName = NormalizeName(h.path);
            auto same = std::find_if(items.begin(), items.end(), [&](const PackItem& item) { return item.name == oldName; });
            if (same == items.end()) {
                kept.push_back(h);
            } else if (same->isDirectory || (options.onlyNewer && h.mtime >= same->mtime && !h.isDirectory)) {
                kept.push_back(h);  // the archived copy stays; the new one is not added
                items.erase(same);
            }
        }
    }

    // Write beside the archive, then put it in place.
    std::string tmpl = TemporaryTemplate(hostArchive);
    const int tmpFd = mkstemp(tmpl.data());
    if (tmpFd < 0) {
        const int32_t code = errno == ENOSPC || errno == EDQUOT ? ARC_DISK_SPACE : ARC_ERROR_TMP_OPEN;
        AppendOutputLine(log, "> 作業ファイルを作れません: "_ansi + archive);
        LogArchiveNotWritten(log, code, archiveExists, archive);
        return code;
    }
    int32_t code = WriteArchive(tmpFd, old.get(), kept, items, options, archive, sink, log);
    if (code == ARC_OK) {
        const mode_t mode = archiveExists ? (archiveStat.st_mode & 07777) : (0666 & ~CurrentUmask());
        fchmod(tmpFd, mode);
    }
    close(tmpFd);
    old.reset();
    if (code == ARC_OK) {
        const int err = nameTaken ? (rename(tmpl.c_str(), hostArchive.c_str()) == 0 ? 0 : errno)
                                  : InstallNewArchive(tmpl, hostArchive);
        if (err == EEXIST && !nameTaken) code = kAnotherArchive;
        else if (err != 0) code = WriteErrorCode(err);
    }
    if (code != ARC_OK) {
        unlink(tmpl.c_str());
        LogArchiveNotWritten(log, code, archiveExists, archive);
        return code;
    }
    AppendOutputLine(log, (archiveExists ? "> 書庫を更新しました: "_ansi : "> 書庫を作成しました: "_ansi) + archive);
    return ARC_OK;
}

}  // namespace

int32_t PackFiles(const CommandLine& line, const PackOptions& options, const ProgressSink& sink, AnsiString& log) {
    if (line.archive.empty()) return ARC_ERROR_NOT_FIND_ARC_FILE;
    if (line.masks.empty()) {
        log += "> 格納するファイルが指定されていません\r\n"_ansi;
        return ARC_ERROR_NOT_FILENAME;
    }
    const std::string hostArchive = FromAnsi(line.archive);
    const AnsiString base = line.hasDestination ? WithoutTrailingSeparators(line.destination) : AnsiString();

    struct stat archiveStat {};
    const bool archiveExists = stat(hostArchive.c_str(), &archiveStat) == 0;
    if (archiveExists && !S_ISREG(archiveStat.st_mode)) return ARC_ERROR_ARC_FILE_OPEN;

    // What to add. A file that is missing stops everything before the archive is touched.
    Collector collector;
    collector.log = &log;
    if (archiveExists) {
        collector.haveSkip = true;
        collector.skipDev = archiveStat.st_dev;
        collector.skipIno = archiveStat.st_ino;
    }
    for (const AnsiString& given : line.masks) {
        const AnsiString file = ResolveAgainstBase(given, base);
        const std::string host = FromAnsi(file);
        struct stat st {};
        if (stat(host.c_str(), &st) != 0) {
            AppendOutputLine(log, "> ファイルが見つかりません: "_ansi + file);
            return ARC_NOT_EXIST;
        }
        if (collector.haveSkip && st.st_dev == collector.skipDev && st.st_ino == collector.skipIno) continue;
        AnsiString hostPart;
        const AnsiString name = EntryNameFor(file, base, hostPart);
        if (!collector.storable(hostPart, file)) continue;
        if (S_ISDIR(st.st_mode)) {
            if (!name.empty()) collector.add(ItemFromStat(host, name, st));
            collector.addTree(host, name);
        } else if (S_ISREG(st.st_mode)) {
            if (collector.fits(st, file)) collector.add(ItemFromStat(host, name, st));
        } else {
            AppendOutputLine(log, "> 特殊なファイルのため格納しません: "_ansi + file);
            return ARC_ERROR_CANNOT_READ;
        }
    }

    if (collector.failure != ARC_OK) return collector.failure;

    // Another packing into this archive may run meanwhile (a second window, a script). Each update
    // is based on the archive it puts in place: see UpdateArchive. A turn that finds another archive
    // in place of the one it read starts again from that one, with the same files.
    const std::size_t logStart = log.size();
    for (;;) {
        log.resize(logStart);
        const int32_t code = UpdateArchive(line.archive, collector.items, options, sink, log);
        if (code == kAnotherArchive) continue;
        if (code == ARC_ERROR_USER_CANCEL) log += "> 中止しました\r\n"_ansi;
        return code;
    }
}

}  // namespace norvex::modules
