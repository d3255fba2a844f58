// The modules under faults: an entry that fails, is cancelled, hits a write limit or dies with the
// process never touches the file it was to replace and leaves nothing behind; entries and archives
// past 4 GiB list, extract and report progress with saturated 32-bit fields and true 64-bit sizes;
// the LHA module's "u" reads relative names from the base folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

std::string Random(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

// The names in a folder (temporary files of the writer included).
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

class Replacement : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zip.ok()) GTEST_SKIP() << "module UNZIP32.DLL is not built";
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
        content = Random(1 << 20, 5);
        WriteFile(td / "src/a.bin", content);
        ASSERT_TRUE(MakeZip(td / "a.zip", td / "src", {"a.bin"}, true));
        WriteFile(td / "out/a.bin", "old");
    }
    int32_t Extract(NvxWindow* window) const {
        return zip.run(window, "x -o \"" + (td / "a.zip") + "\" \"" + (td / "out/") + "\"");
    }
    // The existing file is untouched and nothing else is there.
    void ExpectOldFileAlone() const {
        EXPECT_EQ(ReadFile(td / "out/a.bin"), "old");
        EXPECT_EQ(Names(td / "out"), std::vector<std::string>{"a.bin"});
    }
    // Runs the extraction in a child process (limits, kills); returns its wait status.
    template <typename Child>
    int InChild(Child child) const {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(child());
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }

    TempDir td;
    LoadedModule zip{"UNZIP32.DLL", "UnZip"};
    std::string content;
};

}  // namespace

TEST_F(Replacement, CorruptEntryNeverReplacesTheFile) {
    std::string bytes = ReadFile(td / "a.zip");
    const std::size_t at = bytes.find(content.substr(0, 64));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 500000] ^= 0x55;  // the CRC no longer matches
    WriteFile(td / "a.zip", bytes);
    EXPECT_EQ(Extract(nullptr), ARC_FILE_CRC);
    ExpectOldFileAlone();
}

TEST_F(Replacement, CancelInTheMiddleOfAnEntryKeepsTheFile) {
    TestWindow window;
    window.stopWhen = [](const TestWindow::Progress& p) { return p.written >= 256 << 10; };
    EXPECT_EQ(Extract(&window), ARC_ERROR_USER_CANCEL);
    ExpectOldFileAlone();
}

