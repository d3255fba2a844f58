// Preloaded into a test run to stand for a file system that has no files without a name: openat with
// O_TMPFILE fails as such a file system makes it fail, so the writer takes its temporary-name path.
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

extern "C" int openat(int folder, const char* path, int flags, ...) {
    using Openat = int (*)(int, const char*, int, ...);
    static const Openat real = reinterpret_cast<Openat>(::dlsym(RTLD_NEXT, "openat"));
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real(folder, path, flags, mode);
}
