// UNZIP32.DLL loaded as the host loads it, on archives made by Info-ZIP zip, 7z and bsdtar: trees
// compared byte for byte, names included, in each charset rule; listing; passwords; checks.
#include <gtest/gtest.h>

#include <cstring>
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

// The same tree under names spelled by encode (UTF-8 as is, or cp932 bytes); "ソ" and "表" end in 0x5C.
void MakeTree(const std::string& root, std::string (*encode)(const std::string&)) {
    WriteFile(root + "/" + encode("ソ表.txt"), "so-hyo\n");
    WriteFile(root + "/" + encode("フォルダ") + "/" + encode("表示.txt"), "hyoji\n");
    WriteFile(root + "/plain/a.bin", RandomBytes(300000, 1));
    WriteFile(root + "/plain/empty.txt", "");
}
std::string Same(const std::string& s) { return s; }

struct ZipFixture : ::testing::Test {
    void SetUp() override {
        if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
        MakeTree(dir / "expected", Same);
    }
    void ExpectExtractsToExpected(const std::string& archive) {
        std::string out;
        ASSERT_EQ(module.run(&window, "-x --i -q --i  " + Q(archive) + " " + Q(dir / "out") + "/", &out), 0) << out;
        EXPECT_EQ(SnapshotTree(dir / "out"), SnapshotTree(dir / "expected"));
    }
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    TempDir dir;
    TestWindow window;
};

}  // namespace

TEST_F(ZipFixture, Cp932NamesWithoutAnyCharsetMark) {
    if (!HaveTool("zip")) GTEST_SKIP();
    MakeTree(dir / "src", Sjis);
    ASSERT_EQ(RunTool({"env", "LC_ALL=C", "zip", "-r", "-q", dir / "a.zip", "."}, dir / "src").exitCode, 0);
    ExpectExtractsToExpected(dir / "a.zip");
}

TEST_F(ZipFixture, Utf8NamesByFlagByUnicodeFieldAndByTheWholeArchive) {
    MakeTree(dir / "src", Same);
    std::vector<std::pair<std::string, std::vector<std::string>>> makers;
    if (HaveTool("zip")) makers.push_back({"infozip.zip", {"env", "LC_ALL=C.UTF-8", "zip", "-r", "-q", dir / "infozip.zip", "."}});
    if (HaveTool("7z")) makers.push_back({"7z.zip", {"env", "LC_ALL=C.UTF-8", "7z", "a", "-tzip", "-bd", dir / "7z.zip", "."}});
    if (HaveTool("bsdtar")) makers.push_back({"bsdtar.zip", {"env", "LC_ALL=C.UTF-8", "bsdtar", "--format", "zip", "-cf", dir / "bsdtar.zip", "."}});
    for (auto& [name, argv] : makers) {
        SCOPED_TRACE(name);
        ASSERT_EQ(RunTool(argv, dir / "src").exitCode, 0);
        std::filesystem::remove_all(dir / "out");
        ExpectExtractsToExpected(dir / name);
    }
    if (HaveTool("bsdtar")) {
        // Flags cleared: nothing marks the names, but every one is UTF-8, so the archive is read as UTF-8.
        ClearZipUtf8Flags(dir / "bsdtar.zip");
        std::filesystem::remove_all(dir / "out");
        ExpectExtractsToExpected(dir / "bsdtar.zip");
    }
}

