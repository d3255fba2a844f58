// Packing through the "u" command line the compress mode sends: new archives, updates that keep
// what they do not replace, and failures that leave the existing archive as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/AnsiCodec.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex::test {
namespace {

namespace fs = std::filesystem;

void SetMtime(const std::string& path, time_t t) {
    struct utimbuf times {t, t};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

class LhaPack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module.ok()); }

    int32_t Pack(const std::string& archive, const std::string& base, const std::vector<std::string>& files,
                 NvxWindow* window = nullptr, std::string* out = nullptr) {
        std::string line = "u -+1 -a1 -n1 -jso1 \"" + archive + "\" \"" + base + "/\"";
        for (const std::string& f : files) line += " \"" + f + "\"";
        return module.run(window, line, out ? out : &output);
    }

    std::map<std::string, std::string> ExtractAll(const std::string& archive) {
        const std::string out = dir / ("x" + std::to_string(++extractions));
        const int32_t r = module.run(nullptr, "x -+1 -x1 -jse1 -jso1 -u0 \"" + archive + "\" \"" + out + "/\"", &output);
        EXPECT_EQ(r, ARC_OK) << output;
        return SnapshotTree(out);
    }

    // A new archive holding base/keep.txt, for the tests that check it is left as it was; its bytes.
    std::string ArchiveOfKeep(const std::string& base, const std::string& archive) {
        WriteFile(base + "/keep.txt", "keep me");
        fs::create_directories(fs::path(archive).parent_path());
        return Pack(archive, base, {base + "/keep.txt"}) == ARC_OK ? ReadFile(archive) : std::string();
    }

    // The names in the archive, in order, as the module lists them (UTF-8).
    std::vector<std::string> Names(const std::string& archive) {
        std::vector<std::string> names;
        HARC h = module.openArchive(nullptr, Sjis(archive).c_str(), 0);
        if (!h) return names;
        ArcEntryRecord rec{};
        for (int32_t r = module.findFirst(h, "*", &rec); r == 0; r = module.findNext(h, &rec))
            names.push_back(FromAnsi(rec.fileName));
        module.closeArchive(h);
        return names;
    }

    LoadedModule module{"UNLHA32.DLL", "Unlha"};
    TempDir dir;
    std::string output;
    int extractions = 0;
};

// Files inside the base folder keep their relative path; a file outside it goes in under its own
// name; a folder brings its contents. The result reads back in lhasa, bsdtar and the module.
TEST_F(LhaPack, NewArchiveWithRelativeNamesReadableEverywhere) {
    const std::string base = dir / "base";
    WriteFile(base + "/表/ソ.txt", TextLike(80000));
    WriteFile(base + "/表/sub/deep.bin", RandomBytes(1000));
    WriteFile(base + "/top.txt", "top");
    WriteFile(dir / "elsewhere/能.txt", "outside");
    const std::string archive = dir / "new.lzh";
    ASSERT_EQ(Pack(archive, base, {base + "/表", base + "/top.txt", dir / "elsewhere/能.txt"}), ARC_OK) << output;

    const std::map<std::string, std::string> expected = {
        {"表", "d"},
        {"表/ソ.txt", "f:" + TextLike(80000)},
        {"表/sub", "d"},
        {"表/sub/deep.bin", "f:" + RandomBytes(1000)},
        {"top.txt", "f:top"},
        {"能.txt", "f:outside"},
    };
    EXPECT_EQ(ExtractAll(archive), expected);
    if (HaveTool("lhasa")) {
        const ToolResult r = RunTool({"lhasa", "t", archive});
        EXPECT_EQ(r.exitCode, 0) << r.output;
    }
    if (HaveTool("bsdtar")) {
        const ToolResult r = RunTool({"env", "LC_ALL=C.UTF-8", "bsdtar", "--options", "hdrcharset=CP932", "-tf", archive});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(r.output.find("表/ソ.txt"), std::string::npos) << r.output;
    }
    struct stat st {};
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u);  // not the private mode of a temporary file
}

