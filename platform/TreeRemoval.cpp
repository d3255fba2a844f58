// The removal walk: depth first without recursion, a window of open folders, the rest found again
// through "..". Tested by tests/platform/TreeRemovalTest.cpp and, 10,000 levels deep under a low
// descriptor limit, by tests/reliability/ResidueTest.cpp.
#include "platform/TreeRemoval.h"

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

// Folders kept open at once; deeper walks close the shallowest and reopen it on the way back.
constexpr std::size_t kOpenWindow = 16;

struct TFrame {
    std::string name;          // its name in the folder above
    dev_t device = 0;
    ino_t inode = 0;
    DIR* dir = nullptr;        // null while it is outside the open window
    std::string relative;      // its path from the top folder, with a trailing "/" (empty for the top)
    std::set<std::string> kept;  // entries that stay: not tried again
    bool changed = false;      // something was removed in this pass over the folder
    bool failed = false;       // something in it could not be removed
    bool refused = false;      // something in it was kept by the filter
};

bool SameStat(const struct stat& st, dev_t device, ino_t inode) {
    return st.st_dev == device && st.st_ino == inode;
}

// Opens the folder name inside parent without following a link, writable for its owner so that its
// entries can go. Null when it cannot be opened or is not the folder that st describes.
DIR* OpenChild(int parent, const char* name, const struct stat& st) {
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat now {};
    if (fstat(fd, &now) != 0 || !SameStat(now, st.st_dev, st.st_ino)) {
        close(fd);
        return nullptr;
    }
    if ((now.st_mode & S_IRWXU) != S_IRWXU) fchmod(fd, (now.st_mode & 07777) | S_IRWXU);
    DIR* dir = fdopendir(fd);
    if (!dir) close(fd);
    return dir;
}

enum class TEmptied { Empty, Refused, Partial };

// Empties the folder open as root (taken over and closed), as far as the filter allows. The errno of
// the first step that failed goes to firstError (left as it is when it holds one already).
TEmptied EmptyTree(DIR* root, const struct stat& rootStat, const TRemovalFilter& filter, int& firstError) {
    const auto failedWith = [&firstError](int err) {
        if (firstError == 0) firstError = err;
    };
    std::vector<TFrame> frames;
    frames.push_back({"", rootStat.st_dev, rootStat.st_ino, root, ""});
    std::size_t open = 1;
    bool lost = false;  // a folder above the window could not be found again: stop
    while (!frames.empty() && !lost) {
        TFrame& frame = frames.back();
        const int fd = dirfd(frame.dir);
        errno = 0;
        if (const struct dirent* entry = readdir(frame.dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || frame.kept.count(name)) continue;
            struct stat st {};
            if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) {
                    failedWith(errno);
                    frame.kept.insert(name);
                    frame.failed = true;
                }
                continue;
            }
            const bool folder = S_ISDIR(st.st_mode);
            std::string relative = frame.relative + name;
            if (folder) relative += '/';
            if (filter && !filter(relative)) {
                frame.kept.insert(name);
                frame.refused = true;
                continue;
            }
            if (!folder) {
                if (unlinkat(fd, name.c_str(), 0) == 0 || errno == ENOENT) {
                    frame.changed = true;
                } else {
                    failedWith(errno);
                    frame.kept.insert(name);
                    frame.failed = true;
                }
                continue;
            }
            DIR* child = OpenChild(fd, name.c_str(), st);
            if (!child) {
                failedWith(errno);
                frame.kept.insert(name);
                frame.failed = true;
                continue;
            }
            if (open >= kOpenWindow) {
                for (TFrame& shallow : frames) {
                    if (!shallow.dir) continue;
                    closedir(shallow.dir);
                    shallow.dir = nullptr;
                    --open;
                    break;
                }
            }
            frames.push_back({name, st.st_dev, st.st_ino, child, std::move(relative)});
            ++open;
            continue;
        }
        // The end of this folder. Entries removed during the pass may hide others from it: read it
        // once more until a pass removes nothing.
        if (frame.changed) {
            frame.changed = false;
            rewinddir(frame.dir);
            continue;
        }
        if (frames.size() == 1) break;
        TFrame done = std::move(frames.back());
        frames.pop_back();
        TFrame& parent = frames.back();
        if (!parent.dir) {
            const int up = openat(dirfd(done.dir), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat st {};
            if (up >= 0 && fstat(up, &st) == 0 && SameStat(st, parent.device, parent.inode))
                parent.dir = fdopendir(up);
            if (!parent.dir) {
                failedWith(up < 0 ? errno : ESTALE);  // found again, but another folder: moved meanwhile
                if (up >= 0) close(up);
                lost = true;
            } else {
                ++open;
            }
        }
        closedir(done.dir);
        --open;
        if (lost) break;
        const int pfd = dirfd(parent.dir);
        struct stat st {};
        if (!done.kept.empty()) {
            // What it still holds keeps it, for the same reason.
            parent.kept.insert(done.name);
            parent.failed |= done.failed;
            parent.refused |= done.refused;
        } else if (fstatat(pfd, done.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                   SameStat(st, done.device, done.inode) && unlinkat(pfd, done.name.c_str(), AT_REMOVEDIR) == 0) {
            parent.changed = true;
        } else {
            failedWith(errno);
            parent.kept.insert(done.name);
            parent.failed = true;
        }
    }
    TEmptied result = TEmptied::Empty;
    if (lost || frames.empty() || frames.front().failed)
        result = TEmptied::Partial;
    else if (!frames.front().kept.empty())
        result = TEmptied::Refused;
    for (TFrame& frame : frames)
        if (frame.dir) closedir(frame.dir);
    return result;
}

