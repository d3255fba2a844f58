// 7-ZIP32.DLL loaded as the host loads it, on archives made by 7z: every method and filter, solid
// and not, split sets, encrypted archives; trees compared byte for byte, names included.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
using namespace norvex::literals;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

// Compressible and incompressible data, and code-like data for the branch filters.
std::string MixedBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 5 == 0 ? 0xE8 : rng() % 3 == 0 ? rng() : 'a' + i % 7);
    return s;
}

// "ソ" and "表" end in the byte 0x5C in cp932; 7z keeps names in UTF-16.
void MakeTree(const std::string& root) {
    WriteFile(root + "/ソ表.txt", "so-hyo\n");
    WriteFile(root + "/フォルダ/表示.txt", "hyoji\n");
    WriteFile(root + "/plain/a.bin", MixedBytes(300000, 1));
    WriteFile(root + "/plain/b.txt", std::string(40000, 'b'));
    WriteFile(root + "/plain/empty.txt", "");
    std::filesystem::create_directories(root + "/empty folder");
    std::filesystem::create_symlink("plain/b.txt", root + "/link");
}

struct SevenZipFixture : ::testing::Test {
    void SetUp() override {
        if (!module.ok()) GTEST_SKIP() << "7-zip32.so is not built";
        if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
        MakeTree(dir / "src");
    }
    // 7z a ARCHIVE . with the given switches, from the tree.
    void Pack(const std::string& archive, std::vector<std::string> switches) {
        std::vector<std::string> argv{"env", "LC_ALL=C.UTF-8", "7z", "a", "-bd", "-snl"};
        argv.insert(argv.end(), switches.begin(), switches.end());
        argv.insert(argv.end(), {dir / archive, "."});
        ToolResult r = RunTool(argv, dir / "src");
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    // The command line the host's 7z driver builds for an extraction.
    int32_t Extract(const std::string& archive, const std::string& out, TestWindow* w, std::string* log = nullptr,
                    const std::string& overwrite = "-aoa") {
        return module.run(w, "x " + overwrite + " -ms=off " + Q("-o" + out + "/") + " " + Q(archive), log);
    }
    LoadedModule module{"7-ZIP32.DLL", "SevenZip"};
    TempDir dir;
    TestWindow window;
};

}  // namespace

TEST_F(SevenZipFixture, EveryMethodAndFilterSolidOrNot) {
    const std::vector<std::vector<std::string>> kinds = {
        {"-m0=Copy"},           {"-m0=LZMA"},          {"-m0=LZMA2", "-ms=on"}, {"-m0=LZMA2", "-ms=off"},
        {"-m0=PPMd"},           {"-m0=BZip2"},         {"-m0=Deflate"},         {"-mf=BCJ", "-m0=LZMA"},
        {"-mf=BCJ2"},           {"-mf=ARM", "-m0=LZMA2"}, {"-mf=Delta:4", "-m0=LZMA2"},
        {"-m0=LZMA2", "-ms=on", "-mhc=off"},
    };
    const auto expected = SnapshotTree(dir / "src");
    int n = 0;
    for (const auto& switches : kinds) {
        std::string name = "m" + std::to_string(n++) + ".7z", trace;
        for (const auto& s : switches) trace += s + " ";
        SCOPED_TRACE(trace);
        Pack(name, switches);
        std::filesystem::remove_all(dir / "out");
        std::string log;
        ASSERT_EQ(Extract(dir / name, dir / "out", &window, &log), 0) << log;
        EXPECT_EQ(SnapshotTree(dir / "out"), expected);
        EXPECT_TRUE(module.checkArchive(ToAnsi(dir / name).c_str(), 3));
    }
}

TEST_F(SevenZipFixture, ListingNamesSizesAndChecks) {
    Pack("a.7z", {"-m0=LZMA2"});
    auto names = ListAll(module, dir / "a.7z");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"empty folder/", "link", "plain/", "plain/a.bin", "plain/b.txt",
                                               "plain/empty.txt", "ソ表.txt", "フォルダ/", "フォルダ/表示.txt"}));
    HARC h = module.openArchive(nullptr, ToAnsi(dir / "a.7z").c_str(), 0);
    ASSERT_NE(h, nullptr);
    ArcEntryRecord rec;
    ASSERT_EQ(module.findFirst(h, "a.bin", &rec), 0);
    EXPECT_EQ(rec.originalSize, 300000u);
    module.closeArchive(h);

    WriteFile(dir / "text.7z", "7z but not really an archive\n");
    EXPECT_FALSE(module.checkArchive(ToAnsi(dir / "text.7z").c_str(), 0));
    EXPECT_EQ(Extract(dir / "text.7z", dir / "t", &window), ARC_ERROR_NOT_ARC_FILE);
    // A broken block: the data check fails, the entry is not left half-written.
    Pack("c.7z", {"-m0=Copy"});
    std::string bytes = ReadFile(dir / "c.7z");
    bytes[bytes.find(std::string(1000, 'b')) + 10] = 'X';
    WriteFile(dir / "c.7z", bytes);
    EXPECT_FALSE(module.checkArchive(ToAnsi(dir / "c.7z").c_str(), 3));
    EXPECT_GE(Extract(dir / "c.7z", dir / "bad", &window), ARC_ERROR_FIRST);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad/plain/b.txt"));
}

