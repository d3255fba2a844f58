// Non-blocking opens of regular files, and the signature search behind self-extracting stubs.
#include "modules/common/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace norvex::modules {

int OpenRegularFile(const std::string& hostPath, struct stat* info) {
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Regular files never block; the flag goes so that nothing downstream sees EAGAIN. O_NONBLOCK is
    // the only status flag the open set, so the flags are cleared without reading them first.
    ::fcntl(fd, F_SETFL, 0);
    if (info) *info = st;
    return fd;
}

std::FILE* OpenRegularStream(const std::string& hostPath) {
    const int fd = OpenRegularFile(hostPath);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) ::close(fd);
    return f;
}

int64_t FindSignature(int fd, std::string_view signature, bool (*accept)(const unsigned char*, std::size_t)) {
    if (signature.empty()) return -1;
    std::vector<unsigned char> head(kMaxStubSize + 64);
    std::size_t have = 0;
    while (have < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + have, head.size() - have, static_cast<off_t>(have));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<std::size_t>(n);
    }
    const auto* sig = reinterpret_cast<const unsigned char*>(signature.data());
    for (std::size_t i = 0; i + signature.size() <= have && i <= kMaxStubSize; ++i) {
        const auto* hit = static_cast<const unsigned char*>(std::memchr(head.data() + i, sig[0], have - i));
        if (!hit) break;
        i = static_cast<std::size_t>(hit - head.data());
        if (i > kMaxStubSize || i + signature.size() > have) break;
        if (std::memcmp(hit, sig, signature.size()) != 0) continue;
        if (!accept || accept(hit, have - i)) return static_cast<int64_t>(i);
    }
    return -1;
}

bool ReadFullyAt(int fd, void* buffer, std::size_t size, uint64_t offset) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace norvex::modules
