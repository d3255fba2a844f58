// Archives from a stranger, end to end through norvex-cli with the most permissive answers
// ("--answer yes") and after-processing "delete" ("-d"): nothing may appear or change outside the
// destination, nothing inside it may lead out, no run may hang, and an archive with a refused entry
// must be kept. TAR-only kinds of entry (hard links, device files) are not taken by the engine, which
// extracts only LZH, ZIP, CAB and RAR; they are put to the TAR module directly, with the same checks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

const std::string kFailureLine = "> [ 解凍失敗 ]";

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
        root = td.path();
        dest = root + "/l1/l2/l3/l4/dest";
        outside = root + "/outside";
        fs::create_directories(dest);
        fs::create_directories(root + "/arc");
        fs::create_directories(root + "/log");
        WriteFile(outside + "/victim.txt", "victim");
        WriteFile(root + "/empty.ini", "");
    }

    std::string Build(const std::string& kind, const std::string& ext) {
        const std::string archive = root + "/arc/" + kind + ext;
        EXPECT_TRUE(RunPython("import runpy,sys; sys.argv=sys.argv[1:]; runpy.run_path(sys.argv[0], run_name='__main__')",
                              {HOSTILE_SCRIPT, kind, archive, outside}));
        return archive;
    }

    // Runs norvex-cli on the archive and checks what must hold for every hostile archive.
    CliRun Extract(const std::string& archive, const std::string& after = "-d", const CliLimits& limits = {}) {
        const TreeSnapshot before = Outside(Snapshot(root));
        CliRun run = RunCli({"--ini", root + "/empty.ini", "--to", dest, "--answer", "yes", after, archive}, root,
                            root + "/log", limits);
        EXPECT_FALSE(run.timedOut) << "norvex-cli did not end in time";
        EXPECT_EQ(run.signal, 0) << "norvex-cli died of signal " << run.signal << "\n" << run.err;
        const auto changed = Differences(before, Outside(Snapshot(root)));
        EXPECT_TRUE(changed.empty()) << "written outside the destination: " << ::testing::PrintToString(changed);
        const auto ways = WaysOut(dest);
        EXPECT_TRUE(ways.empty()) << ::testing::PrintToString(ways);
        EXPECT_EQ(ReadFile(outside + "/victim.txt"), "victim");
        // Escapes deeper than the scratch folder would land above it.
        for (int depth = 1; depth <= 9; ++depth) {
            std::string up = dest;
            for (int i = 0; i < depth; ++i) up += "/..";
            for (const char* name : {"dd", "ds", "bs"}) {
                for (int k = 0; k <= 9; ++k) {
                    const fs::path landing = fs::path(up + "/" + name + std::to_string(k) + ".txt").lexically_normal();
                    if (landing.string().rfind(dest, 0) != 0) {
                        EXPECT_FALSE(fs::exists(fs::symlink_status(landing))) << landing;
                    }
                }
            }
        }
        return run;
    }

    // The snapshot without the destination and the log folder.
    TreeSnapshot Outside(TreeSnapshot s) const {
        for (auto it = s.begin(); it != s.end();)
            it = it->first.rfind("l1/l2/l3/l4/dest/", 0) == 0 || it->first.rfind("log", 0) == 0 ? s.erase(it) : std::next(it);
        return s;
    }

    void ExpectRefusedAndKept(const CliRun& run, const std::string& archive) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_GE(CountLogContaining(run, kFailureLine), 1) << ::testing::PrintToString(run.lines);
        EXPECT_TRUE(fs::exists(archive)) << "an archive with refused entries was deleted";
    }

    TempDir td;
    std::string root, dest, outside;
};

}  // namespace

TEST_F(Hostile, DotDotAtEveryDepthIsRefusedAndTheArchiveKept) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("dotdot", ".zip");
    ExpectRefusedAndKept(Extract(archive), archive);
}

TEST_F(Hostile, BackslashAndDriveLetterNamesStayInside) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("backslash", ".zip");
    ExpectRefusedAndKept(Extract(archive), archive);
}

TEST_F(Hostile, AbsolutePathsLandInsideTheDestination) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("absolute", ".zip");
    const CliRun run = Extract(archive, "-k");
    // Leading separators are stripped: every entry is written, under the destination.
    EXPECT_EQ(run.exitCode, 0) << ::testing::PrintToString(run.lines);
    int landed = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest))
        landed += e.path().filename() == "abs.txt" || e.path().filename() == "double.txt";
    EXPECT_EQ(landed, 2);
}

TEST_F(Hostile, SymbolicLinksOutAndFilesThroughThemAreRefused) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("symlink-zip", ".zip");
    ExpectRefusedAndKept(Extract(archive), archive);
}

TEST_F(Hostile, NamesInvalidInCp932OrUtf8AreHandledWithoutHarm) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("badnames", ".zip");
    const CliRun run = Extract(archive, "-k");
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1);
    EXPECT_TRUE(fs::exists(archive));
}

TEST_F(Hostile, HugeNamesAndDeepPathsEndWithoutHarm) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("hugenames-zip", ".zip");
    // A 300-byte component cannot be made and a ".." is refused: the archive stays.
    ExpectRefusedAndKept(Extract(archive), archive);
}

TEST_F(Hostile, ThousandsOfEntriesAreAllWritten) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("many", ".zip");
    const CliRun run = Extract(archive, "-k");
    EXPECT_EQ(run.exitCode, 0);
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest)) files += e.is_regular_file();
    EXPECT_EQ(files, 5000);
}

