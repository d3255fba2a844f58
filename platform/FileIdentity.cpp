// Identities by device and inode, the checked deletes and renames, and folder claims.
#include "platform/FileIdentity.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

TFileIdentity FromStat(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// The folder part and the last name of a host path ("a/b" gives "a" and "b", "b" gives "." and "b").
void SplitHostPath(std::string host, std::string& folder, std::string& name) {
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    const std::size_t slash = host.rfind('/');
    if (slash == std::string::npos) {
        folder.assign(1, '.');
        name = std::move(host);
    } else {
        folder = slash == 0 ? std::string(1, '/') : host.substr(0, slash);
        name = host.substr(slash + 1);
    }
}

// The folder holding path, opened, and the name inside it; -1 when the folder cannot be opened.
int OpenParent(const AnsiString& path, std::string& name) {
    std::string folder;
    SplitHostPath(FromAnsi(path), folder, name);
    if (name.empty() || name == "." || name == "..") return -1;
    return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool SameAt(int folder, const std::string& name, const TFileIdentity& identity) {
    struct stat st {};
    return identity.Known() && fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           FromStat(st) == identity;
}

// The hidden name a folder is made under before it is renamed onto its own: ".nvx-new-", the process
// id, "-" and eight hex digits of a random number (a name taken already is answered by another try).
std::string TemporaryFolderName() {
    static const std::string prefix = ".nvx-new-" + std::to_string(static_cast<int>(getpid())) + "-";
    static constexpr char kHex[] = "0123456789abcdef";
    const unsigned long value = static_cast<unsigned long>(std::rand()) & 0xFFFFFFFFul;
    std::string name = prefix;
    name.resize(prefix.size() + 8);
    for (std::size_t k = 0; k < 8; ++k) name[name.size() - 1 - k] = kHex[(value >> (4 * k)) & 0xF];
    return name;
}

}  // namespace

TFileIdentity IdentityOf(const AnsiString& path) {
    struct stat st {};
    if (path.empty() || lstat(FromAnsi(path).c_str(), &st) != 0) return {};
    return FromStat(st);
}

TFileIdentity IdentityOfFolder(const AnsiString& path) {
    struct stat st {};
    if (path.empty() || stat(FromAnsi(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return FromStat(st);
}

bool IsSameFile(const AnsiString& path, const TFileIdentity& identity) {
    return identity.Known() && IdentityOf(path) == identity;
}

bool DeleteFileIfSame(const AnsiString& path, const TFileIdentity& identity) {
    return DeleteFileIfSameWhy(path, identity) == 0;
}

int DeleteFileIfSameWhy(const AnsiString& path, const TFileIdentity& identity) {
    std::string name;
    errno = EINVAL;  // a path without a name of its own
    const int folder = OpenParent(path, name);
    if (folder < 0) return errno;
    struct stat st {};
    int why = 0;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        why = errno;
    else if (S_ISDIR(st.st_mode) || !identity.Known() || FromStat(st) != identity)
        why = EEXIST;
    else if (unlinkat(folder, name.c_str(), 0) != 0)
        why = errno;
    close(folder);
    return why;
}

bool RenameIfSame(const AnsiString& from, const AnsiString& to, const TFileIdentity& identity) {
    std::string name;
    const int folder = OpenParent(from, name);
    if (folder < 0) return false;
    bool ok = false;
    if (SameAt(folder, name, identity)) {
        std::string target = FromAnsi(to);
        while (target.size() > 1 && target.back() == '/') target.pop_back();
        ok = renameat2(folder, name.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
        if (!ok && (errno == EINVAL || errno == ENOSYS)) {
            struct stat st {};
            ok = lstat(target.c_str(), &st) != 0 && renameat(folder, name.c_str(), AT_FDCWD, target.c_str()) == 0;
        }
    }
    close(folder);
    return ok;
}

int64_t ChangeTimeOf(const AnsiString& path) {
    struct stat st {};
    if (path.empty() || lstat(FromAnsi(path).c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_ctim.tv_sec);
}

// ---- Claims -----------------------------------------------------------------------------------------

TFolderClaim::~TFolderClaim() { Release(); }

TFolderClaim::TFolderClaim(TFolderClaim&& other) noexcept : fd_(other.fd_), identity_(other.identity_) {
    other.fd_ = -1;
    other.identity_ = {};
}

TFolderClaim& TFolderClaim::operator=(TFolderClaim&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        identity_ = other.identity_;
        other.fd_ = -1;
        other.identity_ = {};
    }
    return *this;
}

void TFolderClaim::Release() {
    if (fd_ >= 0) close(fd_);  // closing the descriptor drops the lock
    fd_ = -1;
    identity_ = {};
}

bool TFolderClaim::Create(const AnsiString& path) {
    Release();
    std::string folder, name;
    SplitHostPath(FromAnsi(path), folder, name);
    if (name.empty() || name == "." || name == "..") {
        errno = EINVAL;
        return false;
    }
    const int parent = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return false;
    // A name that is taken needs no temporary folder to find out.
    struct stat st {};
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        close(parent);
        errno = EEXIST;
        return false;
    }
    std::string temp;
    bool made = false;
    for (int tries = 0; tries < 16 && !made; ++tries) {
        temp = TemporaryFolderName();
        made = mkdirat(parent, temp.c_str(), 0777) == 0;
        if (!made && errno != EEXIST) break;
    }
    if (!made) {
        const int saved = errno;
        close(parent);
        errno = saved;
        return false;
    }
    const int fd = openat(parent, temp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0;
    int saved = 0;
    if (ok) {
        ok = renameat2(parent, temp.c_str(), parent, name.c_str(), RENAME_NOREPLACE) == 0;
        if (!ok && (errno == EINVAL || errno == ENOSYS)) {
            struct stat taken {};
            if (fstatat(parent, name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0)
                errno = EEXIST;
            else
                ok = renameat(parent, temp.c_str(), parent, name.c_str()) == 0;
        }
        saved = errno;
    }
    if (!ok) {
        if (saved == 0) saved = errno;
        if (fd >= 0) close(fd);
        unlinkat(parent, temp.c_str(), AT_REMOVEDIR);
        close(parent);
        errno = saved;
        return false;
    }
    close(parent);
    fd_ = fd;
    identity_ = FromStat(st);
    return true;
}

bool TFolderClaim::Take(const AnsiString& path) {
    Release();
    const int fd = open(FromAnsi(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &st) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    identity_ = FromStat(st);
    return true;
}

bool IsClaimedElsewhere(const AnsiString& path) {
    const int fd = open(FromAnsi(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // A folder that is there but cannot be looked at (no descriptor to be had, say) may be held: in
    // doubt it is, so that no run moves aside or fills what another one is working in.
    if (fd < 0) return errno != ENOENT && errno != ENOTDIR && errno != ELOOP;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

}  // namespace norvex
