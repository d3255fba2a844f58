// UNLHA32.DLL as the host sees it: listing, testing and extraction of archives from our writer and
// of hand-made level-0 and level-1 archives, with cp932 names, damaged data and malicious paths.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/AnsiCodec.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex::test {
namespace {

namespace fs = std::filesystem;
using lzh::LzhMethod;

class LhaModule : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module.ok()); }

    int32_t Extract(const std::string& archive, const std::string& dest, const std::string& switches = "-x1",
                    NvxWindow* window = nullptr, const std::string& masks = "") {
        std::string line = "x -+1 -a1 -n1 -jse1 -jso1 " + switches + " \"" + archive + "\" \"" + dest + "/\"";
        if (!masks.empty()) line += " " + masks;
        return module.run(window, line, &output);
    }

    // Every entry's name and size, as FindFirst / FindNext report them (names in UTF-8).
    std::vector<std::pair<std::string, uint32_t>> List(const std::string& archive) {
        std::vector<std::pair<std::string, uint32_t>> out;
        HARC h = module.openArchive(nullptr, Sjis(archive).c_str(), 0);
        if (!h) return out;
        ArcEntryRecord rec{};
        for (int32_t r = module.findFirst(h, "*", &rec); r == 0; r = module.findNext(h, &rec))
            out.emplace_back(FromAnsi(rec.fileName), rec.originalSize);
        module.closeArchive(h);
        return out;
    }

    LoadedModule module{"UNLHA32.DLL", "Unlha"};
    TempDir dir;
    std::string output;
};

// Our writer's archive, every method of it, extracts to the very tree it was made from.
TEST_F(LhaModule, ExtractsOurArchivesByteForByteWithNames) {
    const std::string src = dir / "src";
    WriteFile(src + "/ソ.txt", "so\n");
    WriteFile(src + "/表/ソース/能力.dat", TextLike(150000));
    WriteFile(src + "/表/random.bin", RandomBytes(3000));
    WriteFile(src + "/plain/empty.txt", "");
    fs::create_directories(src + "/空");
    const auto expected = SnapshotTree(src);
    for (LzhMethod method : {LzhMethod::Lh4, LzhMethod::Lh5, LzhMethod::Lh6, LzhMethod::Lh7}) {
        SCOPED_TRACE(lzh::MethodName(method));
        const std::string archive = dir / "tree.lzh";
        ASSERT_TRUE(WriteLzhTree(src, archive, method, /*allowStored=*/false));
        const std::string out = dir / ("out" + std::string(lzh::MethodName(method)));
        ASSERT_EQ(Extract(archive, out), ARC_OK) << output;
        EXPECT_EQ(SnapshotTree(out), expected);
        EXPECT_TRUE(module.checkArchive(Sjis(archive).c_str(), ARC_CHECKARCHIVE_FULLCRC));
    }

    const auto listed = List(dir / "tree.lzh");
    ASSERT_EQ(listed.size(), expected.size());
    std::map<std::string, uint32_t> sizes(listed.begin(), listed.end());
    EXPECT_EQ(sizes["表\\ソース\\能力.dat"], 150000u);
    EXPECT_EQ(sizes.count("ソ.txt"), 1u);
    HARC h = module.openArchive(nullptr, Sjis(dir / "tree.lzh").c_str(), 0);
    ASSERT_NE(h, nullptr);
    ArcEntryRecord rec{};
    ASSERT_EQ(module.findFirst(h, "*", &rec), 0);
    EXPECT_EQ(module.getArcOriginalSize(h), 150000 + 3000 + 3);
    module.closeArchive(h);
}

// Level 0 names use "\\" between folders; level 1 may put the folder in a 0xFF-separated extension.
// Names whose trail byte is 0x5C must not be cut there.
TEST_F(LhaModule, ReadsLevel0AndLevel1HeadersWithTrailByte5C) {
    std::vector<HandEntry> entries(4);
    entries[0].name = Sjis("ソ.txt");
    entries[0].data = "level0";
    entries[1].name = Sjis("表\\ソ\\能.txt");
    entries[1].data = "nested level0";
    entries[2].level = 1;
    entries[2].name = Sjis("ソ.dat");
    entries[2].dirExt = Sjis("表示") + "\xFF" + Sjis("ソ") + "\xFF";
    entries[2].data = "level1 in a folder";
    entries[3].level = 1;
    entries[3].name = Sjis("一覧.txt");
    entries[3].data = std::string(1000, 'q');
    const std::string archive = dir / "old.lzh";
    WriteFile(archive, BuildHandArchive(entries));

    ASSERT_EQ(Extract(archive, dir / "out"), ARC_OK) << output;
    const std::map<std::string, std::string> expected = {
        {"ソ.txt", "f:level0"},
        {"表", "d"},
        {"表/ソ", "d"},
        {"表/ソ/能.txt", "f:nested level0"},
        {"表示", "d"},
        {"表示/ソ", "d"},
        {"表示/ソ/ソ.dat", "f:level1 in a folder"},
        {"一覧.txt", "f:" + std::string(1000, 'q')},
    };
    EXPECT_EQ(SnapshotTree(dir / "out"), expected);

    // Without folders: every file lands in the destination itself.
    ASSERT_EQ(Extract(archive, dir / "flat", "-x0"), ARC_OK) << output;
    EXPECT_EQ(SnapshotTree(dir / "flat"),
              (std::map<std::string, std::string>{{"ソ.txt", "f:level0"},
                                                  {"能.txt", "f:nested level0"},
                                                  {"ソ.dat", "f:level1 in a folder"},
                                                  {"一覧.txt", "f:" + std::string(1000, 'q')}}));

    // Masks: by file name without a separator, by path with one.
    ASSERT_EQ(Extract(archive, dir / "masked", "-x1", nullptr, "\"*.dat\""), ARC_OK) << output;
    EXPECT_EQ(SnapshotTree(dir / "masked").count("表示/ソ/ソ.dat"), 1u);
    EXPECT_EQ(SnapshotTree(dir / "masked").count("ソ.txt"), 0u);
}

