// A file descriptor closed when its owner goes out of scope.
#pragma once
#include <unistd.h>

namespace norvex {

class TOwnedFd {
public:
    explicit TOwnedFd(int fd) : fd_(fd) {}
    ~TOwnedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    TOwnedFd(const TOwnedFd&) = delete;
    TOwnedFd& operator=(const TOwnedFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace norvex
