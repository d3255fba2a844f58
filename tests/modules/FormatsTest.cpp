// CAB32, TAR32 and UNRAR32 loaded as the host loads them: cabinets from gcab, tar files from bsdtar,
// RAR 4 sets from our stored-RAR writer; trees compared byte for byte, names included.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/stat.h>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RarWriter.h"
#include "tests/support/RunTool.h"
#include "tests/support/TarEntries.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
using namespace norvex::literals;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

void WriteVolumes(const std::vector<std::string>& volumes, const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < volumes.size(); ++i) WriteFile(names[i], volumes[i]);
}

std::vector<RarEntry> RarTree() {
    std::vector<RarEntry> e;
    e.push_back({"ソ表.txt"_ansi, "so-hyo\n"});
    e.push_back({"フォルダ"_ansi, "", RarEntry::Directory, 0755});
    e.push_back({"フォルダ\\表示.txt"_ansi, "hyoji\n"});
    e.push_back({"plain\\big.bin", RandomBytes(200000, 3), RarEntry::File, 0600});
    return e;
}

std::map<std::string, std::string> ExpectedRarTree(const std::vector<RarEntry>& entries) {
    std::map<std::string, std::string> m;
    for (const RarEntry& e : entries) {
        std::string name = FromAnsi(e.name);
        for (auto& c : name) if (c == '\\') c = '/';
        m[name] = e.kind == RarEntry::Directory ? "d" : "f:" + e.data;
    }
    m["plain"] = "d";
    return m;
}

}  // namespace

TEST(CabModule, GcabCabinetsExtractAndList) {
    LoadedModule cab("CAB32.DLL", "Cab");
    if (!cab.ok()) GTEST_SKIP() << "cab32.so is not built";
    if (!HaveTool("gcab")) GTEST_SKIP();
    TempDir dir;
    WriteFile(dir / "src/sub/a.txt", "alpha\n");
    WriteFile(dir / "src/b.bin", RandomBytes(150000, 2));
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        std::vector<std::string> argv{"gcab", "-c"};
        if (compress) argv.push_back("-z");
        argv.insert(argv.end(), {dir / "a.cab", "sub/a.txt", "b.bin"});
        ASSERT_EQ(RunTool(argv, dir / "src").exitCode, 0);
        std::filesystem::remove_all(dir / "out");
        TestWindow window;
        ASSERT_EQ(cab.run(&window, "-x -i " + Q(dir / "a.cab") + " " + Q(dir / "out/")), 0);
        EXPECT_EQ(SnapshotTree(dir / "out"), SnapshotTree(dir / "src"));
        EXPECT_TRUE(cab.checkArchive(ToAnsi(dir / "a.cab").c_str(), 3));
    }
    HARC h = cab.openArchive(nullptr, ToAnsi(dir / "a.cab").c_str(), 0);
    ASSERT_NE(h, nullptr);
    ArcEntryRecord rec;
    ASSERT_EQ(cab.findFirst(h, "", &rec), 0);
    EXPECT_STREQ(rec.fileName, "sub/a.txt");  // libarchive turns the cabinet's "\\" into "/"
    EXPECT_EQ(rec.originalSize, 6u);
    cab.closeArchive(h);
    // -j drops the folders.
    TestWindow window;
    ASSERT_EQ(cab.run(&window, "-x -j -i -o " + Q(dir / "a.cab") + " " + Q(dir / "flat/")), 0);
    EXPECT_EQ(ReadFile(dir / "flat/a.txt"), "alpha\n");
}

