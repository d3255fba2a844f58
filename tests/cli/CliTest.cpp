// norvex-cli end to end: the process as a user runs it, on archives made here, with the real modules.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "tests/cli/CliSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/RarFixture.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
        WriteFile(td / "empty.ini", "");
    }
    std::string ThreeFileZip(const std::string& name) {
        WriteFile(td / "src/a.txt", "a");
        WriteFile(td / "src/b.txt", "b");
        WriteFile(td / "src/c.txt", "c");
        EXPECT_TRUE(MakeZip(td / name, td / "src", {"a.txt", "b.txt", "c.txt"}));
        return td / name;
    }
    TempDir td;
};

}  // namespace

TEST_F(Cli, UsageErrors) {
    EXPECT_EQ(RunCli(td, {}).exitCode, 2);
    EXPECT_EQ(RunCli(td, {"--answer", "maybe", "x.zip"}).exitCode, 2);
    EXPECT_EQ(RunCli(td, {"--bogus", "x.zip"}).exitCode, 2);
    EXPECT_EQ(RunCli(td, {"x.zip", "--to"}).exitCode, 2);  // options may follow the paths
    const CliResult r = RunCli(td, {"--ini"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("使い方"), std::string::npos);
}

TEST_F(Cli, PrintsTheNumberedLogAndExtractsIntoTheChosenFolder) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    const std::string zip = ThreeFileZip("pics.2005.zip");
    const auto volumes = WriteRar(td.path(), "set", {{"a.txt", std::string(3000, 'a')}, {"b.txt", "b"}}, 2);
    const std::string iniBefore = ReadFile(td / "empty.ini");
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", "out", zip, volumes[0], volumes[1]});
    EXPECT_EQ(r.exitCode, 0) << r.err;  // the skipped later volume belongs to an extracted set
    EXPECT_EQ(ReadFile(td / "out/pics/a.txt"), "a");
    EXPECT_EQ(ReadFile(td / "out/set/a.txt"), std::string(3000, 'a'));
    EXPECT_EQ(ReadFile(td / "empty.ini"), iniBefore);  // settings are never written

    ASSERT_GE(r.out.size(), 12u);
    EXPECT_EQ(r.out[0], " 1| ─── Checking DLL ... ──");
    EXPECT_EQ(r.out[3], " 4| [ DLL ] \"CAB\"\t「OK」");
    EXPECT_EQ(r.out[5], " 6| [ DLL ] \"TAR\"\t「OK」");
    EXPECT_EQ(r.out[6], " 7| [ DLL ] \"7Z\"\t「OK」");
    EXPECT_EQ(r.out[7], " 8|  ──────────────────────");
    EXPECT_EQ(r.out[8], " 9|  ");
    EXPECT_TRUE(std::regex_match(r.out[9], std::regex(R"( 10\| -- "処理開始" -- \[ .+\] --------------)"))) << r.out[9];
    EXPECT_EQ(r.out[10], " 11| > -- 設定確認 --");
    EXPECT_EQ(r.out[11], " 12|  ");
    EXPECT_EQ(r.out[12], " 13| >>>> [ \"" + zip + "\" ]  --");
    EXPECT_EQ(r.out[13], " 14| > [ 最上位要素カウント ]\t3コ");
    EXPECT_EQ(r.out[14], " 15| > [ バインド起動 ] まとめフォルダ新規作成 \"pics\"");
    EXPECT_EQ(r.out[17], " 18| > [ 解凍 ]\t\"" + td / "out/pics" + "\" へ解凍しました。");
    EXPECT_TRUE(HasText(r.out, "> " + volumes[0]));
    EXPECT_EQ(r.out.back(), " " + std::to_string(r.out.size()) +
                                "| > [非先頭分割ファイル]：先頭以外の分割ファイルは無視されます。");
}

TEST_F(Cli, QuestionsAreAnsweredByTheFlag) {
    const std::string zip = ThreeFileZip("a.zip");
    {
        // -d with the delete confirmation on: "no" starts nothing.
        const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "-d", zip});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(fs::exists(zip));
        EXPECT_FALSE(fs::exists(td / "a"));
        EXPECT_NE(r.err.find("後始末が\"削除\"になっています。"), std::string::npos);
    }
    {
        // An existing file and OverWrite "ask": "no" keeps it.
        WriteFile(td / "one/src/b.txt", "new");
        ASSERT_TRUE(MakeZip(td / "one/b.zip", td / "one/src", {"b.txt"}));
        WriteFile(td / "one/b.txt", "mine");
        CliResult r = RunCli(td, {"--ini", td / "empty.ini", td / "one/b.zip"});
        EXPECT_EQ(ReadFile(td / "one/b.txt"), "mine");
        EXPECT_NE(r.err.find("上書き確認"), std::string::npos) << r.err;
        r = RunCli(td, {"--ini", td / "empty.ini", "--answer", "yes", td / "one/b.zip"});
        EXPECT_EQ(ReadFile(td / "one/b.txt"), "new");
        EXPECT_EQ(r.exitCode, 0);
        WriteFile(td / "a/b.txt", "mine");
    }
    {
        const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--answer", "yes", "-d", zip});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_FALSE(fs::exists(zip));
        EXPECT_TRUE(Contains(r.out, " " + std::to_string(r.out.size()) + "| > [ 削除 ] 書庫を削除しました。"));
        EXPECT_EQ(ReadFile(td / "a/b.txt"), "b");
        EXPECT_TRUE(fs::exists(td / "a_old1/b.txt"));  // the folder that was there is kept aside
    }
}

TEST_F(Cli, ExitStatusTellsFailuresAndAnEmptyList) {
    WriteFile(td / "broken.zip", "no archive here");
    const std::string good = ThreeFileZip("good.zip");
    CliResult r = RunCli(td, {"--ini", td / "empty.ini", good, td / "broken.zip", td / "missing.zip"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(fs::exists(td / "good/a.txt"));
    EXPECT_TRUE(HasText(r.out, "> [ 前段階エラー]： ファイルが存在しません"));
    EXPECT_TRUE(HasText(r.out, "> [ エラー ] ファイル数の取得に失敗しました。書庫でない可能性があります。"));

    r = RunCli(td, {"--ini", td / "empty.ini", "-k"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.back(), " 9| > 処理ファイルがありません。");
}