TEST_F(Replacement, DiskFullInTheMiddleOfAnEntryKeepsTheFile) {
    const int status = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {300 << 10, 300 << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return Extract(nullptr) == ARC_DISK_SPACE ? 0 : 1;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "not reported as DISK_SPACE";
    ExpectOldFileAlone();
}

TEST_F(Replacement, ProcessKilledInTheMiddleOfAnEntryLeavesNoPartialFile) {
    const int status = InChild([&] {
        TestWindow window;
        window.stopWhen = [](const TestWindow::Progress& p) {
            if (p.written >= 512 << 10) ::raise(SIGKILL);
            return false;
        };
        Extract(&window);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // Written as a file without a name: a kill leaves no temporary file either.
    ExpectOldFileAlone();
}

TEST_F(Replacement, CompleteEntryReplacesTheFile) {
    EXPECT_EQ(Extract(nullptr), ARC_OK);
    EXPECT_EQ(ReadFile(td / "out/a.bin"), content);
    EXPECT_EQ(Names(td / "out"), std::vector<std::string>{"a.bin"});
}

// ---- Past 4 GiB -------------------------------------------------------------------------------------

namespace {

constexpr uint64_t kBig = (5ull << 30) + 3;

class Past4GiB : public ::testing::TestWithParam<const char*> {
protected:
    // Builds the sparse archive; false (with a skip) when this file system cannot hold it cheaply.
    bool Build(const std::string& kind, std::string& archive) {
        if (!HaveTool("python3")) {
            skip = "python3 is not installed";
            return false;
        }
        if (FreeBytes(td.path()) < (256ull << 20)) {
            skip = "less than 256 MiB free";
            return false;
        }
        archive = td / ("big." + kind);
        const ToolResult r = RunTool({"python3", BIG_SCRIPT, kind, archive});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        struct stat st {};
        if (r.exitCode != 0 || ::stat(archive.c_str(), &st) != 0) return false;
        if (static_cast<uint64_t>(st.st_blocks) * 512 > (64ull << 20)) {
            skip = "the file system keeps no holes";
            return false;
        }
        return true;
    }
    TempDir td;
    std::string skip;
};

}  // namespace

TEST_P(Past4GiB, ListExtractAndReportProgress) {
    const std::string kind = GetParam();
    LoadedModule module(kind == "zip" ? "UNZIP32.DLL" : "TAR32.DLL", kind == "zip" ? "UnZip" : "Tar");
    if (!module.ok()) GTEST_SKIP() << "module is not built";
    std::string archive;
    if (!Build(kind, archive)) GTEST_SKIP() << skip;

    // Listing: the 32-bit field saturates, the 64-bit size is exact, and the entry after it is found.
    HARC h = module.openArchive(nullptr, archive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    ArcEntryRecord record;
    ASSERT_EQ(module.findFirst(h, "*", &record), 0);
    EXPECT_STREQ(record.fileName, "big.bin");
    EXPECT_EQ(record.originalSize, 0xFFFFFFFFu);
    int64_t size64 = 0;
    ASSERT_TRUE(module.getOriginalSizeEx(h, &size64));
    EXPECT_EQ(static_cast<uint64_t>(size64), kBig);
    ASSERT_EQ(module.findNext(h, &record), 0);
    EXPECT_STREQ(record.fileName, "tail.txt");
    EXPECT_EQ(record.originalSize, 4u);
    EXPECT_EQ(module.findNext(h, &record), ARC_FIND_END);
    EXPECT_EQ(module.getArcOriginalSize(h), 0x7FFFFFFF);  // the 32-bit total saturates too
    module.closeArchive(h);

    // Extraction: progress in 64-bit figures, the 32-bit ones saturated, never going back.
    TestWindow window;
    ASSERT_EQ(module.run(&window, "x -o \"" + archive + "\" \"" + (td / "out/") + "\""), ARC_OK);
    uint64_t last = 0;
    int bigRecords = 0;
    for (const auto& p : window.progress) {
        if (p.source != "big.bin") continue;
        ++bigRecords;
        EXPECT_EQ(p.size, kBig);
        EXPECT_EQ(p.size32, 0xFFFFFFFFu);
        EXPECT_GE(p.written, last);
        EXPECT_EQ(p.written32, static_cast<uint32_t>(std::min<uint64_t>(p.written, 0xFFFFFFFFu)));
        last = p.written;
    }
    EXPECT_GT(bigRecords, 1000);
    EXPECT_EQ(last, kBig);

    struct stat st {};
    ASSERT_EQ(::stat((td / "out/big.bin").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), kBig);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 64ull << 20) << "the holes were written out";
    std::string tail(3, '\0');
    FILE* f = std::fopen((td / "out/big.bin").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ::fseeko(f, static_cast<off_t>(kBig - 3), SEEK_SET);
    EXPECT_EQ(std::fread(tail.data(), 1, 3, f), 3u);
    std::fclose(f);
    EXPECT_EQ(tail, "end");
    EXPECT_EQ(ReadFile(td / "out/tail.txt"), "tail");
}

INSTANTIATE_TEST_SUITE_P(Formats, Past4GiB, ::testing::Values("zip", "tar"));

TEST(Past4GiBEngine, ProgressOfARunStaysWithinBoundsAndEndsAtAHundred) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    TempDir td;
    if (!HaveTool("python3") || FreeBytes(td.path()) < (256ull << 20)) GTEST_SKIP() << "no python3 or no room";
    const std::string archive = td / "big.zip";
    ASSERT_EQ(RunTool({"python3", BIG_SCRIPT, "zip", archive}).exitCode, 0);
    TEngineRun run;
    std::vector<int> percents;
    run.host.onProgress = [&](int p) { percents.push_back(p); };
    run.Run({archive});
    EXPECT_TRUE(std::any_of(run.host.texts.begin(), run.host.texts.end(),
                            [](const std::string& t) { return t.rfind("> [ 解凍 ]", 0) == 0; }))
        << ::testing::PrintToString(run.host.texts);
    ASSERT_FALSE(percents.empty());
    for (int p : percents) EXPECT_TRUE(p >= 0 && p <= 100) << p;
    EXPECT_EQ(*std::max_element(percents.begin(), percents.end()), 100);
    // Figures in between were shown: the arithmetic did not jump from 0 to 100.
    EXPECT_TRUE(std::any_of(percents.begin(), percents.end(), [](int p) { return p > 10 && p < 90; }));
}

// ---- The LHA module's "u": relative names -------------------------------------------------------

TEST(LhaUpdate, RelativeNamesAreReadFromTheBaseFolderNotTheCurrentOne) {
    LoadedModule lha("UNLHA32.DLL", "Unlha");
    if (!lha.ok()) GTEST_SKIP() << "module UNLHA32.DLL is not built";
    TempDir td;
    WriteFile(td / "base/a.txt", "from base");
    WriteFile(td / "base/sub/b.txt", "b from base");
    WriteFile(td / "base/sub/c.txt", "c from base");
    // Decoys of the same names in the current folder.
    WriteFile(td / "cwd/a.txt", "from cwd");
    WriteFile(td / "cwd/sub/b.txt", "b from cwd");
    const fs::path previous = fs::current_path();
    fs::current_path(td / "cwd");
    std::string output;
    const int32_t code = lha.run(nullptr, "u \"" + (td / "x.lzh") + "\" \"" + (td / "base/") +
                                              "\" a.txt sub/b.txt ./sub/../sub/c.txt", &output);
    fs::current_path(previous);
    ASSERT_EQ(code, ARC_OK) << output;
    ASSERT_EQ(lha.run(nullptr, "x -u0 -x1 \"" + (td / "x.lzh") + "\" \"" + (td / "out/") + "\""), ARC_OK);
    EXPECT_EQ(SnapshotTree(td / "out"),
              (std::map<std::string, std::string>{{"a.txt", "f:from base"},
                                                  {"sub", "d"},
                                                  {"sub/b.txt", "f:b from base"},
                                                  {"sub/c.txt", "f:c from base"}}));
}
