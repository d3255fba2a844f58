// norvex-cli as a command-line tool: where options may stand, help and version, usage errors, the
// delete confirmation on its own, the exit status and the closing summary on standard error.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/CliSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RunTool.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

class CliCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
        WriteFile(td / "empty.ini", "");
    }
    // A ZIP of one file name.txt in folder (relative to td), named zipName.
    std::string OneFileZip(const std::string& folder, const std::string& zipName, const std::string& name) {
        WriteFile(td / ("src/" + name), name);
        fs::create_directories(td / folder);
        EXPECT_TRUE(MakeZip(td / (folder + "/" + zipName), td / "src", {name}));
        fs::remove(td / ("src/" + name));
        return td / (folder + "/" + zipName);
    }
    TempDir td;
};

}  // namespace

TEST_F(CliCommandLine, UsageHelpAndVersion) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* inOut;  // expected in standard output
        const char* inErr;  // expected in standard error
    };
    const Case cases[] = {
        {{"--help"}, 0, "使い方: norvex-cli", ""},
        {{"x.zip", "-h"}, 0, "--confirm-delete", ""},
        {{"--version"}, 0, "norvex-cli 0.", ""},
        {{"--bogus", "x.zip"}, 2, "", "不明なオプション --bogus"},
        {{"x.zip", "-D"}, 2, "", "不明なオプション -D"},
        {{"x.zip", "--to"}, 2, "", "--to には値が必要です"},
        {{"--answer", "maybe", "x.zip"}, 2, "", "maybe"},
        {{"--confirm-delete", "sure", "x.zip"}, 2, "", "--confirm-delete は yes か no です"},
        {{"-d", "x.zip", "-t"}, 2, "", "同時に指定できません"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(td, c.args);
        const std::string shown = c.args.front();
        EXPECT_EQ(r.exitCode, c.exitCode) << shown;
        std::string out;
        for (const auto& line : r.out) out += line + "\n";
        EXPECT_NE(out.find(c.inOut), std::string::npos) << shown << ": " << out;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << shown << ": " << r.err;
        if (c.exitCode == 2) {
            EXPECT_NE(r.err.find("使い方"), std::string::npos) << shown;
        } else {
            EXPECT_EQ(r.err, "") << shown;
        }
    }
}

TEST_F(CliCommandLine, OptionsStandAnywhereAndDoubleDashEndsThem) {
    const std::string a = OneFileZip("in", "a.zip", "a.txt");
    const std::string dash = OneFileZip("in", "-k.zip", "k.txt");
    // Options after the paths; "--" makes "-k.zip" a path (run from its folder, as a user would).
    const CliResult r = RunCli(td, {a, "--to", td / "out", "--ini=" + td / "empty.ini", "-k", "--", "in/-k.zip"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(td / "out/a.txt"), "a.txt");
    EXPECT_EQ(ReadFile(td / "out/k.txt"), "k.txt");
    EXPECT_TRUE(fs::exists(a));
    EXPECT_TRUE(fs::exists(dash));
}

TEST_F(CliCommandLine, TheDeleteConfirmationIsAnsweredOnItsOwn) {
    const std::string zip = OneFileZip("in", "a.zip", "a.txt");
    WriteFile(td / "in/a.txt", "mine");
    // Yes to the delete confirmation only: the overwrite question still gets "no", so the file that
    // was there stays, and the archive, whose a.txt did not land, is not deleted.
    CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--confirm-delete", "yes", "-d", zip});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(fs::exists(zip));
    EXPECT_EQ(ReadFile(td / "in/a.txt"), "mine");
    EXPECT_NE(r.err.find("後始末が\"削除\"になっています。\n続行しますか？\n  -> はい"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("上書き確認"), std::string::npos) << r.err;

    // No to it, with yes to everything else: nothing starts.
    const std::string other = OneFileZip("in", "b.zip", "b.txt");
    r = RunCli(td, {"--ini", td / "empty.ini", "--answer", "yes", "--confirm-delete", "no", "-d", other});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(fs::exists(other));
    EXPECT_FALSE(fs::exists(td / "in/b.txt"));
    EXPECT_NE(r.err.find("norvex-cli: 解凍 0、失敗 0、スキップ 1、後始末 0"), std::string::npos) << r.err;
}

TEST_F(CliCommandLine, ExitStatusAndSummaryCountWhatBecameOfEachArchive) {
    const std::string good = OneFileZip("in", "good.zip", "good.txt");
    WriteFile(td / "in/broken.zip", "PK\x03\x04 but nothing after it");
    // An archive that fails while extracting: a ZIP whose data was damaged after it was made.
    const std::string damaged = td / "in/damaged.zip";
    WriteFile(td / "dsrc/d.txt", "stored content that will not pass its CRC");
    fs::create_directories(td / "in");
    ASSERT_TRUE(MakeZip(damaged, td / "dsrc", {"d.txt"}, true));
    {
        std::string bytes = ReadFile(damaged);
        const std::size_t data = bytes.find("stored content");
        ASSERT_NE(data, std::string::npos);
        bytes[data] ^= 0x20;  // the CRC check of the entry fails
        WriteFile(damaged, bytes);
    }
    const std::string moveIni = td / "move.ini";
    WriteFile(moveIni, "[Main]\nAfterMethod=3\nMoveFolder=" + td / "kept" + "\n");

    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* summary;
    };
    const Case cases[] = {
        {"all extracted, none disposed", {"--ini", td / "empty.ini", "--to", td / "o1", good}, 0,
         "解凍 1、失敗 0、スキップ 0、後始末 0"},
        {"one failed, one skipped", {"--ini", td / "empty.ini", "--to", td / "o2", good, damaged, td / "in/broken.zip", td / "none.zip"}, 1,
         "解凍 1、失敗 1、スキップ 2、後始末 0"},
        {"moved", {"--ini", moveIni, "--to", td / "o3", good}, 0, "解凍 1、失敗 0、スキップ 0、後始末 1"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(td, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find(std::string("norvex-cli: ") + c.summary), std::string::npos) << c.what << "\n" << r.err;
        // Standard output stays the numbered log.
        for (const auto& line : r.out) EXPECT_NE(line.find("| "), std::string::npos) << line;
    }
    EXPECT_TRUE(fs::exists(td / "kept/good.zip"));

    // Extracted, but the move fails (a file of that name is in the move folder): exit 3.
    const std::string again = OneFileZip("in", "good.zip", "good.txt");
    const CliResult r = RunCli(td, {"--ini", moveIni, "--to", td / "o4", again});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(fs::exists(again));
    EXPECT_EQ(ReadFile(td / "o4/good.txt"), "good.txt");
    EXPECT_NE(r.err.find("解凍 1、失敗 0、スキップ 0、後始末 0（後始末の失敗 1）"), std::string::npos) << r.err;
}
