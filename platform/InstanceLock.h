// One Norvex per user: an advisory lock on a per-user lock file, held for the life of the object.
#pragma once
#include <string>

namespace norvex {

class TInstanceLock {
public:
    // Tries to take the lock named name (the program uses "Norvex"); never blocks.
    explicit TInstanceLock(const std::string& name);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // False when another process holds it: the caller ends silently.
    bool Acquired() const { return fd_ >= 0; }
    // The lock file: $XDG_RUNTIME_DIR/NAME.lock, else /tmp/NAME-UID.lock.
    static std::string LockFilePath(const std::string& name);

private:
    int fd_ = -1;
};

}  // namespace norvex