TEST_F(Hostile, DecompressionBombAgainstAFullDiskLeavesNothingAndKeepsTheArchive) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("bomb", ".zip");
    CliLimits limits;
    limits.fileSizeLimit = 64 << 20;  // the "disk" holds 64 MiB per file
    limits.seconds = 300;
    const CliRun run = Extract(archive, "-d", limits);
    ExpectRefusedAndKept(run, archive);
    EXPECT_TRUE(HasLogText(run, "> [ 解凍失敗 ]\t情報=「32773:\"DISK_SPACE\"」")) << ::testing::PrintToString(run.lines);
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest)) files += !e.is_directory();
    EXPECT_EQ(files, 0) << "a partial file or a temporary file was left";
}

TEST_F(Hostile, DecompressionBombOfZerosCostsNoDiskSpace) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("bomb", ".zip");
    CliLimits limits;
    limits.seconds = 300;
    const CliRun run = Extract(archive, "-k", limits);
    EXPECT_EQ(run.exitCode, 0);
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
        if (!e.is_regular_file()) continue;
        struct stat st {};
        ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 1LL << 30);
        EXPECT_LT(static_cast<long long>(st.st_blocks) * 512, 16LL << 20) << "the zeros were written out";
    }
}

// The engine logs one result line per archive; the module's own lines, one per refused entry, are in
// the output text of the extraction call, which the engine does not show.
TEST_F(Hostile, EachRefusedEntryIsNamedInTheLog) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    const std::string archive = Build("dotdot", ".zip");
    const CliRun run = Extract(archive);
    EXPECT_GE(CountLogContaining(run, "危険なパスのため展開しません"), 17) << ::testing::PrintToString(run.lines);
}

// ---- The TAR module directly: link and device entries ---------------------------------------------

namespace {

class HostileTar : public Hostile {
protected:
    // Extracts with "overwrite always, with folders" and returns the module's output text.
    int32_t ExtractTar(const std::string& archive, std::string& output) {
        LoadedModule tar("TAR32.DLL", "Tar");
        if (!tar.ok()) return -1;
        before = Outside(Snapshot(root));
        TestWindow window;
        window.overwriteAnswers.assign(50, ARC_ANSWER_YES);
        const int32_t code = tar.run(&window, "x -o \"" + archive + "\" \"" + dest + "/\"", &output);
        const auto changed = Differences(before, Outside(Snapshot(root)));
        EXPECT_TRUE(changed.empty()) << "written outside the destination: " << ::testing::PrintToString(changed);
        const auto ways = WaysOut(dest);
        EXPECT_TRUE(ways.empty()) << ::testing::PrintToString(ways);
        EXPECT_EQ(ReadFile(outside + "/victim.txt"), "victim");
        return code;
    }
    static int Lines(const std::string& text, const std::string& part) {
        int n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }
    TreeSnapshot before;
};

}  // namespace

TEST_F(HostileTar, LinksOutAndWritesThroughLinksAreRefusedOneLineEach) {
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    std::string output;
    const int32_t code = ExtractTar(Build("symlink-tar", ".tar"), output);
    EXPECT_GE(code, ARC_ERROR_FIRST);
    // esc and abs point out and are not made (what is under them lands in plain folders); dirlink
    // stays inside, and the file under it would go through it.
    EXPECT_EQ(Lines(output, "展開先の外を指すリンクは作成しません"), 2) << output;
    EXPECT_EQ(Lines(output, "シンボリックリンクを経由するため展開しません"), 1) << output;
    EXPECT_EQ(ReadFile(dest + "/inside.txt"), "in");
    EXPECT_EQ(fs::read_symlink(dest + "/ok"), "inside.txt");
}

TEST_F(HostileTar, HardLinksOutAreRefusedAndNeverWrittenThrough) {
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    std::string output;
    const int32_t code = ExtractTar(Build("hardlink", ".tar"), output);
    EXPECT_GE(code, ARC_ERROR_FIRST);
    EXPECT_EQ(Lines(output, "展開先の外を指すリンクは作成しません"), 2) << output;
    // h3 first became a second name of a.txt, then a file of its own: a.txt keeps its content.
    EXPECT_EQ(ReadFile(dest + "/a.txt"), "A");
    EXPECT_EQ(ReadFile(dest + "/h3"), "B");
}

TEST_F(HostileTar, DeviceFilesAndFifosAreNeverMade) {
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    std::string output;
    const int32_t code = ExtractTar(Build("devices", ".tar"), output);
    EXPECT_GE(code, ARC_ERROR_FIRST);
    EXPECT_EQ(Lines(output, "特殊ファイルは展開しません"), 3) << output;
    EXPECT_EQ(ReadFile(dest + "/ok.txt"), "ok");
}

TEST_F(HostileTar, InvalidUtf8AndHugeNamesEndWithoutHarm) {
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    std::string output;
    ExtractTar(Build("badnames-tar", ".tar"), output);
    EXPECT_EQ(ReadFile(dest + "/ok.txt"), "x");
    const int32_t code = ExtractTar(Build("hugenames", ".tar"), output);
    EXPECT_GE(code, ARC_ERROR_FIRST);
    EXPECT_TRUE(fs::exists(dest + "/ok.txt"));
}
