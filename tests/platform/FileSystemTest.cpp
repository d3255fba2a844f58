// The file system over cp932 paths, on real files in a scratch folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/support/TimeZone.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::literals;
using norvex::test::ReadFile;
using norvex::test::TempDir;
using norvex::test::WriteFile;

using norvex::test::TZone;

namespace {


std::set<AnsiString> FindAll(const AnsiString& pattern, uint32_t attr) {
    std::set<AnsiString> names;
    TSearchRec rec;
    for (int r = FindFirst(pattern, attr, rec); r == 0; r = FindNext(rec)) names.insert(rec.Name);
    FindClose(rec);
    return names;
}

// A folder with a plain file, a hidden file, a read-only file, a folder and a hidden folder.
struct MixedFolder {
    TempDir dir;
    AnsiString root = ToAnsi(dir.path());
    MixedFolder() {
        WriteFile(dir / "a.txt", "a");
        WriteFile(dir / ".hidden", "h");
        WriteFile(dir / "README", "r");
        WriteFile(dir / "ro.txt", "r");
        chmod((dir / "ro.txt").c_str(), 0444);
        WriteFile(dir / "sub/x.txt", "x");
        WriteFile(dir / ".cache/y.txt", "y");
    }
};

// A fresh folder on /dev/shm when that is a writable file system other than here's; empty when not.
std::string FolderOnAnotherFileSystem(const TempDir& here) {
    struct stat shm {}, tmp {};
    if (stat("/dev/shm", &shm) != 0 || stat(here.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
        access("/dev/shm", W_OK) != 0)
        return {};
    char templ[] = "/dev/shm/norvex-move-XXXXXX";
    return mkdtemp(templ) ? std::string(templ) : std::string();
}

}  // namespace

TEST(FileSystemAttributes, ReflectTheModesAndNames) {
    MixedFolder m;
    EXPECT_EQ(FileGetAttr(m.root + "/a.txt"), faArchive);
    EXPECT_EQ(FileGetAttr(m.root + "/.hidden"), faArchive | faHidden);
    EXPECT_EQ(FileGetAttr(m.root + "/ro.txt"), faArchive | faReadOnly);
    EXPECT_EQ(FileGetAttr(m.root + "/sub"), faDirectory);
    EXPECT_EQ(FileGetAttr(m.root + "/.cache"), faDirectory | faHidden);
    EXPECT_EQ(FileGetAttr(m.root + "/missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FileGetAttr(""), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FileGetAttr(m.root + "/sub/.."), faDirectory);  // "." and ".." are not hidden names

    ASSERT_EQ(symlink((m.dir / "sub").c_str(), (m.dir / "link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (m.dir / "dangling").c_str()), 0);
    EXPECT_EQ(FileGetAttr(m.root + "/link"), faDirectory | faSymLink);
    EXPECT_EQ(FileGetAttr(m.root + "/dangling"), faArchive | faSymLink);

    EXPECT_TRUE(FileExists(m.root + "/a.txt"));
    EXPECT_FALSE(FileExists(m.root + "/sub"));
    EXPECT_TRUE(DirectoryExists(m.root + "/sub"));
    EXPECT_TRUE(DirectoryExists(m.root + "/link"));
    EXPECT_FALSE(DirectoryExists(m.root + "/a.txt"));
}

TEST(FileSystemFind, AttributeMasksFollowTheWindowsRule) {
    MixedFolder m;
    const AnsiString all = m.root + "/*.*";
    EXPECT_EQ(FindAll(all, faReadOnly | faArchive), (std::set<AnsiString>{"a.txt", "README", "ro.txt"}));
    EXPECT_EQ(FindAll(all, faReadOnly | faArchive | faHidden),
              (std::set<AnsiString>{"a.txt", "README", "ro.txt", ".hidden"}));
    EXPECT_EQ(FindAll(all, faDirectory), (std::set<AnsiString>{"a.txt", "README", "ro.txt", "sub"}));
    EXPECT_EQ(FindAll(all, faAnyFile),
              (std::set<AnsiString>{"a.txt", "README", "ro.txt", ".hidden", "sub", ".cache"}));
    // A mask without the read-only bit still lists read-only files: only hidden, system and
    // directory bits are exclusive.
    EXPECT_EQ(FindAll(all, 0), (std::set<AnsiString>{"a.txt", "README", "ro.txt"}));
}

TEST(FileSystemFind, RecordCarriesSizeAndTimes) {
    TempDir dir;
    WriteFile(dir / "f.bin", std::string(5000, 'x'));
    const FILETIME when = FileTimeFromUnix(1'000'000'000, 500);
    ASSERT_TRUE(SetFileTimes(ToAnsi(dir / "f.bin"), nullptr, &when, &when));
    TSearchRec rec;
    ASSERT_EQ(FindFirst(ToAnsi(dir / "f.bin"), faAnyFile, rec), 0);
    EXPECT_EQ(rec.Name, "f.bin");
    EXPECT_EQ(rec.Size, 5000u);
    EXPECT_EQ(rec.LastWriteTime, when);
    EXPECT_EQ(rec.LastAccessTime, when);
    EXPECT_NE(rec.CreationTime, 0u);
    EXPECT_EQ(FindNext(rec), ENOENT);
}

TEST(FileSystemFind, FailureLeavesNoHandleAndEmptyFolderFindsNothing) {
    TempDir dir;
    TSearchRec rec;
    EXPECT_NE(FindFirst(ToAnsi(dir / "missing/*.*"), faAnyFile, rec), 0);
    EXPECT_EQ(rec.FindHandle, nullptr);
    FindClose(rec);  // harmless
    EXPECT_EQ(FindFirst(ToAnsi(dir / "*.*"), faAnyFile, rec), ENOENT);  // "." and ".." are never listed
    EXPECT_EQ(rec.FindHandle, nullptr);
}

TEST(FileSystemFind, WildcardsWorkOnWholeCharactersWithoutCase) {
    // Name, mask, match?
    const struct {
        const char* name;
        const char* mask;
        bool match;
    } cases[] = {
        {"README", "*.*", true},   {".bashrc", "*.*", true},   {"a.b.c", "*.*", true},
        {"ab", "a*.*", true},      {"ba", "a*.*", false},       {"A.TXT", "*.txt", true},
        {"a.txt", "*.TXT", true},  {"a.txt", "*.txt2", false},  {"a.txt", "?.txt", true},
        {"ab.txt", "?.txt", false}, {"ソ.txt", "?.txt", true},   {"表ソ", "??", true},
        {"表ソ", "???", false},     {"表", "*\\", false},        {"ソ", "?\\", false},
        {"aXbXc", "a*b*c", true},  {"abc", "a*b*c*d", false},   {"x", "", false},
        {"ａ", "Ａ", false},  // full-width letters keep their case
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(ToAnsi(c.name), ToAnsi(c.mask)), c.match) << c.name << " vs " << c.mask;
}

TEST(FileSystemFind, Cp932NamesRoundTripThroughTheHost) {
    TempDir dir;
    WriteFile(dir / "表ソ.txt", "1");
    WriteFile(dir / "café.txt", "2");
    EXPECT_EQ(FindAll(ToAnsi(dir.path()) + "/*.txt", faAnyFile),
              (std::set<AnsiString>{"表ソ.txt"_ansi, "café.txt"_ansi}));
    EXPECT_TRUE(FileExists(ToAnsi(dir.path()) + "/" + "表ソ.txt"_ansi));
    EXPECT_EQ(FindAll(ToAnsi(dir.path()) + "/" + "表*"_ansi, faAnyFile), (std::set<AnsiString>{"表ソ.txt"_ansi}));
}

TEST(FileSystemTimes, ConversionsHitKnownValues) {
    const FILETIME unixEpoch = 116'444'736'000'000'000ULL;
    EXPECT_EQ(FileTimeFromUnix(0), unixEpoch);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(unixEpoch), 25569.0);
    EXPECT_EQ(DateTimeToFileTime(25569.5), unixEpoch + 12 * 3600 * FileTimeTicksPerSecond);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(static_cast<FILETIME>(CalendarEpochInFileTimeDays) * FileTimeTicksPerDay), 0.0);

    int64_t s, ns;
    FileTimeToUnix(FileTimeFromUnix(1'234'567'890, 123'456'700), s, ns);
    EXPECT_EQ(s, 1'234'567'890);
    EXPECT_EQ(ns, 123'456'700);

    TDateTime dt = -1;
    ASSERT_TRUE(TryEncodeDateTime(2003, 1, 15, 23, 59, 59, 0, dt));
    EXPECT_NEAR(dt, 37636 + 86399.0 / 86400, 1e-9);
    int y, mo, d, h, mi, se, ms;
    DecodeDateTime(dt, y, mo, d, h, mi, se, ms);
    EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, se, ms}), std::vector<int>({2003, 1, 15, 23, 59, 59, 0}));
    EXPECT_TRUE(TryEncodeDateTime(2004, 2, 29, 0, 0, 0, 0, dt));
    EXPECT_FALSE(TryEncodeDateTime(2003, 2, 29, 0, 0, 0, 0, dt));
    EXPECT_FALSE(TryEncodeDateTime(2003, 13, 1, 0, 0, 0, 0, dt));
    EXPECT_FALSE(TryEncodeDateTime(2003, 1, 1, 24, 0, 0, 0, dt));
}

TEST(FileSystemTimes, LocalConversionUsesTheOffsetOfThatInstant) {
    TZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    const FILETIME hour = 3600 * FileTimeTicksPerSecond;
    const FILETIME winter = FileTimeFromUnix(1'042'588'800);  // 2003-01-15 00:00 UTC
    const FILETIME summer = FileTimeFromUnix(1'058'227'200);  // 2003-07-15 00:00 UTC
    EXPECT_EQ(FileTimeToLocalFileTime(winter), winter + hour);
    EXPECT_EQ(FileTimeToLocalFileTime(summer), summer + 2 * hour);
    EXPECT_EQ(LocalFileTimeToFileTime(winter + hour), winter);
    EXPECT_EQ(LocalFileTimeToFileTime(summer + 2 * hour), summer);
}

TEST(FileSystemTimes, SetAndGetOnARealFile) {
    TempDir dir;
    WriteFile(dir / "t", "");
    const AnsiString path = ToAnsi(dir / "t");
    const FILETIME access = FileTimeFromUnix(1'100'000'000, 1200);
    const FILETIME write = FileTimeFromUnix(1'200'000'000, 3400);
    ASSERT_TRUE(SetFileTimes(path, nullptr, &access, &write));
    FILETIME a = 0, w = 0;
    ASSERT_TRUE(GetFileTimes(path, nullptr, &a, &w));
    EXPECT_EQ(a, access);
    EXPECT_EQ(w, write);
    // A zero time leaves that time alone.
    const FILETIME zero = 0, later = write + FileTimeTicksPerSecond;
    ASSERT_TRUE(SetFileTimes(path, nullptr, &zero, &later));
    ASSERT_TRUE(GetFileTimes(path, nullptr, &a, &w));
    EXPECT_EQ(a, access);
    EXPECT_EQ(w, later);
    EXPECT_FALSE(SetFileTimes(ToAnsi(dir / "missing"), nullptr, &access, &write));
    EXPECT_EQ(GetFileSize(path), 0);
    EXPECT_EQ(GetFileSize(ToAnsi(dir.path())), -1);
}

TEST(FileSystemFolders, CreateForceRemoveAndCurrent) {
    TempDir dir;
    const AnsiString root = ToAnsi(dir.path());
    EXPECT_TRUE(CreateDir(root + "/one"));
    EXPECT_FALSE(CreateDir(root + "/one"));
    EXPECT_FALSE(CreateDir(root + "/no/parent"));
    EXPECT_TRUE(ForceDirectories(root + "/" + "深い/ソ/表/"_ansi));
    EXPECT_TRUE(DirectoryExists(root + "/" + "深い/ソ/表"_ansi));
    EXPECT_TRUE(ForceDirectories(root + "/one"));
    WriteFile(dir / "file", "");
    EXPECT_FALSE(ForceDirectories(root + "/file/below"));
    EXPECT_TRUE(RemoveDir(root + "/one"));
    EXPECT_FALSE(RemoveDir(root + "/" + "深い"_ansi));  // not empty

    const AnsiString before = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(root + "/" + "深い/ソ"_ansi));
    EXPECT_EQ(GetCurrentDir(), ExpandFileName(root) + "/" + "深い/ソ"_ansi);
    EXPECT_EQ(ExpandFileName("表/../x/./y"_ansi), ExpandFileName(root) + "/" + "深い/ソ/x/y"_ansi);
    EXPECT_FALSE(SetCurrentDir(root + "/missing"));
    ASSERT_TRUE(SetCurrentDir(before));
    EXPECT_EQ(ExpandFileName("/a/../../b/"), "/b");
}

TEST(FileSystemDelete, DeleteTreeNeverFollowsALinkOut) {
    TempDir dir;
    WriteFile(dir / "outside/keep.txt", "keep");
    WriteFile(dir / "tree/a/b/c.txt", "c");
    WriteFile(dir / "tree/.hidden", "h");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/a/out").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside/keep.txt").c_str(), (dir / "tree/f").c_str()), 0);
    chmod((dir / "tree/a/b/c.txt").c_str(), 0444);
    chmod((dir / "tree/a/b").c_str(), 0555);
    EXPECT_TRUE(DeleteTree(ToAnsi(dir / "tree")));
    EXPECT_FALSE(DirectoryExists(ToAnsi(dir / "tree")));
    EXPECT_EQ(ReadFile(dir / "outside/keep.txt"), "keep");

    // The tree itself a link: only the link goes.
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "alias").c_str()), 0);
    EXPECT_TRUE(DeleteTree(ToAnsi(dir / "alias") + "/"));
    EXPECT_EQ(ReadFile(dir / "outside/keep.txt"), "keep");
    EXPECT_FALSE(DeleteTree(ToAnsi(dir / "missing")));

    EXPECT_FALSE(DeleteFile(ToAnsi(dir / "outside")));  // a folder is never deleted as a file
    EXPECT_TRUE(DeleteFile(ToAnsi(dir / "outside/keep.txt")));
    EXPECT_FALSE(FileExists(ToAnsi(dir / "outside/keep.txt")));
}

TEST(FileSystemMove, RenameAndMoveNeverReplace) {
    TempDir dir;
    WriteFile(dir / "a", "A");
    WriteFile(dir / "b", "B");
    const AnsiString root = ToAnsi(dir.path());
    EXPECT_FALSE(RenameFile(root + "/a", root + "/b"));
    EXPECT_FALSE(MoveFile(root + "/a", root + "/b"));
    EXPECT_EQ(ReadFile(dir / "a"), "A");
    EXPECT_EQ(ReadFile(dir / "b"), "B");
    EXPECT_TRUE(RenameFile(root + "/a", root + "/" + "表"_ansi));
    EXPECT_EQ(ReadFile(dir / "表"), "A");
    EXPECT_TRUE(MoveFile(root + "/" + "表"_ansi, root + "/c"));
    EXPECT_EQ(ReadFile(dir / "c"), "A");

    EXPECT_FALSE(CopyFile(root + "/c", root + "/b", true));
    EXPECT_EQ(ReadFile(dir / "b"), "B");
    EXPECT_TRUE(CopyFile(root + "/c", root + "/b", false));
    EXPECT_EQ(ReadFile(dir / "b"), "A");
    EXPECT_FALSE(CopyFile(root + "/c", root + "/./c", false));  // never truncates its own source
    EXPECT_EQ(ReadFile(dir / "c"), "A");

    EXPECT_EQ(WriteNewFile(root + "/b", "new"), EEXIST);
    EXPECT_EQ(ReadFile(dir / "b"), "A");
    EXPECT_EQ(WriteNewFile(root + "/d", "new"), 0);
    EXPECT_EQ(ReadFile(dir / "d"), "new");
}

TEST(FileSystemMove, AcrossFileSystemsKeepsContentModeAndTimes) {
    TempDir here;
    const std::string folder = FolderOnAnotherFileSystem(here);
    if (folder.empty()) GTEST_SKIP() << "no second writable file system at /dev/shm";
    const AnsiString there = ToAnsi(folder);

    WriteFile(here / "f.txt", "file");
    chmod((here / "f.txt").c_str(), 0640);
    const FILETIME when = FileTimeFromUnix(1'000'000'000);
    ASSERT_TRUE(SetFileTimes(ToAnsi(here / "f.txt"), nullptr, &when, &when));
    WriteFile(here / "tree/sub/deep.txt", "deep");
    ASSERT_EQ(symlink("sub/deep.txt", (here / "tree/link").c_str()), 0);

    EXPECT_TRUE(MoveFile(ToAnsi(here / "f.txt"), there + "/f.txt"));
    EXPECT_FALSE(FileExists(ToAnsi(here / "f.txt")));
    EXPECT_EQ(ReadFile(folder + "/f.txt"), "file");
    struct stat st {};
    ASSERT_EQ(stat((folder + "/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    FILETIME w = 0;
    ASSERT_TRUE(GetFileTimes(there + "/f.txt", nullptr, nullptr, &w));
    EXPECT_EQ(w, when);

    EXPECT_TRUE(MoveFile(ToAnsi(here / "tree"), there + "/tree"));
    EXPECT_FALSE(DirectoryExists(ToAnsi(here / "tree")));
    EXPECT_EQ(ReadFile(folder + "/tree/sub/deep.txt"), "deep");
    EXPECT_EQ(FileGetAttr(there + "/tree/link"), faArchive | faSymLink);

    // A target that exists is never replaced, and the source stays.
    WriteFile(here / "g.txt", "g");
    EXPECT_FALSE(MoveFile(ToAnsi(here / "g.txt"), there + "/f.txt"));
    EXPECT_EQ(ReadFile(here / "g.txt"), "g");
    EXPECT_EQ(ReadFile(folder + "/f.txt"), "file");
    DeleteTree(there);
}

// A descriptor of this process open on a file under folder (the copy of a move, named or not).
bool WritingUnder(const std::string& folder) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return false;
    bool found = false;
    while (const dirent* e = readdir(fds)) {
        char target[4096];
        const ssize_t n = readlinkat(dirfd(fds), e->d_name, target, sizeof target - 1);
        if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)).starts_with(folder + "/")) found = true;
    }
    closedir(fds);
    return found;
}

// While a file is copied to another file system: nothing stands under the target's name yet, and a
// source replaced meanwhile is not removed (the file that was copied stays where it went, the copy is
// taken back).
TEST(FileSystemMove, AcrossFileSystemsNamesOnlyWholeCopiesAndRemovesOnlyTheCopiedSource) {
    TempDir here;
    const std::string there = FolderOnAnotherFileSystem(here);
    if (there.empty()) GTEST_SKIP() << "no second writable file system at /dev/shm";
    std::string content(32 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); i += 4096) content[i] = static_cast<char>(i >> 12);
    bool caught = false, moved = true, partVisible = false, leftOver = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        WriteFile(here / "a.zip", content);
        std::thread mover([&] {
            setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);  // the watcher goes first
            moved = MoveFile(ToAnsi(here / "a.zip"), ToAnsi(there + "/a.zip"));
        });
        for (int i = 0; i < 200000 && !caught; ++i) caught = WritingUnder(there);
        if (caught) {
            struct stat named {};
            partVisible = stat((there + "/a.zip").c_str(), &named) == 0 && named.st_size < static_cast<off_t>(content.size());
            // Seen only as the move ended, the source may be gone already: then once more.
            caught = rename((here / "a.zip").c_str(), (here / "read.zip").c_str()) == 0;
            if (caught) WriteFile(here / "a.zip", "new");
        }
        mover.join();
        leftOver = !std::filesystem::is_empty(there);
        for (const auto& e : std::filesystem::directory_iterator(there)) std::filesystem::remove_all(e.path());
    }
    std::filesystem::remove_all(there);
    if (!caught) GTEST_SKIP() << "the copy ended before it could be seen";
    EXPECT_FALSE(partVisible) << "a part of the copy stood under the target's name";
    EXPECT_FALSE(moved);
    EXPECT_EQ(ReadFile(here / "a.zip"), "new") << "the file that took the source's name was removed";
    EXPECT_TRUE(ReadFile(here / "read.zip") == content);
    EXPECT_FALSE(leftOver) << "the copy was left in the target folder";
}

TEST(FileSystemStreams, LinuxVolumesHaveNone) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    EXPECT_FALSE(VolumeSupportsNamedStreams(ToAnsi(dir / "f")));
    EXPECT_TRUE(ReadNamedStreams(ToAnsi(dir / "f")).empty());
}
