// Removal of trees at any depth with few descriptors, and acting on a name only while it is still
// the same file (device and inode): the checked delete, rename and removal, and folder claims.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/AnsiCodec.h"
#include "platform/FileIdentity.h"
#include "platform/FileSystem.h"
#include "platform/TreeRemoval.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using norvex::test::ReadFile;
using norvex::test::TempDir;
using norvex::test::WriteFile;
namespace fs = std::filesystem;

namespace {

// A chain of depth folders named "d" under root/top, with a file at the bottom and one beside each
// hundredth level, made through descriptors (the path is far beyond PATH_MAX).
void MakeDeepChain(const std::string& top, int depth) {
    ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        if (i % 100 == 0) close(openat(fd, "f", O_CREAT | O_WRONLY, 0644));
        ASSERT_EQ(mkdirat(fd, "d", i % 7 == 0 ? 0555 : 0755), 0) << i;
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(next, 0);
        close(fd);
        fd = next;
    }
    close(openat(fd, "bottom.txt", O_CREAT | O_WRONLY, 0644));
    close(fd);
}

// A scratch folder in memory when the machine has one: removing 10,000 folders from a disk can
// take a minute on a busy virtual disk, which says nothing about the walk.
struct MemoryDir {
    std::string path;
    MemoryDir() {
        std::string templ = "/dev/shm/norvex-test-XXXXXX";
        if (access("/dev/shm", W_OK) == 0 && mkdtemp(templ.data())) path = templ;
    }
    ~MemoryDir() {
        if (!path.empty()) RemoveTree(ToAnsi(path));
    }
};

int OpenDescriptors() {
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) (void)e, ++n;
    return n;
}

}  // namespace

TEST(TreeRemoval, DeepTreesGoWithAFewDescriptors) {
    TempDir disk;
    MemoryDir memory;
    const std::string root = memory.path.empty() ? disk.path() : memory.path;
    const auto at = [&](const std::string& rel) { return root + "/" + rel; };
    MakeDeepChain(at("deep"), 10000);
    // A wide level as well: many folders side by side, each with content.
    for (int i = 0; i < 300; ++i) WriteFile(at("deep/w" + std::to_string(i) + "/x/y.txt"), "y");
    const int before = OpenDescriptors();
    rlimit old {};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const TRemoval result = RemoveTree(ToAnsi(at("deep")));
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(result, TRemoval::Removed);
    EXPECT_FALSE(fs::exists(at("deep")));
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(TreeRemoval, LinksAreRemovedNeverFollowed) {
    TempDir td;
    WriteFile(td / "outside/keep.txt", "keep");
    WriteFile(td / "tree/a/b.txt", "b");
    fs::create_directory_symlink(td / "outside", td / "tree/a/link");
    fs::create_symlink(td / "outside/keep.txt", td / "tree/filelink");
    EXPECT_EQ(RemoveTree(ToAnsi(td / "tree")), TRemoval::Removed);
    EXPECT_EQ(ReadFile(td / "outside/keep.txt"), "keep");
    // A link given as the tree itself: only the link goes.
    fs::create_directory_symlink(td / "outside", td / "alias");
    EXPECT_EQ(RemoveTree(ToAnsi(td / "alias")), TRemoval::Removed);
    EXPECT_EQ(ReadFile(td / "outside/keep.txt"), "keep");
    EXPECT_EQ(RemoveTree(ToAnsi(td / "nothing")), TRemoval::NotThere);
}

TEST(TreeRemoval, OnlyTheFolderOfTheIdentity) {
    TempDir td;
    WriteFile(td / "mine/a.txt", "a");
    const TFileIdentity mine = IdentityOf(ToAnsi(td / "mine"));
    ASSERT_TRUE(mine.Known());
    // Another folder took the name meanwhile: it stays, and so does the one that moved away.
    fs::rename(td / "mine", td / "moved");
    WriteFile(td / "mine/theirs.txt", "theirs");
    EXPECT_EQ(RemoveTree(ToAnsi(td / "mine"), &mine), TRemoval::NotSame);
    EXPECT_EQ(ReadFile(td / "mine/theirs.txt"), "theirs");
    EXPECT_EQ(RemoveTree(ToAnsi(td / "moved"), &mine), TRemoval::Removed);
    EXPECT_FALSE(fs::exists(td / "moved"));
}

TEST(FileIdentity, ChecksRightBeforeActing) {
    TempDir td;
    WriteFile(td / "a.zip", "archive");
    const TFileIdentity read = IdentityOf(ToAnsi(td / "a.zip"));
    // The name now holds another file (written elsewhere and renamed over it).
    WriteFile(td / "new", "entry");
    fs::rename(td / "new", td / "a.zip");
    EXPECT_FALSE(IsSameFile(ToAnsi(td / "a.zip"), read));
    EXPECT_FALSE(DeleteFileIfSame(ToAnsi(td / "a.zip"), read));
    EXPECT_FALSE(RenameIfSame(ToAnsi(td / "a.zip"), ToAnsi(td / "b.zip"), read));
    EXPECT_EQ(ReadFile(td / "a.zip"), "entry");
    const TFileIdentity now = IdentityOf(ToAnsi(td / "a.zip"));
    WriteFile(td / "b.zip", "b");
    EXPECT_FALSE(RenameIfSame(ToAnsi(td / "a.zip"), ToAnsi(td / "b.zip"), now));  // never replaces
    EXPECT_TRUE(RenameIfSame(ToAnsi(td / "a.zip"), ToAnsi(td / "c.zip"), now));
    EXPECT_TRUE(DeleteFileIfSame(ToAnsi(td / "c.zip"), now));
    EXPECT_FALSE(fs::exists(td / "c.zip"));
}

TEST(FolderClaim, AnotherProcessSeesTheClaim) {
    TempDir td;
    const AnsiString path = ToAnsi(td / "bind");
    // Asked from a child process, as another run would; one that has no descriptor to spare cannot
    // look, and must take the folder for held.
    const auto seenElsewhere = [&](bool noDescriptorLeft = false) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (noDescriptorLeft) {
                const int lowestFree = dup(0);
                if (lowestFree < 0) _exit(2);
                const rlimit none{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
                close(lowestFree);
                if (setrlimit(RLIMIT_NOFILE, &none) != 0) _exit(2);
            }
            _exit(IsClaimedElsewhere(path) ? 1 : 0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 1;
    };
    {
        TFolderClaim claim;
        ASSERT_TRUE(claim.Create(path));
        EXPECT_TRUE(fs::is_directory(td / "bind"));
        EXPECT_EQ(claim.Identity(), IdentityOf(path));
        EXPECT_TRUE(seenElsewhere());
        EXPECT_TRUE(seenElsewhere(true));
        TFolderClaim second;
        EXPECT_FALSE(second.Create(path));  // the name is taken
        EXPECT_FALSE(second.Take(path));    // and held
    }
    EXPECT_FALSE(seenElsewhere());
    TFolderClaim again;
    EXPECT_TRUE(again.Take(path));
    // No temporary folder is left behind by the refused creation.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(td.path())) (void)e, ++entries;
    EXPECT_EQ(entries, 1);
}