// A sparse tar entry lands with its holes; one whose map places more data than the entry stores,
// or regions out of order or overlapping, is a failure that leaves no file: the regions it lacks
// used to land as zeros and the archive passed.
TEST(TarModule, SparseEntriesWhoseMapsLieAreFailures) {
    LoadedModule tar("TAR32.DLL", "Tar");
    if (!tar.ok()) GTEST_SKIP() << "tar32.so is not built";
    TempDir dir;
    const std::string a(1000, 'A'), b(1000, 'B');
    const std::string tail = TarHeader("z.txt", '0', 1) + TarData("z") + std::string(1024, '\0');
    auto sparse = [&](const std::vector<std::pair<uint64_t, uint64_t>>& map, uint64_t realSize) {
        return TarHeader("s.bin", 'S', a.size() + b.size(), map, realSize) + TarData(a + b) + tail;
    };
    TestWindow window;
    std::string log;
    WriteFile(dir / "sound.tar", sparse({{0, 1000}, {5000, 1000}}, 6000));
    ASSERT_EQ(tar.run(&window, "-x " + Q(dir / "sound.tar") + " " + Q(dir / "sound/"), &log), 0) << log;
    EXPECT_EQ(ReadFile(dir / "sound/s.bin"), a + std::string(4000, '\0') + b);
    EXPECT_EQ(ReadFile(dir / "sound/z.txt"), "z");

    const struct {
        const char* what;
        std::vector<std::pair<uint64_t, uint64_t>> map;
        uint64_t realSize;
    } lies[] = {
        {"more mapped than stored", {{0, 1000}, {5000, 3000}}, 8000},
        {"a region past the file's end", {{0, 1000}, {50000, 1000}}, 6000},
        {"regions that overlap", {{0, 1000}, {500, 1000}}, 6000},
        {"regions out of order", {{5000, 1000}, {0, 1000}}, 6000},
    };
    int n = 0;
    for (const auto& lie : lies) {
        const std::string out = dir / ("lie" + std::to_string(n++));
        WriteFile(out + ".tar", sparse(lie.map, lie.realSize));
        EXPECT_GE(tar.run(&window, "-x " + Q(out + ".tar") + " " + Q(out + "/"), &log), ARC_ERROR_FIRST) << lie.what << "\n" << log;
        EXPECT_FALSE(std::filesystem::exists(out + "/s.bin")) << lie.what;
    }
}

TEST(TarModule, TarGzAndBz2FromBsdtarWithCp932AndUtf8Names) {
    LoadedModule tar("TAR32.DLL", "Tar");
    if (!tar.ok()) GTEST_SKIP() << "tar32.so is not built";
    if (!HaveTool("bsdtar")) GTEST_SKIP();
    TempDir dir;
    WriteFile(dir / "expected/ソ表.txt", "so-hyo\n");
    WriteFile(dir / "expected/フォルダ/表示.txt", "hyoji\n");
    WriteFile(dir / "expected/plain/x.bin", RandomBytes(100000, 4));
    WriteFile(dir / ("sjis/" + Sjis("ソ表.txt")), "so-hyo\n");
    WriteFile(dir / ("sjis/" + Sjis("フォルダ") + "/" + Sjis("表示.txt")), "hyoji\n");
    WriteFile(dir / "sjis/plain/x.bin", ReadFile(dir / "expected/plain/x.bin"));
    struct Case {
        std::string archive, flags, srcDir, locale;
        int32_t type;
    } cases[] = {
        {"u.tar", "-cf", "expected", "LC_ALL=C.UTF-8", 1},
        {"u.tar.gz", "-czf", "expected", "LC_ALL=C.UTF-8", 2},
        {"u.tar.bz2", "-cjf", "expected", "LC_ALL=C.UTF-8", 6},
        {"s.tgz", "-czf", "sjis", "LC_ALL=C", 2},  // ustar headers carry the cp932 bytes as they are
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        std::vector<std::string> argv{"env", c.locale, "bsdtar", c.flags, dir / c.archive};
        if (c.srcDir == "sjis") argv.insert(argv.begin() + 3, {"--format", "ustar"});
        argv.push_back(".");
        ASSERT_EQ(RunTool(argv, dir / c.srcDir).exitCode, 0);
        std::filesystem::remove_all(dir / "out");
        TestWindow window;
        std::string log;
        ASSERT_EQ(tar.run(&window, "-x " + Q(dir / c.archive) + " " + Q(dir / "out/"), &log), 0) << log;
        EXPECT_EQ(SnapshotTree(dir / "out"), SnapshotTree(dir / "expected"));
        EXPECT_EQ(tar.getArchiveType(ToAnsi(dir / c.archive).c_str()), c.type);
    }
    // Plain compressed files and other formats.
    WriteFile(dir / "one.txt", "just one file\n");
    if (HaveTool("gzip")) {
        ASSERT_EQ(RunTool({"gzip", "-k", dir / "one.txt"}).exitCode, 0);
        EXPECT_EQ(tar.getArchiveType(ToAnsi(dir / "one.txt.gz").c_str()), 4);
    }
    if (HaveTool("bzip2")) {
        ASSERT_EQ(RunTool({"bzip2", "-k", dir / "one.txt"}).exitCode, 0);
        EXPECT_EQ(tar.getArchiveType(ToAnsi(dir / "one.txt.bz2").c_str()), 7);
    }
    EXPECT_EQ(tar.getArchiveType(ToAnsi(dir / "one.txt").c_str()), 0);
    EXPECT_EQ(tar.getArchiveType(ToAnsi(dir / "none").c_str()), 0);
}