// A file and an archive whose names fill a folder entry (255 bytes, Japanese as compress mode makes
// them: the file's name with ".lzh"): the archive is written, holds the file under its whole name,
// and no temporary file is left beside it.
TEST_F(LhaPack, NamesOfTheLongestLengthAreWritten) {
    std::string stem;
    for (int i = 0; i < 83; ++i) stem += "資";  // 249 bytes
    const std::string base = dir / "base", archive = dir / ("arc/" + stem + ".lzh");
    WriteFile(base + "/" + stem + ".txt", "long name");
    fs::create_directories(dir / "arc");
    ASSERT_EQ(Pack(archive, base, {base + "/" + stem + ".txt"}), ARC_OK) << output;
    EXPECT_EQ(ExtractAll(archive), (std::map<std::string, std::string>{{stem + ".txt", "f:long name"}}));
    EXPECT_EQ(SnapshotTree(dir / "arc").size(), 1u);
    if (HaveTool("bsdtar")) {
        const ToolResult r = RunTool({"env", "LC_ALL=C.UTF-8", "bsdtar", "--options", "hdrcharset=CP932", "-tf", archive});
        EXPECT_EQ(r.output, stem + ".txt\n");
    }
}

// "u" replaces an archived file only with a newer one and keeps every entry it does not replace.
TEST_F(LhaPack, UpdateKeepsOtherEntriesAndReplacesOnlyOlderCopies) {
    const std::string base = dir / "base";
    WriteFile(base + "/a.txt", "a version 1");
    WriteFile(base + "/b.txt", "b stays");
    WriteFile(base + "/c.txt", "c version 1");
    SetMtime(base + "/a.txt", 1500000000);
    SetMtime(base + "/c.txt", 1500000000);
    const std::string archive = dir / "u.lzh";
    ASSERT_EQ(Pack(archive, base, {base + "/a.txt", base + "/b.txt", base + "/c.txt"}), ARC_OK) << output;

    WriteFile(base + "/a.txt", "a version 2, newer");
    SetMtime(base + "/a.txt", 1600000000);
    WriteFile(base + "/c.txt", "c version 0, older");
    SetMtime(base + "/c.txt", 1400000000);
    WriteFile(base + "/d.txt", "d is new");
    ASSERT_EQ(Pack(archive, base, {base + "/a.txt", base + "/c.txt", base + "/d.txt"}), ARC_OK) << output;

    const auto tree = ExtractAll(archive);
    EXPECT_EQ(tree, (std::map<std::string, std::string>{{"a.txt", "f:a version 2, newer"},
                                                        {"b.txt", "f:b stays"},
                                                        {"c.txt", "f:c version 1"},
                                                        {"d.txt", "f:d is new"}}));
    const auto names = Names(archive);
    EXPECT_EQ(names.size(), 4u);  // no duplicates
}