// A damaged entry fails with a failure code and leaves no file behind; the others still land.
// CheckArchive sees the damage only when it verifies the data.
TEST_F(LhaModule, DamagedDataGivesCrcFailureAndNoFile) {
    std::vector<HandEntry> entries(2);
    entries[0].name = "bad.txt";
    entries[0].data = "this will be damaged";
    entries[1].name = "good.txt";
    entries[1].data = "intact";
    std::string bytes = BuildHandArchive(entries);
    bytes[bytes.find("this will") + 3] ^= 0x20;
    const std::string stored = dir / "stored.lzh";
    WriteFile(stored, bytes);
    EXPECT_EQ(Extract(stored, dir / "out"), ARC_FILE_CRC) << output;
    EXPECT_EQ(SnapshotTree(dir / "out"), (std::map<std::string, std::string>{{"good.txt", "f:intact"}}));
    EXPECT_TRUE(module.checkArchive(Sjis(stored).c_str(), ARC_CHECKARCHIVE_BASIC));
    EXPECT_FALSE(module.checkArchive(Sjis(stored).c_str(), ARC_CHECKARCHIVE_FULLCRC));

    // Coded data with a flipped bit in the middle: whatever the decoder makes of it, never success.
    for (LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh4}) {
        std::string coded = EncodeOneEntry("coded.txt", TextLike(50000), method);
        coded[coded.size() / 2] ^= 0x10;
        const std::string archive = dir / "coded.lzh";
        WriteFile(archive, coded);
        const std::string out = dir / ("coded" + std::string(lzh::MethodName(method)));
        const int32_t r = Extract(archive, out);
        EXPECT_GE(r, ARC_ERROR_FIRST) << output;
        EXPECT_FALSE(fs::exists(out + "/coded.txt"));
    }
}

// A header cut short, a file that is no archive, a missing archive: the family's codes.
TEST_F(LhaModule, BrokenArchivesMapToTheirCodes) {
    std::vector<HandEntry> entries(2);
    entries[0].name = "first.txt";
    entries[0].data = "first";
    entries[1].name = "second.txt";
    entries[1].data = std::string(500, 's');
    const std::string full = BuildHandArchive(entries);
    const std::string cut = dir / "cut.lzh";
    WriteFile(cut, full.substr(0, full.size() - 100));
    EXPECT_EQ(Extract(cut, dir / "cut"), ARC_ERROR_EOF) << output;
    EXPECT_EQ(ReadFile(dir / "cut/first.txt"), "first");
    EXPECT_FALSE(module.checkArchive(Sjis(cut).c_str(), ARC_CHECKARCHIVE_BASIC));

    std::string badSum = full;
    badSum[1] ^= 0x55;  // the level-0 header checksum
    WriteFile(dir / "sum.lzh", badSum);
    EXPECT_EQ(Extract(dir / "sum.lzh", dir / "sum"), ARC_ERROR_HEADER_CRC) << output;

    WriteFile(dir / "text.lzh", "just some text, not an archive at all");
    EXPECT_EQ(Extract(dir / "text.lzh", dir / "text"), ARC_ERROR_NOT_ARC_FILE) << output;
    EXPECT_FALSE(module.checkArchive(Sjis(dir / "text.lzh").c_str(), ARC_CHECKARCHIVE_RAPID));
    EXPECT_GE(Extract(dir / "missing.lzh", dir / "missing"), ARC_ERROR_FIRST);
}

