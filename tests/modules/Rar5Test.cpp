// RAR 5 archives from our stored writer: UTF-8 names become cp932, trees land byte for byte, and a
// set of volumes with whole entries is read to its last volume.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/stat.h>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
using namespace norvex::literals;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

std::string Bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// UTF-8 names, "/" separated, with characters whose cp932 trail byte is 0x5C.
std::vector<std::vector<RarEntry>> Tree5() {
    return {
        {{"ソ表.txt", "so-hyo\n"}, {"フォルダ", "", RarEntry::Directory, 0755}},
        {{"フォルダ/表示.bin", Bytes(120000, 7), RarEntry::File, 0600}, {"plain/a.txt", "a\n"}},
        {{"最後.txt", "last volume\n"}},
    };
}

std::map<std::string, std::string> Expected(const std::vector<std::vector<RarEntry>>& perVolume) {
    std::map<std::string, std::string> m;
    for (const auto& volume : perVolume)
        for (const RarEntry& e : volume) {
            m.insert_or_assign(e.name, e.kind == RarEntry::Directory ? std::string("d") : "f:" + e.data);
            if (auto slash = e.name.rfind('/'); slash != std::string::npos) m.emplace(e.name.substr(0, slash), "d");
        }
    return m;
}

}  // namespace

TEST(Rar5Module, StoredArchiveWithUtf8Names) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP() << "unrar32.so is not built";
    TempDir dir;
    std::vector<RarEntry> all;
    for (const auto& v : Tree5()) all.insert(all.end(), v.begin(), v.end());
    WriteFile(dir / "a.rar", BuildRar5({all})[0]);

    TestWindow window;
    std::string log;
    ASSERT_EQ(rar.run(&window, "-x " + Q(dir / "a.rar") + " " + Q(dir / "out/"), &log), 0) << log;
    EXPECT_EQ(SnapshotTree(dir / "out"), Expected({all}));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out/フォルダ/表示.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_mtime, 1588748890);  // 2020-05-06 07:08:10 UTC

    // The record carries the cp932 name; a mask finds an entry by its file name.
    int32_t end = 0;
    EXPECT_EQ(ListAll(rar, dir / "a.rar", &end),
              (std::vector<std::string>{"ソ表.txt", "フォルダ", "フォルダ/表示.bin", "plain/a.txt", "最後.txt"}));
    EXPECT_EQ(end, ARC_FIND_END);
    HARC h = rar.openArchive(nullptr, ToAnsi(dir / "a.rar").c_str(), 0);
    ASSERT_NE(h, nullptr);
    ArcEntryRecord rec;
    ASSERT_EQ(rar.findFirst(h, "表示.bin"_ansi.c_str(), &rec), 0);
    EXPECT_EQ(rec.originalSize, 120000u);
    EXPECT_EQ(std::string(rec.fileName), "フォルダ/表示.bin"_ansi);
    rar.closeArchive(h);
    EXPECT_TRUE(rar.checkArchive(ToAnsi(dir / "a.rar").c_str(), 3));

    // A flipped data byte is a CRC failure, and the damaged file is not left behind.
    std::string damaged = BuildRar5({all})[0];
    std::size_t at = damaged.find("so-hyo");
    ASSERT_NE(at, std::string::npos);
    damaged[at] = 'S';
    WriteFile(dir / "bad.rar", damaged);
    EXPECT_EQ(rar.run(&window, "-x " + Q(dir / "bad.rar") + " " + Q(dir / "bad/")), ARC_FILE_CRC);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad/ソ表.txt"));
    EXPECT_FALSE(rar.checkArchive(ToAnsi(dir / "bad.rar").c_str(), 3));
}

