// Archive and folder names through the whole path, norvex-cli to the module: every name a Linux file
// system can hold extracts that archive into that folder, and nothing else is read or written.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

// Names with quotes, wildcards, response-file and switch marks, separators of other systems, blanks
// at either end, CR and LF, invalid UTF-8 and cp932 characters whose trail byte is "\".
const std::vector<std::string> kNames = {
    "a\"b", "a\" \"b", "\"", "*x?", "@at", "-dash", "back\\slash", "trail\\", "co:lon", " lead", "trail ", "cr\rlf\n",
    "\xff\xfe", "表ソ", "é😀", "-@\"*?\\: \r\n",
};

std::vector<std::string> Found(const std::string& root, const std::string& name) {
    std::vector<std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename() == name) out.push_back(e.path());
    return out;
}

}  // namespace

TEST(NameRoundTrip, CliExtractsEveryNamedArchiveIntoItsNamedFolder) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    TempDir td;
    WriteFile(td / "empty.ini", "");
    fs::create_directories(td / "log");
    WriteFile(td / "src/inner.txt", "inner");
    WriteFile(td / "src/second.txt", "second");
    // Two top-level entries: the engine gathers them in a bind folder named after the archive.
    ASSERT_EQ(RunTool({"zip", "-q", td / "src.zip", "inner.txt", "second.txt"}, td / "src").exitCode, 0);
    const std::string zip = ReadFile(td / "src.zip");
    // Decoys that a line split or unquoted at the wrong place would name.
    for (const char* decoy : {"arc/a", "arc/b.zip", "arc/at.zip", "arc/dash.zip", "arc/x?.zip"}) WriteFile(td / decoy, zip);
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const std::string& name = kNames[i];
        SCOPED_TRACE(::testing::PrintToString(name));
        const std::string archive = td / ("arc/" + name + ".zip");
        const std::string dest = td / ("out/" + name + "dest\"x");
        WriteFile(archive, zip);
        fs::create_directories(td / "out");
        const TreeSnapshot before = Snapshot(td.path());
        const CliRun run = RunCli({"--ini", td / "empty.ini", "--to", dest, "--answer", "yes", "-k", archive},
                                  td.path(), td / "log");
        EXPECT_EQ(run.exitCode, 0) << ::testing::PrintToString(run.lines) << run.err;
        const auto found = Found(dest, "inner.txt");
        ASSERT_EQ(found.size(), 1u) << ::testing::PrintToString(run.lines);
        EXPECT_EQ(ReadFile(found[0]), "inner");
        // Only the destination (and the log) changed.
        TreeSnapshot after = Snapshot(td.path());
        for (auto it = after.begin(); it != after.end();)
            it = it->first.rfind("out/", 0) == 0 || it->first.rfind("log", 0) == 0 ? after.erase(it) : std::next(it);
        TreeSnapshot was = before;
        for (auto it = was.begin(); it != was.end();)
            it = it->first.rfind("out/", 0) == 0 || it->first.rfind("log", 0) == 0 ? was.erase(it) : std::next(it);
        EXPECT_TRUE(Differences(was, after).empty()) << ::testing::PrintToString(Differences(was, after));
        fs::remove_all(td / "out");
    }
}

// The path checks see the whole entry name, not the name cut to the record's 513 bytes: a danger
// folder past the cut is still asked about (and "no" skips the archive).
TEST(NameRoundTrip, LongEntryNamesAreCheckedWhole) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    if (!HaveTool("python3")) GTEST_SKIP();
    TempDir td;
    WriteFile(td / "empty.ini", "");
    fs::create_directories(td / "log");
    const std::string longDir = std::string(250, 'a') + "/" + std::string(250, 'b') + "/" + std::string(20, 'c');
    ASSERT_TRUE(RunPython("import sys, zipfile\n"
                          "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                          "    z.writestr(sys.argv[2] + '/startup/x.txt', 'x')\n"
                          "    z.writestr('plain.txt', 'p')\n",
                          {td / "long.zip", longDir}));
    const CliRun run = RunCli({"--ini", td / "empty.ini", "--to", td / "out", "--answer", "no", "-k", td / "long.zip"},
                              td.path(), td / "log");
    EXPECT_TRUE(HasLogText(run, "> [ 中断 ] 危険パスによる中断")) << ::testing::PrintToString(run.lines);
    EXPECT_TRUE(Found(td / "out", "x.txt").empty());
    EXPECT_TRUE(fs::exists(td / "long.zip"));
}
