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

    // False only when another process holds it: the caller ends silently. When no lock file can be
    // opened at all (a read-only /tmp, say) the lock counts as taken, so Norvex still starts.
    bool Acquired() const { return !heldElsewhere_; }
    bool HeldElsewhere() const { return heldElsewhere_; }
    // The lock file: $XDG_RUNTIME_DIR/NAME.lock, else /tmp/NAME-UID.lock.
    static std::string LockFilePath(const std::string& name);

private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

}  // namespace norvex