TEST_F(SevenZipFixture, SplitSetReadFromItsFirstPart) {
    Pack("s.7z", {"-m0=Copy", "-v60k"});
    ASSERT_TRUE(std::filesystem::exists(dir / "s.7z.006"));
    std::string log;
    ASSERT_EQ(Extract(dir / "s.7z.001", dir / "out", &window, &log), 0) << log;
    EXPECT_EQ(SnapshotTree(dir / "out"), SnapshotTree(dir / "src"));
    EXPECT_TRUE(module.checkArchive(ToAnsi(dir / "s.7z.001").c_str(), 3));
    // A later part alone, and a set with a part missing, are not extracted as complete.
    EXPECT_GE(Extract(dir / "s.7z.002", dir / "o2", &window), ARC_ERROR_FIRST);
    std::filesystem::remove(dir / "s.7z.004");
    EXPECT_GE(Extract(dir / "s.7z.001", dir / "o3", &window), ARC_ERROR_FIRST);
}

TEST_F(SevenZipFixture, EncryptedArchivesFailAndWriteNothing) {
    // libarchive reads no 7z encryption: with or without a password the archive fails as a
    // password failure, and nothing of the encrypted data is written.
    Pack("e.7z", {"-psecret"});
    Pack("h.7z", {"-psecret", "-mhe=on"});
    for (const char* name : {"e.7z", "h.7z"}) {
        SCOPED_TRACE(name);
        std::string out = dir / (std::string("out-") + name);
        EXPECT_EQ(Extract(dir / name, out, nullptr), ARC_PASSWORD_FILE);
        TestWindow asked;
        asked.passwords = {"secret"};
        EXPECT_EQ(Extract(dir / name, out, &asked), ARC_PASSWORD_FILE);
        EXPECT_FALSE(std::filesystem::exists(out + "/plain/a.bin"));
        EXPECT_FALSE(module.checkArchive(ToAnsi(dir / name).c_str(), 3));
    }
}

TEST_F(SevenZipFixture, OverwriteSwitchesFlatExtractionAndMasks) {
    Pack("a.7z", {});
    WriteFile(dir / "out/ソ表.txt", "old");
    ASSERT_EQ(Extract(dir / "a.7z", dir / "out", &window, nullptr, "-aos"), 0);
    EXPECT_EQ(ReadFile(dir / "out/ソ表.txt"), "old");
    ASSERT_EQ(Extract(dir / "a.7z", dir / "out", &window, nullptr, "-aoa"), 0);
    EXPECT_EQ(ReadFile(dir / "out/ソ表.txt"), "so-hyo\n");

    ASSERT_EQ(module.run(&window, "e -ms=off " + Q("-o" + dir / "flat/") + " " + Q(dir / "a.7z") + " \"*.txt\""), 0);
    auto flat = SnapshotTree(dir / "flat");
    EXPECT_EQ(flat.count("表示.txt"), 1u);
    EXPECT_EQ(flat.count("b.txt"), 1u);
    EXPECT_EQ(flat.count("a.bin"), 0u);
    EXPECT_EQ(flat.count("plain"), 0u);
}

TEST_F(SevenZipFixture, NamesThatLeaveTheDestinationAreRefused) {
    // 7z keeps "../" in a name given on its command line with -spf.
    WriteFile(dir / "inner/x.txt", "inside\n");
    WriteFile(dir / "evil.txt", "outside\n");
    ToolResult r = RunTool({"7z", "a", "-bd", "-spf", dir / "evil.7z", "../evil.txt", "x.txt"}, dir / "inner");
    if (r.exitCode != 0) GTEST_SKIP() << r.output;
    std::filesystem::create_directories(dir / "deep/out");
    EXPECT_GE(Extract(dir / "evil.7z", dir / "deep/out", &window), ARC_ERROR_FIRST);
    EXPECT_FALSE(std::filesystem::exists(dir / "deep/evil.txt"));
    EXPECT_EQ(ReadFile(dir / "deep/out/x.txt"), "inside\n");
}