TEST_F(ZipFixture, ListingFillsTheRecordsAndSizes) {
    if (!HaveTool("zip")) GTEST_SKIP();
    MakeTree(dir / "src", Sjis);
    ASSERT_EQ(RunTool({"env", "LC_ALL=C", "zip", "-r", "-q", dir / "a.zip", "."}, dir / "src").exitCode, 0);
    HARC h = module.openArchive(nullptr, ToAnsi(dir / "a.zip").c_str(), 0);
    ASSERT_NE(h, nullptr);
    std::map<std::string, uint32_t> sizes;
    ArcEntryRecord rec;
    int64_t total = 0;
    for (int32_t r = module.findFirst(h, "*.*", &rec); r == 0; r = module.findNext(h, &rec)) {
        sizes[rec.fileName] = rec.originalSize;
        total += rec.originalSize;
        EXPECT_NE(rec.dosDate, 0);
        int64_t size64 = -1;
        EXPECT_TRUE(module.getOriginalSizeEx(h, &size64));
        EXPECT_EQ(size64, rec.originalSize);
        uint64_t ft = 0;
        EXPECT_TRUE(module.getWriteTimeEx(h, &ft));
        EXPECT_GT(ft, 116444736000000000ull);
    }
    EXPECT_EQ(sizes["ソ表.txt"_ansi], 7u);
    EXPECT_EQ(sizes["フォルダ/表示.txt"_ansi], 6u);
    EXPECT_EQ(sizes["plain/a.bin"], 300000u);
    EXPECT_EQ(module.getArcOriginalSize(h), total);

    ASSERT_EQ(module.findFirst(h, "*.bin", &rec), 0);
    EXPECT_STREQ(rec.fileName, "plain/a.bin");
    EXPECT_STREQ(rec.method, "Deflate");
    EXPECT_EQ(module.findNext(h, &rec), ARC_FIND_END);
    EXPECT_EQ(module.closeArchive(h), 0);
    EXPECT_EQ(module.closeArchive(h), ARC_ERROR_HARC_ISNOT_OPENED);
}

TEST_F(ZipFixture, PasswordsAskedThroughTheWindow) {
    if (!HaveTool("zip")) GTEST_SKIP();
    WriteFile(dir / "src/secret.txt", std::string(5000, 's'));
    ASSERT_EQ(RunTool({"zip", "-q", "-P", "right", dir / "enc.zip", "secret.txt"}, dir / "src").exitCode, 0);
    std::string cmd = "-x " + Q(dir / "enc.zip") + " " + Q(dir / "out/");

    EXPECT_EQ(module.run(nullptr, cmd), ARC_PASSWORD_FILE);  // nobody to ask
    window.passwords = {"wrong1", "wrong2", "wrong3", "right"};
    EXPECT_EQ(module.run(&window, cmd), ARC_PASSWORD_FILE);
    EXPECT_GE(window.passwordQuestions, 1);
    EXPECT_LE(window.passwordQuestions, 3);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/secret.txt"));

    TestWindow good;
    good.passwords = {"right"};
    EXPECT_EQ(module.run(&good, cmd), 0);
    EXPECT_EQ(ReadFile(dir / "out/secret.txt"), std::string(5000, 's'));
}

// A password typed in Japanese opens an archive made on Windows (cp932 bytes) and one made here (UTF-8
// bytes) alike, with one question each; a wrong one is asked again by a question that says so.
TEST_F(ZipFixture, JapanesePasswordsInEitherEncoding) {
    if (!HaveTool("zip")) GTEST_SKIP();
    WriteFile(dir / "src/secret.txt", "himitsu");
    const std::string typed = ToAnsi("秘密 パス");
    for (const std::string& made : {FromAnsi(typed), typed}) {
        std::filesystem::remove_all(dir / "out");
        std::filesystem::remove(dir / "enc.zip");
        ASSERT_EQ(RunTool({"zip", "-q", "-P", made, dir / "enc.zip", "secret.txt"}, dir / "src").exitCode, 0);
        const std::string cmd = "-x " + Q(dir / "enc.zip") + " " + Q(dir / "out/");
        TestWindow w;
        w.passwords = {typed};
        EXPECT_EQ(module.run(&w, cmd), 0);
        EXPECT_EQ(w.passwordQuestions, 1);
        EXPECT_EQ(ReadFile(dir / "out/secret.txt"), "himitsu");

        std::filesystem::remove_all(dir / "out");
        TestWindow again;
        again.passwords = {ToAnsi("違う"), typed};
        EXPECT_EQ(module.run(&again, cmd), 0);
        EXPECT_EQ(again.passwordCaptions, std::vector<std::string>({ToAnsi("パスワード入力"), ToAnsi("パスワードが違います")}));
        EXPECT_EQ(ReadFile(dir / "out/secret.txt"), "himitsu");
    }
}

