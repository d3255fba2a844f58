// flock on a per-user file. The kernel drops the lock when the process ends, however it ends, so a
// crashed Norvex never blocks the next start.
#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace norvex {

std::string TInstanceLock::LockFilePath(const std::string& name) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        struct stat st {};
        if (stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
            return std::string(runtime) + "/" + name + ".lock";
    }
    return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

TInstanceLock::TInstanceLock(const std::string& name) {
    const std::string path = LockFilePath(name);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;  // no lock can be had here: run unguarded rather than never
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere_ = errno == EWOULDBLOCK;
        close(fd);
        return;
    }
    fd_ = fd;
}

TInstanceLock::~TInstanceLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace norvex