// Two packings into one archive at once (two windows, or a window and a script): the second, started
// while the first writes, waits for the first's archive to be in place and adds to that one, or adds
// again to the archive the first put in meanwhile. The archive holds what both put in, whether it
// was there before or the first makes it. A packing that waits for its turn stops when asked to,
// and leaves the archive as it was. A link to nothing under the archive's name is no archive that
// appeared meanwhile: the new archive takes its place.
TEST_F(LhaPack, TwoPackingsIntoOneArchiveTakeTurns) {
    const auto temporaries = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir.path())) n += e.path().filename().string().find(".lzh.") != std::string::npos;
        return n;
    };
    for (const bool existing : {true, false}) {
        SCOPED_TRACE(existing ? "existing archive" : "new archive");
        const std::string base = dir / (existing ? "e" : "n"), archive = base + ".lzh";
        std::map<std::string, std::string> expected = {{"first.txt", "f:" + TextLike(400000)}, {"second.txt", "f:second"}};
        if (existing) {
            ASSERT_FALSE(ArchiveOfKeep(base, archive).empty()) << output;
            expected["keep.txt"] = "f:keep me";
        }
        WriteFile(base + "/first.txt", TextLike(400000));
        WriteFile(base + "/second.txt", "second");
        std::thread second;
        int32_t secondCode = -1;
        std::string secondOutput;
        TestWindow first;
        first.stopWhen = [&](const TestWindow::Progress& p) {
            if (p.written == 0 || second.joinable()) return false;
            second = std::thread([&] { secondCode = Pack(archive, base, {base + "/second.txt"}, nullptr, &secondOutput); });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the second reads the archive, or waits
            return false;
        };
        EXPECT_EQ(Pack(archive, base, {base + "/first.txt"}, &first), ARC_OK) << output;
        ASSERT_TRUE(second.joinable());
        second.join();
        EXPECT_EQ(secondCode, ARC_OK) << secondOutput;
        const auto tree = ExtractAll(archive);
        std::vector<std::string> names, expectedNames;
        for (const auto& [name, what] : tree) names.push_back(name);
        for (const auto& [name, what] : expected) expectedNames.push_back(name);
        EXPECT_EQ(names, expectedNames);
        EXPECT_TRUE(tree == expected);
        EXPECT_EQ(Names(archive).size(), expected.size());
        EXPECT_EQ(temporaries(), 0);
    }

    fs::create_symlink("nowhere", dir / "d.lzh");
    ASSERT_EQ(Pack(dir / "d.lzh", dir / "e", {dir / "e/second.txt"}), ARC_OK) << output;
    EXPECT_EQ(ExtractAll(dir / "d.lzh"), (std::map<std::string, std::string>{{"second.txt", "f:second"}}));

    const std::string archive = dir / "e.lzh", before = ReadFile(archive);
    const int held = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);  // a packing of this archive that is under way (or stopped)
    TestWindow waiting;
    waiting.stopWhen = [&](const TestWindow::Progress&) { return waiting.progress.size() >= 3; };
    EXPECT_EQ(Pack(archive, dir / "e", {dir / "e/second.txt"}, &waiting), ARC_ERROR_USER_CANCEL) << output;
    close(held);
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(temporaries(), 0);
}

// A missing file, a broken archive and a cancel all fail with their code and leave the existing
// archive byte for byte as it was, with no temporary file beside it.
TEST_F(LhaPack, FailuresLeaveTheExistingArchiveUntouched) {
    const std::string base = dir / "base";
    const std::string archive = dir / "arc/k.lzh";
    const std::string before = ArchiveOfKeep(base, archive);
    ASSERT_FALSE(before.empty()) << output;
    auto onlyArchiveThere = [&] {
        EXPECT_EQ(SnapshotTree(dir / "arc").size(), 1u);
    };

    EXPECT_EQ(Pack(archive, base, {base + "/missing.txt"}), ARC_NOT_EXIST) << output;
    EXPECT_EQ(ReadFile(archive), before);
    onlyArchiveThere();

    WriteFile(base + "/big.txt", TextLike(400000));
    TestWindow stopper;
    stopper.stopWhen = [](const TestWindow::Progress& p) { return p.written > 0; };
    EXPECT_EQ(Pack(archive, base, {base + "/big.txt"}, &stopper), ARC_ERROR_USER_CANCEL) << output;
    EXPECT_EQ(ReadFile(archive), before);
    onlyArchiveThere();

    std::string broken = before;
    broken.resize(broken.size() - 4);
    WriteFile(archive, broken);
    EXPECT_GE(Pack(archive, base, {base + "/big.txt"}), ARC_ERROR_FIRST) << output;
    EXPECT_EQ(ReadFile(archive), broken);
    onlyArchiveThere();

    EXPECT_EQ(module.run(nullptr, "u -+1 -jso1 \"" + archive + "\" \"" + base + "/\"", &output), ARC_ERROR_NOT_FILENAME);
}