TEST_F(ZipFixture, ChecksAndBrokenData) {
    if (!HaveTool("zip")) GTEST_SKIP();
    WriteFile(dir / "src/data.txt", std::string(100000, 'd'));
    ASSERT_EQ(RunTool({"zip", "-q", "-0", dir / "s.zip", "data.txt"}, dir / "src").exitCode, 0);
    std::string path = ToAnsi(dir / "s.zip");
    for (int mode : {0, 1, 3, 3 | 0x10}) EXPECT_TRUE(module.checkArchive(path.c_str(), mode)) << mode;

    std::string bytes = ReadFile(dir / "s.zip");
    bytes[bytes.find(std::string(100, 'd')) + 50] = 'X';  // a stored byte: the CRC no longer matches
    WriteFile(dir / "s.zip", bytes);
    EXPECT_TRUE(module.checkArchive(path.c_str(), 0));
    EXPECT_TRUE(module.checkArchive(path.c_str(), 1));
    EXPECT_FALSE(module.checkArchive(path.c_str(), 3));
    WriteFile(dir / "out/data.txt", "old");  // the file the broken entry would replace
    EXPECT_EQ(module.run(&window, "-x -o " + Q(dir / "s.zip") + " " + Q(dir / "out/")), ARC_FILE_CRC);
    // Nothing half-written, no temporary left, the old file intact.
    EXPECT_EQ(SnapshotTree(dir / "out"), (std::map<std::string, std::string>{{"data.txt", "f:old"}}));

    WriteFile(dir / "text.zip", "this is not an archive at all, just text\n");
    std::string text = ToAnsi(dir / "text.zip");
    EXPECT_FALSE(module.checkArchive(text.c_str(), 0));
    EXPECT_EQ(module.openArchive(nullptr, text.c_str(), 0), nullptr);
    EXPECT_EQ(module.run(&window, "-x " + Q(dir / "text.zip") + " " + Q(dir / "out/")), ARC_ERROR_NOT_ARC_FILE);
    EXPECT_EQ(module.run(&window, "-x " + Q(dir / "missing.zip") + " " + Q(dir / "out/")), ARC_ERROR_NOT_FIND_ARC_FILE);
}

TEST_F(ZipFixture, ArchiveCommentsOfEveryLengthEndTheArchive) {
    // The end record is found behind a comment of any length the format allows, also one that
    // starts farther from the end than a first, short look reaches.
    if (!HaveTool("python3")) GTEST_SKIP();
    for (int length : {0, 4000, 4100, 65000, 65535}) {
        SCOPED_TRACE(length);
        const std::string archive = dir / ("c" + std::to_string(length) + ".zip");
        ASSERT_EQ(RunTool({"python3", "-c",
                           "import sys, zipfile\n"
                           "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                           "    z.writestr('a.txt', 'alpha' * 100)\n"
                           "    z.comment = b'c' * int(sys.argv[2])\n",
                           archive, std::to_string(length)})
                      .exitCode,
                  0);
        const std::string path = ToAnsi(archive);
        EXPECT_TRUE(module.checkArchive(path.c_str(), 0));
        const std::string out = dir / ("out" + std::to_string(length));
        EXPECT_EQ(module.run(&window, "-x " + Q(archive) + " " + Q(out + "/")), 0);
        EXPECT_EQ(ReadFile(out + "/a.txt").size(), 500u);
    }
}

TEST_F(ZipFixture, MasksAndJunkedFolders) {
    if (!HaveTool("zip")) GTEST_SKIP();
    MakeTree(dir / "src", Sjis);
    ASSERT_EQ(RunTool({"env", "LC_ALL=C", "zip", "-r", "-q", dir / "a.zip", "."}, dir / "src").exitCode, 0);
    ASSERT_EQ(module.run(&window, "-x " + Q(dir / "a.zip") + " " + Q(dir / "m/") + " \"*.TXT\""), 0);
    auto tree = SnapshotTree(dir / "m");
    EXPECT_TRUE(tree.count("ソ表.txt"));
    EXPECT_TRUE(tree.count("フォルダ/表示.txt"));
    EXPECT_TRUE(tree.count("plain/empty.txt"));
    EXPECT_FALSE(tree.count("plain/a.bin"));
    ASSERT_EQ(module.run(&window, "-x " + Q(dir / "a.zip") + " " + Q(dir / "p/") + " \"PLAIN\\A.BIN\""), 0);
    EXPECT_EQ(SnapshotTree(dir / "p").count("plain/a.bin"), 1u);
    EXPECT_EQ(SnapshotTree(dir / "p").count("plain/empty.txt"), 0u);
    ASSERT_EQ(module.run(&window, "-x -j " + Q(dir / "a.zip") + " " + Q(dir / "j/") + " \"表*\""), 0);
    EXPECT_EQ(SnapshotTree(dir / "j"), (std::map<std::string, std::string>{{"表示.txt", "f:hyoji\n"}}));
}