TEST(RarModule, StoredRar4WithCp932NamesAndBackslashes) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP() << "unrar32.so is not built";
    TempDir dir;
    auto entries = RarTree();
    WriteFile(dir / "a.rar", BuildRar4(entries)[0]);
    TestWindow window;
    std::string log;
    ASSERT_EQ(rar.run(&window, "-x " + Q(dir / "a.rar") + " " + Q(dir / "out/"), &log), 0) << log;
    EXPECT_EQ(SnapshotTree(dir / "out"), ExpectedRarTree(entries));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out/plain/big.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // permission bits restored

    HARC h = rar.openArchive(nullptr, ToAnsi(dir / "a.rar").c_str(), 0);
    ASSERT_NE(h, nullptr);
    ArcEntryRecord rec;
    std::vector<std::string> names;
    for (int32_t r = rar.findFirst(h, "*", &rec); r == 0; r = rar.findNext(h, &rec)) names.push_back(rec.fileName);
    EXPECT_EQ(names, (std::vector<std::string>{"ソ表.txt"_ansi, "フォルダ"_ansi, "フォルダ\\表示.txt"_ansi, "plain\\big.bin"}));
    ASSERT_EQ(rar.findFirst(h, "表示.txt"_ansi.c_str(), &rec), 0);
    EXPECT_EQ(rec.dosDate, (40 << 9) | (5 << 5) | 6);
    EXPECT_EQ(rec.dosTime, (7 << 11) | (8 << 5) | 5);
    rar.closeArchive(h);

    // -e drops the folders.
    ASSERT_EQ(rar.run(&window, "-e " + Q(dir / "a.rar") + " " + Q(dir / "flat/")), 0);
    EXPECT_EQ(ReadFile(dir / "flat/表示.txt"), "hyoji\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "flat/plain"));
}

TEST(RarModule, SplitSetsInBothNamingStyles) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP() << "unrar32.so is not built";
    TempDir dir;
    auto entries = RarTree();
    auto newStyle = BuildRar4(entries, 70000, true);
    ASSERT_GE(newStyle.size(), 3u);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < newStyle.size(); ++i) names.push_back(dir / ("x.part" + std::string(i + 1 < 10 ? "0" : "") + std::to_string(i + 1) + ".rar"));
    WriteVolumes(newStyle, names);
    auto oldStyle = BuildRar4(entries, 70000, false);
    std::vector<std::string> oldNames{dir / "y.rar"};
    for (std::size_t i = 1; i < oldStyle.size(); ++i) oldNames.push_back(dir / ("y.r0" + std::to_string(i - 1)));
    WriteVolumes(oldStyle, oldNames);

    for (const std::string& first : {dir / "x.part01.rar", dir / "y.rar"}) {
        SCOPED_TRACE(first);
        std::filesystem::remove_all(dir / "out");
        TestWindow window;
        std::string log;
        ASSERT_EQ(rar.run(&window, "-x " + Q(first) + " " + Q(dir / "out/"), &log), 0) << log;
        EXPECT_EQ(SnapshotTree(dir / "out"), ExpectedRarTree(entries));
        EXPECT_TRUE(rar.checkArchive(ToAnsi(first).c_str(), 3));
    }
    // A set with its last volume missing is not extracted as complete.
    std::filesystem::remove(names.back());
    std::filesystem::remove_all(dir / "out");
    TestWindow window;
    EXPECT_GE(rar.run(&window, "-x " + Q(dir / "x.part01.rar") + " " + Q(dir / "out/")), ARC_ERROR_FIRST);
}