// RemoveTree, with the errno of the first step that failed in firstError.
TRemoval RemoveTreeWhy(const AnsiString& path, const TFileIdentity* identity, const TRemovalFilter& filter, int& firstError) {
    std::string host = FromAnsi(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    if (host.empty()) return TRemoval::NotThere;
    std::string folder, name;
    const std::size_t slash = host.rfind('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : host.substr(0, slash));
    name = slash == std::string::npos ? host : host.substr(slash + 1);
    if (name == "." || name == ".." || name.empty()) return TRemoval::Partial;

    const int parent = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        firstError = errno;
        return errno == ENOENT ? TRemoval::NotThere : TRemoval::Partial;
    }
    struct stat st {};
    TRemoval result = TRemoval::Removed;
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        firstError = errno;
        result = errno == ENOENT ? TRemoval::NotThere : TRemoval::Partial;
    } else if (identity && !SameStat(st, static_cast<dev_t>(identity->device), static_cast<ino_t>(identity->inode))) {
        result = TRemoval::NotSame;
    } else if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(parent, name.c_str(), 0) != 0) {
            firstError = errno;
            result = TRemoval::Partial;
        }
    } else {
        DIR* dir = OpenChild(parent, name.c_str(), st);
        if (!dir) firstError = errno;
        const TEmptied emptied = dir ? EmptyTree(dir, st, filter, firstError) : TEmptied::Partial;
        struct stat now {};
        // Checked again right before the folder itself goes: its name may have been given to another.
        if (emptied != TEmptied::Empty) {
            result = emptied == TEmptied::Refused ? TRemoval::Refused : TRemoval::Partial;
        } else if (fstatat(parent, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
                   !SameStat(now, st.st_dev, st.st_ino) || unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
            if (firstError == 0) firstError = errno;
            result = TRemoval::Partial;
        }
    }
    close(parent);
    return result;
}

}  // namespace

TRemoval RemoveTree(const AnsiString& path, const TFileIdentity* identity, const TRemovalFilter& filter, int* error) {
    int firstError = 0;
    const TRemoval result = RemoveTreeWhy(path, identity, filter, firstError);
    if (error) *error = result == TRemoval::Partial ? firstError : 0;
    return result;
}

}  // namespace norvex