// A name the archive cannot hold as it stands stops the packing before the archive is touched: a
// "\\" that is part of a Linux name (it would come back as a folder), a character cp932 lacks and a
// byte that is not UTF-8 (both would be stored in codes only this process understands). Given on the
// command line or found in a folder, alike. cp932 characters whose second byte is 0x5C are no "\\".
TEST_F(LhaPack, NamesTheArchiveCannotHoldStopThePacking) {
    const std::string base = dir / "base";
    const std::string archive = dir / "arc/k.lzh";
    const std::string before = ArchiveOfKeep(base, archive);
    ASSERT_FALSE(before.empty()) << output;

    WriteFile(base + "/a\\b.txt", "backslash");
    WriteFile(base + "/\xc3\xa9t\xc3\xa9.txt", "accent");
    WriteFile(base + "/\xff\xfe.bin", "raw");
    WriteFile(base + "/dir/fine.txt", "fine");
    WriteFile(base + "/dir/x\\y.txt", "inside a folder");
    const struct {
        std::string file, reason;
    } refused[] = {
        {base + "/a\\b.txt", "「\\」を含む名前は書庫に格納できません"},
        {base + "/\xc3\xa9t\xc3\xa9.txt", "cp932で表せない文字を含む名前は書庫に格納できません"},
        {base + "/\xff\xfe.bin", "cp932で表せない文字を含む名前は書庫に格納できません"},
        {base + "/dir", "「\\」を含む名前は書庫に格納できません"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Pack(archive, base, {base + "/keep.txt", r.file}), ARC_ERROR_NOT_FILENAME) << r.file;
        EXPECT_NE(output.find(r.reason), std::string::npos) << output;
        EXPECT_EQ(ReadFile(archive), before) << r.file;
    }
    EXPECT_EQ(SnapshotTree(dir / "arc").size(), 1u);

    WriteFile(base + "/表ソ.txt", "trail bytes 0x5C");
    ASSERT_EQ(Pack(archive, base, {base + "/表ソ.txt", base + "/dir/fine.txt"}), ARC_OK) << output;
    EXPECT_EQ(ExtractAll(archive), (std::map<std::string, std::string>{{"keep.txt", "f:keep me"},
                                                                     {"表ソ.txt", "f:trail bytes 0x5C"},
                                                                     {"dir", "d"},
                                                                     {"dir/fine.txt", "f:fine"}}));
}

// A file of 4 GiB or more does not fit an entry's 32-bit size: the packing stops with the reason and
// the file's name before the archive is touched, whether the file is named or found in a folder.
TEST_F(LhaPack, AFileTooLargeForAnEntryStopsThePacking) {
    const std::string base = dir / "base";
    const std::string archive = dir / "arc/k.lzh";
    const std::string before = ArchiveOfKeep(base, archive);
    ASSERT_FALSE(before.empty()) << output;
    const std::string big = base + "/in/big.bin";
    fs::create_directories(base + "/in");
    const int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const bool sized = ftruncate(fd, (4LL << 30) + 1) == 0;  // sparse: no 4 GiB written
    close(fd);
    if (!sized) GTEST_SKIP() << "this file system holds no file of 4 GiB";

    for (const std::string& named : {big, base + "/in"}) {
        output.clear();
        EXPECT_EQ(Pack(archive, base, {base + "/keep.txt", named}), ARC_ERROR_NOT_SUPPORT) << named;
        EXPECT_NE(output.find("> 4GiB以上のファイルは書庫に格納できません: " + big), std::string::npos) << output;
        EXPECT_EQ(ReadFile(archive), before) << named;
    }
    EXPECT_EQ(SnapshotTree(dir / "arc").size(), 1u);
}

}  // namespace
}  // namespace norvex::test
