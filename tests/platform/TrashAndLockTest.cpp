// The freedesktop.org Trash as the desktop reads it, and the single-instance lock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>

#include "platform/AnsiCodec.h"
#include "platform/InstanceLock.h"
#include "platform/Trash.h"
#include "tests/support/OwnMemoryFileSystem.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using norvex::test::InOwnMemoryFileSystem;
using norvex::test::ReadFile;
using norvex::test::TempDir;
using norvex::test::WriteFile;
namespace fs = std::filesystem;

namespace {

class TrashTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_DATA_HOME", (home / "data").c_str(), 1); }
    std::string TrashDir() const { return home / "data/Trash"; }
    TempDir home;
};

}  // namespace

TEST_F(TrashTest, TrashedFileIsListedWithWellFormedInfo) {
    const std::string file = home / "files/書庫 1.zip";
    WriteFile(file, "first");
    TrashResult r = MoveToTrash(ToAnsi(file));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(FromAnsi(r.trashedName), "書庫 1.zip");
    EXPECT_EQ(ReadFile(TrashDir() + "/files/書庫 1.zip"), "first");
    const std::string info = ReadFile(TrashDir() + "/info/書庫 1.zip.trashinfo");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(info, m, std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)\n")))
        << info;
    // The path is absolute and percent-encoded, so a restore puts the file back where it was.
    EXPECT_EQ(m[1].str()[0], '/');
    EXPECT_NE(m[1].str().find("%E6%9B%B8%E5%BA%AB%201.zip"), std::string::npos) << m[1];
}

TEST_F(TrashTest, SameNameNeverOverwritesAnEarlierTrashedItem) {
    const std::string file = home / "a.lzh";
    for (const char* content : {"one", "two", "three"}) {
        WriteFile(file, content);
        ASSERT_TRUE(MoveToTrash(ToAnsi(file)).ok);
    }
    EXPECT_EQ(ReadFile(TrashDir() + "/files/a.lzh"), "one");
    EXPECT_EQ(ReadFile(TrashDir() + "/files/a.lzh.2"), "two");
    EXPECT_EQ(ReadFile(TrashDir() + "/files/a.lzh.3"), "three");
    for (const char* name : {"a.lzh", "a.lzh.2", "a.lzh.3"})
        EXPECT_TRUE(fs::exists(TrashDir() + "/info/" + name + ".trashinfo")) << name;
}

TEST_F(TrashTest, FolderAndMissingPath) {
    WriteFile(home / "tree/sub/x.txt", "x");
    ASSERT_TRUE(MoveToTrash(ToAnsi(home / "tree")).ok);
    EXPECT_EQ(ReadFile(TrashDir() + "/files/tree/sub/x.txt"), "x");

    TrashResult missing = MoveToTrash(ToAnsi(home / "nothing-here"));
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.empty());
    // A failed attempt leaves no info file that would show a phantom item.
    EXPECT_FALSE(fs::exists(TrashDir() + "/info/nothing-here.trashinfo"));
}