TEST(Rar5Module, WholeEntryVolumesAreAllRead) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP() << "unrar32.so is not built";
    TempDir dir;
    auto perVolume = Tree5();
    auto volumes = BuildRar5(perVolume);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        names.push_back(dir / ("x.part" + std::to_string(i + 1) + ".rar"));
        WriteFile(names.back(), volumes[i]);
    }
    TestWindow window;
    std::string log;
    ASSERT_EQ(rar.run(&window, "-x " + Q(names[0]) + " " + Q(dir / "out/"), &log), 0) << log;
    EXPECT_EQ(SnapshotTree(dir / "out"), Expected(perVolume));
    EXPECT_EQ(ListAll(rar, names[0]).size(), 5u);
    EXPECT_TRUE(rar.checkArchive(ToAnsi(names[0]).c_str(), 3));

    // Without its last volume the set is a failure, though what could be read has landed.
    std::filesystem::remove(names.back());
    std::filesystem::remove_all(dir / "out");
    EXPECT_GE(rar.run(&window, "-x " + Q(names[0]) + " " + Q(dir / "out/"), &log), ARC_ERROR_FIRST);
    EXPECT_EQ(ReadFile(dir / "out/ソ表.txt"), "so-hyo\n");
    EXPECT_FALSE(rar.checkArchive(ToAnsi(names[0]).c_str(), 3));
}

// A file copy repeats the data of an earlier entry. It landed as an empty file and the archive passed;
// it now lands with that entry's data, and one that copies a name outside the destination, a name
// the archive never made, a folder or an entry that failed is a failure that writes nothing there.
TEST(Rar5Module, FileCopiesLandWithTheDataTheyCopy) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP() << "unrar32.so is not built";
    TempDir dir;
    TestWindow window;
    std::string log;
    const std::vector<RarEntry> sound = {{"d/a.txt", "copied data\n"}, {"copy.txt", "d/a.txt", RarEntry::Copy}};
    WriteFile(dir / "sound.rar", BuildRar5({sound})[0]);
    ASSERT_EQ(rar.run(&window, "-x " + Q(dir / "sound.rar") + " " + Q(dir / "sound/"), &log), 0) << log;
    EXPECT_EQ(ReadFile(dir / "sound/copy.txt"), "copied data\n");
    EXPECT_EQ(ReadFile(dir / "sound/d/a.txt"), "copied data\n");
    EXPECT_EQ(ListAll(rar, dir / "sound.rar"), (std::vector<std::string>{"d/a.txt", "copy.txt"}));

    WriteFile(dir / "secret.txt", "outside");
    RarEntry damaged = {"bad.txt", "damaged"};
    std::string badArchive = BuildRar5({{damaged, {"copy.txt", "bad.txt", RarEntry::Copy}}})[0];
    badArchive[badArchive.find("damaged")] = 'D';
    const struct {
        const char* what;
        std::string archive;
    } hostile[] = {
        {"outside", BuildRar5({{{"a.txt", "a"}, {"copy.txt", "../secret.txt", RarEntry::Copy}}})[0]},
        {"absolute", BuildRar5({{{"a.txt", "a"}, {"copy.txt", (dir / "secret.txt"), RarEntry::Copy}}})[0]},
        {"never made", BuildRar5({{{"a.txt", "a"}, {"copy.txt", "none.txt", RarEntry::Copy}}})[0]},
        {"a folder", BuildRar5({{{"d", "", RarEntry::Directory, 0755}, {"d/a.txt", "a"}, {"copy.txt", "d", RarEntry::Copy}}})[0]},
        {"a failed entry", badArchive},
    };
    int n = 0;
    for (const auto& c : hostile) {
        const std::string out = dir / ("hostile" + std::to_string(n++));
        WriteFile(out + ".rar", c.archive);
        EXPECT_GE(rar.run(&window, "-x " + Q(out + ".rar") + " " + Q(out + "/"), &log), ARC_ERROR_FIRST) << c.what << "\n" << log;
        EXPECT_FALSE(std::filesystem::exists(out + "/copy.txt")) << c.what;
    }
    EXPECT_EQ(ReadFile(dir / "secret.txt"), "outside");
}
