// Moving to the freedesktop.org Trash. The info file is created first with O_EXCL, which reserves the
// name against a concurrent trasher; the item is then renamed into files/. When the rename fails
// the info file is removed again, so the trash never lists something it does not hold.
#include "platform/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/StandardFolders.h"

namespace norvex {
namespace {

namespace fs = std::filesystem;

std::string PercentEncode(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-_.~!*'()", c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string LocalTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

bool MakeFolders(const std::string& path, mode_t mode) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) return false;
    chmod(path.c_str(), mode);
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The mount point of the volume that holds path: walk up while the device stays the same.
std::string MountPointOf(const std::string& path, dev_t dev) {
    std::string current = path;
    while (current != "/") {
        std::string parent = fs::path(current).parent_path().string();
        if (parent.empty()) parent = "/";
        struct stat st {};
        if (stat(parent.c_str(), &st) != 0 || st.st_dev != dev) break;
        current = parent;
    }
    return current;
}

// path with every link in its folders resolved (the item itself stays as named); "" when the folder
// cannot be resolved.
std::string RealPathOf(const std::string& path) {
    const fs::path p(path);
    char* folder = realpath(p.parent_path().c_str(), nullptr);
    if (!folder) return {};
    std::string real = folder;
    free(folder);
    return (real == "/" ? real : real + "/") + p.filename().string();
}

// The trash to use on the volume whose top folder is topdir; "" when none can be used.
std::string VolumeTrash(const std::string& topdir) {
    const std::string uid = std::to_string(getuid());
    const std::string shared = topdir + "/.Trash";
    struct stat st {};
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const std::string mine = shared + "/" + uid;
        if (MakeFolders(mine + "/files", 0700) && MakeFolders(mine + "/info", 0700)) return mine;
    }
    const std::string own = topdir + "/.Trash-" + uid;
    if (lstat(own.c_str(), &st) == 0 && (!S_ISDIR(st.st_mode) || st.st_uid != getuid())) return {};
    if (MakeFolders(own + "/files", 0700) && MakeFolders(own + "/info", 0700)) {
        chmod(own.c_str(), 0700);
        return own;
    }
    return {};
}

}  // namespace

AnsiString HomeTrashFolder() { return DataHomeFolder() + "/Trash"; }

TrashResult MoveToTrash(const AnsiString& ansiPath) {
    TrashResult result;
    std::string path = FromAnsi(ansiPath);
    std::error_code ec;
    path = fs::absolute(path, ec).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat item {};
    if (ec || lstat(path.c_str(), &item) != 0) {
        result.error = "no such file: " + path;
        return result;
    }

    const std::string home = FromAnsi(HomeTrashFolder());
    if (!MakeFolders(home + "/files", 0700) || !MakeFolders(home + "/info", 0700)) {
        result.error = "cannot create the trash folder " + home;
        return result;
    }
    struct stat homeSt {};
    stat(home.c_str(), &homeSt);

    std::string trash = home;
    std::string recordedPath = path;  // absolute in the home trash, relative to topdir elsewhere
    if (homeSt.st_dev != item.st_dev) {
        // The volume's top folder is found on the path without links: a folder reached through a
        // link to another volume is no top folder, however it is named.
        const std::string real = RealPathOf(path);
        const std::string topdir = real.empty() ? std::string() : MountPointOf(real, item.st_dev);
        const std::string volumeTrash = topdir.empty() ? std::string() : VolumeTrash(topdir);
        // Without a trash of its own, the item goes to the home trash on another volume.
        if (!volumeTrash.empty()) {
            trash = volumeTrash;
            recordedPath = topdir == "/" ? real.substr(1) : real.substr(topdir.size() + 1);
        }
    }

    // Reserve a name: NAME, NAME.2, NAME.3, ... whichever has neither an info file nor a file.
    const std::string base = fs::path(path).filename().string();
    std::string name, infoPath;
    int fd = -1;
    for (int n = 1; n < 100000 && fd < 0; ++n) {
        name = n == 1 ? base : base + "." + std::to_string(n);
        infoPath = trash + "/info/" + name + ".trashinfo";
        struct stat st {};
        if (lstat((trash + "/files/" + name).c_str(), &st) == 0) continue;
        fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        result.error = "cannot create a trash info file in " + trash;
        return result;
    }
    const std::string info = "[Trash Info]\nPath=" + PercentEncode(recordedPath) + "\nDeletionDate=" + LocalTimestamp() + "\n";
    const bool written = write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size());
    close(fd);

    // Never over a file that took the name since it was found free; across volumes, the copy is
    // named only when whole and the original goes only while it is still the file copied.
    const std::string target = trash + "/files/" + name;
    bool moved = written;
    if (moved && !MoveHostPath(path, target)) {
        result.error = std::string("cannot move into the trash: ") + std::strerror(errno);
        moved = false;
    }
    if (!moved) {
        if (result.error.empty()) result.error = "cannot write " + infoPath;
        unlink(infoPath.c_str());
        return result;
    }
    result.ok = true;
    result.trashFolder = ToAnsi(trash);
    result.trashedName = ToAnsi(name);
    return result;
}

}  // namespace norvex
