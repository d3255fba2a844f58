// Atomic replacement of a file: temporary file, fsync, rename, fsync of the folder.
#include "settings/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace norvex {
namespace {

int gFailAtStep = 0;

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// The file that a save really replaces: the target of a symbolic link, else the path itself.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string target = real;
        std::free(real);
        return target;
    }
    return path;  // a dangling link: replace the link itself
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Opens a new, exclusive temporary file beside target; the kernel applies the umask to 0666.
int CreateTemporary(const std::string& target, std::string& tmpPath) {
    std::random_device rd;
    const std::string folder = FolderOf(target);
    std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmpPath = folder + "/." + base + ".tmp" + std::to_string(getpid()) + "." + std::to_string(rd() % 1000000);
        int fd = open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

void FailNextAtomicWriteForTesting(int step) { gFailAtStep = step; }

bool WriteFileAtomically(const std::string& hostPath, std::string_view data, std::string* error) {
    const int failAt = gFailAtStep;
    gFailAtStep = 0;
    std::string ignored;
    std::string& why = error ? *error : ignored;

    const std::string target = ResolveTarget(hostPath);
    std::string tmpPath;
    int fd = CreateTemporary(target, tmpPath);
    if (fd < 0) {
        why = Reason("cannot create a temporary file beside the target", errno);
        return false;
    }
    auto fail = [&](const char* what, int err) {
        if (fd >= 0) close(fd);
        unlink(tmpPath.c_str());
        why = Reason(what, err);
        return false;
    };

    struct stat old {};
    if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);

    if (failAt == 1) {
        WriteAll(fd, data.substr(0, data.size() / 2));
        return fail("write", ENOSPC);
    }
    if (!WriteAll(fd, data)) return fail("write", errno);
    if (failAt == 2) return fail("fsync", EIO);
    if (fsync(fd) != 0) return fail("fsync", errno);
    if (close(fd) != 0) {
        fd = -1;
        return fail("close", errno);
    }
    fd = -1;
    if (failAt == 3) return fail("rename", EXDEV);
    if (rename(tmpPath.c_str(), target.c_str()) != 0) return fail("rename", errno);

    // Make the rename itself durable; a failure here no longer endangers either version.
    int dir = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace norvex