// Entries that climb out of the destination or name absolute paths: nothing is written outside,
// and the result is a failure code.
TEST_F(LhaModule, MaliciousPathsStayInsideTheDestination) {
    std::vector<HandEntry> entries(4);
    entries[0].name = "..\\..\\escape0.txt";
    entries[0].data = "out";
    entries[1].level = 1;
    entries[1].name = "escape1.txt";
    entries[1].dirExt = std::string("..\xFF..\xFF", 6);
    entries[1].data = "out";
    entries[2].name = "\\abs\\rooted.txt";
    entries[2].data = "rooted";
    entries[3].name = "ok.txt";
    entries[3].data = "fine";
    std::string bytes = BuildHandArchive(entries);
    // A level-2 entry whose folder header is ".." (0xFF-terminated), from our header builder.
    const std::string lvl2 = EncodeOneEntry("../escape2.txt", "out", LzhMethod::Lh5);
    bytes.pop_back();
    bytes += lvl2;
    const std::string archive = dir / "evil.lzh";
    WriteFile(archive, bytes);

    const std::string dest = dir / "a/b/dest";
    fs::create_directories(dest);
    const int32_t r = Extract(archive, dest);
    EXPECT_GE(r, ARC_ERROR_FIRST) << output;
    std::map<std::string, std::string> all = SnapshotTree(dir.path());
    for (const auto& [path, kind] : all)
        EXPECT_EQ(path.find("escape"), std::string::npos) << path;
    // A leading separator is stripped: the file lands inside.
    EXPECT_EQ(ReadFile(dest + "/abs/rooted.txt"), "rooted");
    EXPECT_EQ(ReadFile(dest + "/ok.txt"), "fine");
}

// The LHA switches: -u0 always overwrites, -jn1 never, -jyc1 asks and wins over -u0. The file -jn1
// keeps is told to the host (the archive then holds the only copy of that entry); a written entry,
// or one the host itself was asked about, is not.
TEST_F(LhaModule, OverwriteSwitches) {
    std::vector<HandEntry> entries(2);
    entries[0].name = "f.txt";
    entries[0].data = "new";
    entries[1].name = "g.txt";
    entries[1].data = "fresh";
    const std::string archive = dir / "o.lzh";
    WriteFile(archive, BuildHandArchive(entries));
    const std::string dest = dir / "dest";
    auto reset = [&] {
        WriteFile(dest + "/f.txt", "old");
        fs::remove(dest + "/g.txt");
    };

    reset();
    TestWindow never;
    never.listenForRefusals();
    ASSERT_EQ(Extract(archive, dest, "-x1 -jn1", &never), ARC_OK) << output;
    EXPECT_EQ(ReadFile(dest + "/f.txt"), "old");
    EXPECT_EQ(ReadFile(dest + "/g.txt"), "fresh");
    ASSERT_EQ(never.refusals.size(), 1u);
    EXPECT_EQ(never.refusals[0].cause, ARC_CAUSE_KEPT_EXISTING);
    EXPECT_EQ(never.refusals[0].code, ARC_OK);
    EXPECT_EQ(never.refusals[0].name, "f.txt");
    EXPECT_EQ(output, "");  // told, not logged

    reset();
    TestWindow always;
    always.listenForRefusals();
    ASSERT_EQ(Extract(archive, dest, "-x1 -u0", &always), ARC_OK) << output;
    EXPECT_EQ(ReadFile(dest + "/f.txt"), "new");
    EXPECT_TRUE(always.refusals.empty());
    reset();
    TestWindow window;
    window.listenForRefusals();
    window.overwriteAnswers = {ARC_ANSWER_NO};
    ASSERT_EQ(Extract(archive, dest, "-x1 -jyc1 -u0", &window), ARC_OK) << output;
    EXPECT_EQ(window.overwriteQuestions.size(), 1u);
    EXPECT_EQ(ReadFile(dest + "/f.txt"), "old");
    EXPECT_TRUE(window.refusals.empty());
}

// Progress reaches the host for every entry, rising to its size, and a stop request ends the run
// with a cancel code, removing the partial file. (How many records come depends on whether the
// worker decoding the entry was still at it when the entry's turn came.)
TEST_F(LhaModule, ProgressAndCancel) {
    const std::string archive = dir / "p.lzh";
    WriteFile(archive, EncodeOneEntry("big.txt", TextLike(300000), LzhMethod::Lh5));
    TestWindow window;
    ASSERT_EQ(Extract(archive, dir / "p", "-x1", &window), ARC_OK) << output;
    ASSERT_FALSE(window.progress.empty());
    for (std::size_t i = 1; i < window.progress.size(); ++i)
        EXPECT_GE(window.progress[i].written, window.progress[i - 1].written);
    EXPECT_EQ(window.progress.back().written, 300000u);
    EXPECT_EQ(window.progress.back().source, "big.txt");

    TestWindow stopper;
    stopper.stopWhen = [](const TestWindow::Progress& p) { return p.written > 0; };
    EXPECT_EQ(Extract(archive, dir / "c", "-x1", &stopper), ARC_ERROR_USER_CANCEL) << output;
    EXPECT_FALSE(fs::exists(dir / "c/big.txt"));
}

}  // namespace
}  // namespace norvex::test