TEST_F(TrashTest, ItemOnAnotherVolumeGoesToThatVolumesTrash) {
    struct stat a {}, b {};
    if (stat("/dev/shm", &b) != 0 || stat(home.path().c_str(), &a) != 0 || a.st_dev == b.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable volume";
    char templ[] = "/dev/shm/norvex-trash-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string file = std::string(templ) + "/b.cab";
    WriteFile(file, "cab");
    TrashResult r = MoveToTrash(ToAnsi(file));
    ASSERT_TRUE(r.ok) << r.error;
    const std::string trash = FromAnsi(r.trashFolder);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(ReadFile(trash + "/files/" + FromAnsi(r.trashedName)), "cab");
    // On a volume trash the recorded path is relative to the volume's top folder.
    const std::string info = ReadFile(trash + "/info/" + FromAnsi(r.trashedName) + ".trashinfo");
    EXPECT_NE(info.find("\nPath=" + std::string(templ).substr(std::string("/dev/shm/").size()) + "/b.cab\n"), std::string::npos) << info;
    std::error_code ec;
    fs::remove_all(trash + "/files/" + FromAnsi(r.trashedName), ec);
    fs::remove(trash + "/info/" + FromAnsi(r.trashedName) + ".trashinfo", ec);
    fs::remove_all(templ, ec);
}

// A volume whose own trash cannot be made (its ".Trash-UID" is a file): the item goes to the home
// trash on another volume, copied whole there, and only then is the original removed. The volume is
// a memory file system mounted in a mount namespace of a child process of its own.
TEST_F(TrashTest, ItemOnAVolumeWithoutATrashGoesWholeToTheHomeTrash) {
    const std::string volume = home / "volume";
    fs::create_directories(volume);
    const std::optional<std::string> failed = InOwnMemoryFileSystem(volume, "size=4m", [&] {
        std::string failures;
        WriteFile(volume + "/.Trash-" + std::to_string(getuid()), "not a folder");
        WriteFile(volume + "/c.lzh", "lzh bytes");
        WriteFile(volume + "/set/x.txt", "x");
        for (const char* name : {"c.lzh", "set"}) {
            const TrashResult r = MoveToTrash(ToAnsi(volume + "/" + name));
            if (!r.ok) failures += std::string(name) + ": " + r.error + "\n";
            if (FromAnsi(r.trashFolder) != TrashDir()) failures += std::string(name) + ": not the home trash\n";
            if (fs::exists(volume + "/" + name)) failures += std::string(name) + ": the original stayed\n";
        }
        if (ReadFile(TrashDir() + "/files/c.lzh") != "lzh bytes") failures += "c.lzh: wrong copy\n";
        if (ReadFile(TrashDir() + "/files/set/x.txt") != "x") failures += "set: wrong copy\n";
        if (ReadFile(TrashDir() + "/info/c.lzh.trashinfo").find("\nPath=" + volume + "/c.lzh\n") == std::string::npos)
            failures += "c.lzh: the info does not give the absolute path\n";
        return failures;
    });
    if (!failed) GTEST_SKIP() << "cannot mount a memory file system here";
    EXPECT_EQ(*failed, "");
}

// A file reached through a link to a folder on another volume goes to the trash at that volume's top
// folder, with its path there: the desktop looks for trashes only at the tops of volumes, and a
// restore must put the file back where it is, not where a trash inside the folder would say.
TEST_F(TrashTest, ItemReachedThroughALinkGoesToTheTrashAtItsVolumesTop) {
    struct stat a {}, b {};
    if (stat("/dev/shm", &b) != 0 || stat(home.path().c_str(), &a) != 0 || a.st_dev == b.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable volume";
    char templ[] = "/dev/shm/norvex-trash-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string folder = templ, relative = folder.substr(std::string("/dev/shm/").size());
    WriteFile(folder + "/c.zip", "zip");
    ASSERT_EQ(symlink(folder.c_str(), (home / "link").c_str()), 0);
    TrashResult r = MoveToTrash(ToAnsi(home / "link/c.zip"));
    ASSERT_TRUE(r.ok) << r.error;
    const std::string trash = FromAnsi(r.trashFolder);
    EXPECT_EQ(trash, "/dev/shm/.Trash-" + std::to_string(getuid()));
    EXPECT_FALSE(fs::exists(folder + "/.Trash-" + std::to_string(getuid())));
    EXPECT_EQ(ReadFile(trash + "/files/" + FromAnsi(r.trashedName)), "zip");
    const std::string info = ReadFile(trash + "/info/" + FromAnsi(r.trashedName) + ".trashinfo");
    EXPECT_NE(info.find("\nPath=" + relative + "/c.zip\n"), std::string::npos) << info;
    std::error_code ec;
    fs::remove_all(trash + "/files/" + FromAnsi(r.trashedName), ec);
    fs::remove(trash + "/info/" + FromAnsi(r.trashedName) + ".trashinfo", ec);
    fs::remove_all(folder, ec);
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstEnds) {
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    {
        TInstanceLock first("Norvex");
        ASSERT_TRUE(first.Acquired());
        TInstanceLock second("Norvex");
        EXPECT_FALSE(second.Acquired());
        TInstanceLock other("NorvexOther");
        EXPECT_TRUE(other.Acquired());
    }
    TInstanceLock again("Norvex");
    EXPECT_TRUE(again.Acquired());
}

TEST(InstanceLock, UnopenableLockFileDoesNotKeepNorvexFromStarting) {
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    // A folder where the lock file should be: open fails, yet nobody else holds the lock.
    ASSERT_EQ(mkdir(TInstanceLock::LockFilePath("Norvex").c_str(), 0700), 0);
    TInstanceLock lock("Norvex");
    EXPECT_TRUE(lock.Acquired());
    EXPECT_FALSE(lock.HeldElsewhere());
}
