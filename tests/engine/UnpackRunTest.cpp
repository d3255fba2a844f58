// End-to-end runs of the engine with a scripted host, on archives made here with the real tools and
// extracted by the real modules on the real file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include <unistd.h>

#include "archivers/Archives.h"
#include "archivers/ZIP32.h"
#include "platform/AnsiCodec.h"
#include "platform/ModuleLoader.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/RarFixture.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Three top-level files a.txt, b.txt, c.txt in a ZIP.
std::string MakeThreeFileZip(const TempDir& td, const std::string& name) {
    WriteFile(td / "src3/a.txt", "a");
    WriteFile(td / "src3/b.txt", "bb");
    WriteFile(td / "src3/c.txt", "ccc");
    EXPECT_TRUE(MakeZip(td / name, td / "src3", {"a.txt", "b.txt", "c.txt"}));
    return td / name;
}

// A ZIP whose one top-level folder is folder, holding x.txt.
std::string MakeFolderZip(const TempDir& td, const std::string& name, const std::string& folder) {
    WriteFile(td / ("srcf/" + folder + "/x.txt"), "x in " + folder);
    fs::create_directories(fs::path(td / name).parent_path());
    EXPECT_TRUE(MakeZip(td / name, td / "srcf", {folder}));
    fs::remove_all(td / "srcf");
    return td / name;
}

// A stored ZIP with a.txt and b.txt under top (or at the top level when top is empty) whose data of
// b.txt is damaged: the listing is fine, the extraction reports a CRC error.
std::string MakeDamagedZip(const TempDir& td, const std::string& name, const std::string& top) {
    const std::string base = top.empty() ? "" : top + "/";
    WriteFile(td / ("srcd/" + base + "a.txt"), std::string(1000, 'a'));
    WriteFile(td / ("srcd/" + base + "b.txt"), std::string(5000, 'b'));
    EXPECT_TRUE(MakeZip(td / name, td / "srcd", top.empty() ? std::vector<std::string>{"a.txt", "b.txt"}
                                                            : std::vector<std::string>{top},
                        /*stored=*/true));
    fs::remove_all(td / "srcd");
    std::string bytes = ReadFile(td / name);
    const std::size_t at = bytes.find(std::string(5000, 'b'));
    EXPECT_NE(at, std::string::npos);
    bytes[at + 2500] = 'X';
    WriteFile(td / name, bytes);
    return td / name;
}

// A ZIP with the files of src named in the archive through bsdtar's substitution (entry paths a
// ZIP tool would never write, such as "C:/temp/x.txt").
std::string MakeZipWithEntryNames(const TempDir& td, const std::string& name,
                                  const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<std::string> argv{"bsdtar", "-P", "-c", "--format", "zip", "-f", td / name};
    int i = 0;
    for (const auto& [entry, content] : entries) {
        const std::string file = "f" + std::to_string(i++);
        WriteFile(td / ("srcn/" + file), content);
        argv.push_back("-s");
        argv.push_back(",^" + file + "$," + entry + ",");
    }
    for (int k = 0; k < i; ++k) argv.push_back("f" + std::to_string(k));
    const ToolResult r = RunTool(argv, td / "srcn");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    fs::remove_all(td / "srcn");
    return td / name;
}

std::vector<RarEntry> TwoRarEntries() {
    std::string a, b;
    for (int i = 0; i < 600; ++i) a += "line " + std::to_string(i) + "\n";
    for (int i = 0; i < 300; ++i) b += "row " + std::to_string(i) + "\n";
    return {{"a.txt", a}, {"b.txt", b}};
}

class UnpackRun : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    }
    TempDir td;
};

}  // namespace

TEST_F(UnpackRun, BindFolderIsNamedAfterTheArchive) {
    const std::string zip = MakeThreeFileZip(td, "pics.2005.zip");
    TEngineRun run;
    run.Run({zip});
    EXPECT_TRUE(run.host.files.empty());
    EXPECT_EQ(ReadFile(td / "pics/c.txt"), "ccc");
    const std::vector<std::string> expected{
        " ",
        ">>>> [ " + Quoted(zip) + " ]  --",
        "> [ 最上位要素カウント ]\t3コ",
        "> [ バインド起動 ] まとめフォルダ新規作成 \"pics\"",
        "> [ 書庫テスト開始 ]",
        "> [ 書庫テスト ]\t テスト通過",
        "> [ 解凍 ]\t" + Quoted(td / "pics") + " へ解凍しました。",
    };
    EXPECT_EQ(run.host.texts, expected);
    EXPECT_EQ(run.host.lines.front(), " 1|  ");
}

// A password longer than the module's buffer is refused with a notice and asked for again; it used to
// be cut short silently and taken for a wrong one.
TEST_F(UnpackRun, APasswordTooLongIsSaidSoAndAskedAgain) {
    fs::create_directories(td / "src");
    WriteFile(td / "src/secret.txt", "himitsu");
    const std::string password(200, 'p');
    ASSERT_EQ(RunTool({"zip", "-q", "-P", password, td / "long.zip", "secret.txt"}, td / "src").exitCode, 0);
    TEngineRun run;
    run.settings.PreTestArc = false;
    run.host.passwords = {std::string(300, 'p'), password};
    run.Run({td / "long.zip"});
    EXPECT_EQ(ReadFile(td / "secret.txt"), "himitsu");
    ASSERT_EQ(run.host.notices.size(), 1u);
    EXPECT_NE(run.host.notices[0].find("パスワードが長すぎます（255 バイトまで）。"), std::string::npos);
    EXPECT_TRUE(run.host.passwords.empty());
}

TEST_F(UnpackRun, SameNameBindFolderIsMovedAsideOrReused) {
    const std::string zip = MakeThreeFileZip(td, "pics.2005.zip");
    WriteFile(td / "pics/old.txt", "old");
    fs::create_directory(td / "pics_old1");  // taken: the next number is used
    {
        TEngineRun run;
        run.Run({zip});
        EXPECT_TRUE(run.host.HasLine("> [ 同名のまとめフォルダが存在 ]"));
        EXPECT_TRUE(run.host.HasLine("> [ リネーム成功 ] " + Quoted(td / "pics") + "->" + Quoted(td / "pics_old2")));
        EXPECT_TRUE(run.host.HasLine("> [ バインド起動 ]\tまとめフォルダ新規作成 \"pics\""));
        EXPECT_EQ(ReadFile(td / "pics_old2/old.txt"), "old");
        EXPECT_EQ(ReadFile(td / "pics/a.txt"), "a");
        EXPECT_FALSE(Exists(td / "pics/old.txt"));
    }
    {
        // SameFolderProc 1: the archive goes into the existing folder, nothing is moved.
        WriteFile(td / "pics/mine.txt", "mine");
        fs::remove(td / "pics/a.txt");
        TEngineRun run;
        run.settings.SameFolderProc = TSameFolderProc::Replace;
        run.Run({zip});
        EXPECT_TRUE(run.host.HasLine("> [ 同名のまとめフォルダが存在 ]"));
        EXPECT_EQ(ReadFile(td / "pics/mine.txt"), "mine");
        EXPECT_EQ(ReadFile(td / "pics/a.txt"), "a");
        EXPECT_FALSE(Exists(td / "pics_old3"));
        EXPECT_TRUE(run.host.HasLine("> [ 解凍 ]\t" + Quoted(td / "pics") + " へ解凍しました。"));
    }
}

TEST_F(UnpackRun, SingleFolderIsRenamedByTheTailCut) {
    const std::string zip = MakeFolderZip(td, "data1.zip", "data1");
    {
        TEngineRun run;
        run.settings.DelFolderNum = true;
        run.Run({zip});
        EXPECT_TRUE(run.host.HasLine("> [ 最上位要素カウント ]\t1コ"));
        EXPECT_TRUE(run.host.HasLine("> [ リネーム成功 ] " + Quoted(td / "data1") + "->" + Quoted(td / "data")));
        EXPECT_EQ(ReadFile(td / "data/x.txt"), "x in data1");
        EXPECT_FALSE(Exists(td / "data1"));
    }
    {
        // An existing data is kept as data_old1.
        WriteFile(td / "data/x.txt", "earlier");
        fs::remove_all(td / "data_old1");
        TEngineRun run;
        run.settings.DelFolderNum = true;
        run.settings.OverWrite = TOverWrite::Overwrite;
        run.Run({zip});
        EXPECT_EQ(ReadFile(td / "data_old1/x.txt"), "earlier");
        EXPECT_EQ(ReadFile(td / "data/x.txt"), "x in data1");
    }
    {
        // SameFolderProc 1: the old one is deleted afterwards.
        fs::remove_all(td / "data_old1");
        TEngineRun run;
        run.settings.DelFolderNum = true;
        run.settings.SameFolderProc = TSameFolderProc::Replace;
        run.Run({zip});
        EXPECT_TRUE(run.host.HasLine("> [ 削除成功 ] " + Quoted(td / "data_old1")));
        EXPECT_FALSE(Exists(td / "data_old1"));
        EXPECT_EQ(ReadFile(td / "data/x.txt"), "x in data1");
    }
    {
        // Without the tail cut the folder keeps its name.
        TEngineRun run;
        run.Run({zip});
        EXPECT_TRUE(Exists(td / "data1/x.txt"));
    }
    {
        // A single top file is no folder: its name stays, tail and all.
        WriteFile(td / "srcm/memo2", "memo");
        ASSERT_TRUE(MakeZip(td / "memo.zip", td / "srcm", {"memo2"}));
        TEngineRun run;
        run.settings.DelFolderNum = true;
        run.Run({td / "memo.zip"});
        EXPECT_EQ(ReadFile(td / "memo2"), "memo");
        EXPECT_FALSE(Exists(td / "memo"));
        for (const auto& t : run.host.texts) EXPECT_EQ(t.rfind("> [ リネーム", 0), std::string::npos) << t;
    }
}

TEST_F(UnpackRun, SplitRarSetsAndAfterProcessing) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    setenv("XDG_DATA_HOME", (td / "xdg").c_str(), 1);
    for (const TAfterMethod method :
         {TAfterMethod::Nothing, TAfterMethod::Delete, TAfterMethod::Trash, TAfterMethod::Move}) {
        SCOPED_TRACE(static_cast<int>(method));
        TempDir work;
        const auto volumes = WriteRar(work.path(), "x", TwoRarEntries(), 2);
        // A neighbouring set whose name starts the same way is never taken for part of this one.
        const auto other = WriteRar(work.path(), "xx", TwoRarEntries(), 2);
        TEngineRun run;
        run.settings.AfterMethod = method;
        run.settings.MoveFolder = ToAnsi(work / "keep");
        run.Run({volumes[0], volumes[1]});

        EXPECT_TRUE(run.host.HasLine("> [ 分割圧縮ファイル検出 ]： "));
        EXPECT_TRUE(run.host.HasLine("> " + volumes[0]));
        EXPECT_TRUE(run.host.HasLine("> " + volumes[1]));
        EXPECT_FALSE(run.host.HasLine("> " + other[0]));
        EXPECT_TRUE(run.host.HasLine("> [ 分割書庫 テスト ]\t テスト通過 - " + volumes[1]));
        EXPECT_EQ(ReadFile(work / "x/b.txt"), TwoRarEntries()[1].data);
        for (const auto& v : other) EXPECT_TRUE(Exists(v));

        switch (method) {
            case TAfterMethod::Nothing:
                // The later volume stays in the list, skipped with its line.
                EXPECT_TRUE(run.host.HasLine("> [非先頭分割ファイル]：先頭以外の分割ファイルは無視されます。"));
                EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{volumes[1]});
                for (const auto& v : volumes) EXPECT_TRUE(Exists(v));
                break;
            case TAfterMethod::Delete:
                for (const auto& v : volumes) {
                    EXPECT_TRUE(run.host.HasLine("> [ 削除 ] 書庫を削除しました。" + v));
                    EXPECT_FALSE(Exists(v));
                }
                EXPECT_TRUE(run.host.HasLine("> [ 前段階エラー]： ファイルが存在しません"));
                break;
            case TAfterMethod::Trash:
                for (const auto& v : volumes) EXPECT_FALSE(Exists(v));
                EXPECT_TRUE(Exists(td / "xdg/Trash/files/x.part1.rar"));
                EXPECT_TRUE(Exists(td / "xdg/Trash/files/x.part2.rar"));
                EXPECT_TRUE(run.host.HasLine("> [ ごみ箱 ] 書庫をごみ箱へ移しました。"));
                break;
            case TAfterMethod::Move:
                EXPECT_TRUE(Exists(work / "keep/x.part1.rar"));
                EXPECT_TRUE(Exists(work / "keep/x.part2.rar"));
                EXPECT_TRUE(run.host.HasLine("> [ 移動 ] 書庫を移動しました。=>移動先:" + Quoted(work / "keep")));
                ASSERT_EQ(run.host.remembered.size(), 1u);  // the new move folder enters its drop-down
                break;
        }
    }
    unsetenv("XDG_DATA_HOME");
}

TEST_F(UnpackRun, OldStyleSplitSetIsDisposedOfWhole) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    const auto volumes = WriteRar(td.path(), "o", TwoRarEntries(), 3, RarNaming::OldStyle);
    ASSERT_EQ(volumes.size(), 3u);  // o.rar, o.r00, o.r01
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.Run({volumes[0]});
    EXPECT_EQ(ReadFile(td / "o/a.txt"), TwoRarEntries()[0].data);
    EXPECT_TRUE(run.host.HasLine("> " + volumes[1]));
    EXPECT_TRUE(run.host.HasLine("> " + volumes[2]));
    for (const auto& v : volumes) EXPECT_FALSE(Exists(v)) << v;
}

// A file named as a volume past a missing one, before the first, or with its number written wider
// than the first volume writes its own, is another archive: the module never reads it, so it is not
// listed, tested or disposed of with the set, in either naming style.
TEST_F(UnpackRun, AFileNumberedOutsideTheSetIsNotPartOfIt) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    const auto numbered = WriteRar(td.path(), "x", TwoRarEntries(), 2);
    const auto oldStyle = WriteRar(td.path(), "o", TwoRarEntries(), 3, RarNaming::OldStyle);
    const std::string stray = BuildRar4({{"z.txt", "another archive"}}).at(0);
    const std::vector<std::string> strays{td / "x.part4.rar", td / "x.part0.rar", td / "x.part02.rar", td / "o.r03"};
    for (const std::string& s : strays) WriteFile(s, stray);
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.Run({numbered[0], oldStyle[0]});
    EXPECT_EQ(ReadFile(td / "x/b.txt"), TwoRarEntries()[1].data);
    EXPECT_EQ(ReadFile(td / "o/b.txt"), TwoRarEntries()[1].data);
    for (const auto& v : numbered) EXPECT_FALSE(Exists(v)) << v;
    for (const auto& v : oldStyle) EXPECT_FALSE(Exists(v)) << v;
    for (const std::string& s : strays) {
        EXPECT_EQ(ReadFile(s), stray) << s;
        EXPECT_FALSE(run.host.HasLine("> " + s)) << s;
    }
}

// A set missing a volume before one that is there fails naming the missing volume, in either naming
// style, and keeps every volume; a set read whole says nothing of a stray numbered past it.
TEST_F(UnpackRun, AVolumeMissingBeforeALaterOneIsNamed) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    const auto numbered = WriteRar(td.path(), "x", TwoRarEntries(), 4);
    const auto oldStyle = WriteRar(td.path(), "o", TwoRarEntries(), 4, RarNaming::OldStyle);
    ASSERT_GE(numbered.size(), 3u);
    ASSERT_GE(oldStyle.size(), 3u);
    fs::remove(numbered[1]);
    fs::remove(oldStyle[1]);
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.Run({numbered[0], oldStyle[0]});
    EXPECT_TRUE(run.host.HasLine("> 分割書庫が見つかりません: " + numbered[1]));
    EXPECT_TRUE(run.host.HasLine("> 分割書庫が見つかりません: " + oldStyle[1]));
    for (std::size_t i = 0; i < numbered.size(); ++i) EXPECT_EQ(Exists(numbered[i]), i != 1) << numbered[i];
    for (std::size_t i = 0; i < oldStyle.size(); ++i) EXPECT_EQ(Exists(oldStyle[i]), i != 1) << oldStyle[i];

    const auto whole = WriteRar(td.path(), "w", TwoRarEntries(), 2);
    WriteFile(td / "w.part9.rar", BuildRar4({{"z.txt", "another archive"}}).at(0));
    TEngineRun second;
    second.settings.AfterMethod = TAfterMethod::Delete;
    second.Run({whole[0]});
    EXPECT_EQ(ReadFile(td / "w/b.txt"), TwoRarEntries()[1].data);
    for (const std::string& text : second.host.texts) EXPECT_EQ(text.find("分割書庫が見つかりません"), std::string::npos) << text;
}

TEST_F(UnpackRun, SplitDetectionCanBeSwitchedOff) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    const auto volumes = WriteRar(td.path(), "x", TwoRarEntries(), 2);
    TEngineRun run;
    run.settings.CheckDiv = false;
    run.settings.PreTestArc = false;
    run.Run({volumes[1]});
    EXPECT_FALSE(run.host.HasLine("> [非先頭分割ファイル]：先頭以外の分割ファイルは無視されます。"));
    EXPECT_FALSE(run.host.HasLine("> [ 分割圧縮ファイル検出 ]： "));
}

TEST_F(UnpackRun, FailedExtractionLeavesNoResidueButKeepsWhatExisted) {
    {
        // A bind folder made for a failing archive is removed again; the archive stays listed.
        const std::string zip = MakeDamagedZip(td, "bad.zip", "");
        TEngineRun run;
        run.settings.PreTestArc = false;
        run.settings.AfterMethod = TAfterMethod::Delete;
        run.Run({zip});
        bool failureLine = false;
        for (const auto& t : run.host.texts) failureLine |= t.rfind("> [ 解凍失敗 ]\t情報=「", 0) == 0;
        EXPECT_TRUE(failureLine);
        EXPECT_TRUE(run.host.HasLine("> [ 残骸の削除 ] " + Quoted(td / "bad")));
        EXPECT_FALSE(Exists(td / "bad"));
        EXPECT_TRUE(Exists(zip));
        EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{zip});
    }
    {
        // A single top folder this archive made is residue.
        const std::string zip = MakeDamagedZip(td, "fresh.zip", "fresh");
        TEngineRun run;
        run.settings.PreTestArc = false;
        run.Run({zip});
        EXPECT_TRUE(run.host.HasLine("> [ 残骸の削除 ] " + Quoted(td / "fresh")));
        EXPECT_FALSE(Exists(td / "fresh"));
    }
    {
        // A single top folder that existed before is never deleted.
        const std::string zip = MakeDamagedZip(td, "keep.zip", "keep");
        WriteFile(td / "keep/mine.txt", "mine");
        TEngineRun run;
        run.settings.PreTestArc = false;
        run.settings.OverWrite = TOverWrite::Overwrite;
        run.Run({zip});
        EXPECT_EQ(ReadFile(td / "keep/mine.txt"), "mine");
        for (const auto& t : run.host.texts) EXPECT_EQ(t.rfind("> [ 残骸の削除 ]", 0), std::string::npos) << t;
    }
    {
        // A failed test after the bind folder was made: the cancel line, then the residue line.
        // The third local header is broken: the listing stops after two entries (a bind folder),
        // and the header test fails.
        WriteFile(td / "junk.zip", "PK\x03\x04" + std::string(200, '\0'));
        const std::string zip = MakeThreeFileZip(td, "tested.zip");
        std::string data = ReadFile(zip);
        const std::size_t second = data.find("PK\x03\x04", 4);
        const std::size_t third = data.find("PK\x03\x04", second + 4);
        ASSERT_NE(third, std::string::npos);
        data[third + 3] = '\x09';
        WriteFile(zip, data);
        TEngineRun run;
        run.Run({zip, td / "junk.zip"});
        EXPECT_TRUE(run.host.HasLine("> [ バインド起動 ] まとめフォルダ新規作成 \"tested\""));
        EXPECT_TRUE(run.host.HasLine("> [ 書庫テスト ]\t 不正な書庫です。"));
        EXPECT_TRUE(run.host.HasLine("> 後始末キャンセル"));
        EXPECT_TRUE(run.host.HasLine("> [ 残骸の削除 ] " + Quoted(td / "tested")));
        EXPECT_FALSE(Exists(td / "tested"));
        // Not an archive at all: the count fails and the entry stays.
        EXPECT_TRUE(run.host.HasLine("> [ エラー ] ファイル数の取得に失敗しました。書庫でない可能性があります。"));
        EXPECT_EQ(run.host.files.size(), 2u);
    }
}

TEST_F(UnpackRun, ResidueRemovalTakesOnlyWhatTheArchiveMade) {
    // A stored ZIP whose last entry is damaged, with cp932 names ("ソ" ends in the byte "\\") and a
    // nested folder: a.txt, 資料/ソ表.txt, deep/x/y.txt, z.txt (bad).
    const std::string folder = ToAnsi("資料"), file = ToAnsi("ソ表.txt");
    WriteFile(td / "srcr/a.txt", "a");
    WriteFile(td / ("srcr/" + folder + "/" + file), "hyou");
    WriteFile(td / "srcr/deep/x/y.txt", "y");
    WriteFile(td / "srcr/z.txt", std::string(5000, 'z'));
    ASSERT_TRUE(MakeZip(td / "mixed.zip", td / "srcr", {"a.txt", folder, "deep", "z.txt"}, /*stored=*/true));
    std::string bytes = ReadFile(td / "mixed.zip");
    bytes[bytes.find(std::string(5000, 'z')) + 2500] = 'X';
    WriteFile(td / "mixed.zip", bytes);
    const std::string mixed = td / "mixed";
    {
        // What another program puts in the bind folder meanwhile stays, beside and inside the
        // archive's own folders; everything the archive made goes.
        TEngineRun run;
        run.settings.PreTestArc = false;
        run.settings.AfterMethod = TAfterMethod::Delete;
        run.host.onLog = [&](const std::string& text) {
            if (text.rfind("> [ バインド起動 ]", 0) != 0) return;
            WriteFile(mixed + "/notes.txt", "mine");
            WriteFile(mixed + "/deep/x/mine.txt", "mine too");
            WriteFile(mixed + "/own/\"*\r\x1b.txt", "odd");
        };
        run.Run({td / "mixed.zip"});
        EXPECT_TRUE(run.host.HasLine("> [ 後始末エラー ] 残骸のフォルダに書庫にないファイルがあるため、それらを残しました。" +
                                     Quoted(mixed)));
        EXPECT_EQ(ReadFile(mixed + "/notes.txt"), "mine");
        EXPECT_EQ(ReadFile(mixed + "/deep/x/mine.txt"), "mine too");
        EXPECT_EQ(ReadFile(mixed + "/own/\"*\r\x1b.txt"), "odd");
        std::vector<std::string> left;
        for (const auto& e : fs::recursive_directory_iterator(mixed)) left.push_back(e.path().lexically_relative(mixed));
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"deep", "deep/x", "deep/x/mine.txt", "notes.txt", "own",
                                                  "own/\"*\r\x1b.txt"}));
        EXPECT_TRUE(Exists(td / "mixed.zip"));
        fs::remove_all(mixed);
    }
    {
        // Every file in the folder itself (folders ignored): all of it is the archive's and goes.
        TEngineRun run;
        run.settings.PreTestArc = false;
        run.settings.IgnoreDirectory = true;
        run.Run({td / "mixed.zip"});
        EXPECT_TRUE(run.host.HasLine("> [ 残骸の削除 ] " + Quoted(mixed)));
        EXPECT_FALSE(Exists(mixed));
    }
    {
        // An archive that is gone by then cannot tell its files from another's: the folder stays
        // with all it holds, and the log says it could not all be removed.
        TEngineRun run;
        run.settings.PreTestArc = false;
        run.host.onLog = [&](const std::string& text) {
            if (text.rfind("> [ 解凍失敗 ]", 0) == 0) fs::rename(td / "mixed.zip", td / "moved.zip");
        };
        run.Run({td / "mixed.zip"});
        EXPECT_TRUE(run.host.HasLine("> [ 後始末エラー ] 残骸を削除しきれませんでした。" + Quoted(mixed)));
        EXPECT_EQ(ReadFile(mixed + "/a.txt"), "a");
        EXPECT_EQ(ReadFile(mixed + "/資料/ソ表.txt"), "hyou");
    }
}

TEST_F(UnpackRun, PathQuestionsAnsweredYesAndNo) {
    if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    const std::string danger = MakeZipWithEntryNames(td, "danger.zip", {{"Windows/System32/x.dll", "dll"}});
    const std::string absolute = MakeZipWithEntryNames(td, "abs.zip", {{"C:/temp/x.txt", "abs"}});
    {
        TEngineRun run;
        run.host.answer = false;
        run.Run({danger, absolute});
        EXPECT_TRUE(run.host.HasLine("> [ 中断 ] 危険パスによる中断"));
        EXPECT_TRUE(run.host.HasLine("> [ 中断 ] 絶対パス展開抑制による中断"));
        ASSERT_EQ(run.host.questions.size(), 2u);
        EXPECT_EQ(run.host.questions[0], "確認: \"" + danger +
                                             "\r内のファイルに(StartUp,System,スタートアップなど) のパス情報が含まれています。\r"
                                             "\"Windows/System32/x.dll\"\r 続行しますか？");
        EXPECT_EQ(run.host.questions[1],
                  "確認: \"" + absolute + "\r\"には絶対パスによる展開が含まれています。\r\"C:/temp/x.txt\"\r続行しますか？");
        EXPECT_EQ(run.host.files.size(), 2u);  // both stay, untouched
        EXPECT_FALSE(Exists(td / "Windows"));
        EXPECT_FALSE(Exists(td / "temp"));
    }
    {
        TEngineRun run;
        run.host.answer = true;
        run.Run({danger, absolute});
        EXPECT_EQ(ReadFile(td / "Windows/System32/x.dll"), "dll");
        // The drive letter is dropped: nothing is written outside the destination.
        EXPECT_EQ(ReadFile(td / "temp/x.txt"), "abs");
        EXPECT_TRUE(run.host.files.empty());
    }
    {
        // Each qualifying entry asks again; with both checks off nothing is asked.
        const std::string three = MakeZipWithEntryNames(
            td, "three.zip", {{"system/a", "1"}, {"system/b", "2"}, {"startup/c", "3"}});
        TEngineRun run;
        run.host.answer = true;
        run.Run({three});
        EXPECT_EQ(run.host.questions.size(), 3u);
        TEngineRun quiet;
        quiet.settings.CheckDangerPath = false;
        quiet.settings.AlertAbsExpand = false;
        quiet.settings.OverWrite = TOverWrite::Overwrite;
        quiet.Run({three, danger});
        EXPECT_TRUE(quiet.host.questions.empty());
    }
}

TEST_F(UnpackRun, BreakBetweenArchives) {
    const std::string first = MakeFolderZip(td, "first.zip", "one");
    const std::string second = MakeFolderZip(td, "second.zip", "two");
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.host.onLog = [&](const std::string& text) {
        if (text.rfind("> [ 解凍 ]", 0) == 0) run.Break();
    };
    run.Run({first, second});
    EXPECT_FALSE(Exists(first));            // extracted and disposed of before the break
    EXPECT_TRUE(Exists(td / "one/x.txt"));  // what it made is no residue
    EXPECT_TRUE(Exists(second));            // neither extracted nor disposed of
    EXPECT_FALSE(Exists(td / "two"));
    EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{second});
    EXPECT_TRUE(run.host.HasLine("> 後始末キャンセル"));
    EXPECT_TRUE(run.host.HasLine("> [ 強制中断 ] 中断されました。"));
}

TEST_F(UnpackRun, BreakDuringExtraction) {
    std::string big;
    for (long long i = 0; big.size() < (4u << 20); ++i) big += std::to_string(i * 7919) + "\n";
    WriteFile(td / "srcb/big/data.bin", big);
    WriteFile(td / "srcb/big/small.txt", "s");
    ASSERT_TRUE(MakeZip(td / "big.zip", td / "srcb", {"big"}, /*stored=*/true));
    const std::string next = MakeFolderZip(td, "next.zip", "next");
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.host.onProgress = [&](int) {
        if (!run.worker->BreakFlag()) run.Break();
    };
    run.Run({td / "big.zip", next});
    EXPECT_TRUE(run.host.HasLine("> 後始末キャンセル"));
    EXPECT_TRUE(run.host.HasLine("> [ 強制中断 ] 中断されました。"));
    EXPECT_TRUE(run.host.HasLine("> [ 残骸の削除 ] " + Quoted(td / "big")));
    EXPECT_FALSE(Exists(td / "big"));
    EXPECT_TRUE(Exists(td / "big.zip"));
    EXPECT_TRUE(Exists(next));
    EXPECT_FALSE(Exists(td / "next"));
    EXPECT_EQ(run.host.files.size(), 2u);
}

TEST_F(UnpackRun, FolderEntriesAreExpandedIntoTheirFiles) {
    const std::string a = MakeFolderZip(td, "in/a.zip", "fa");
    MakeFolderZip(td, "in/sub/b.zip", "fb");
    MakeFolderZip(td, "in/sub/deeper/c.zip", "fc");
    WriteFile(td / "in/notes.txt", "not an archive");
    fs::create_directories(td / "empty");
    const std::string last = MakeFolderZip(td, "last.zip", "fl");
    TEngineRun run;
    run.Run({td / "in", td / "empty", last});
    EXPECT_TRUE(Exists(td / "in/fa/x.txt"));
    EXPECT_TRUE(Exists(td / "in/sub/fb/x.txt"));
    EXPECT_TRUE(Exists(td / "in/sub/deeper/fc/x.txt"));
    EXPECT_TRUE(Exists(td / "fl/x.txt"));
    EXPECT_TRUE(run.host.HasLine("> [ 前段階エラー ]： 扱えない形式の拡張子"));
    EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{td / "in/notes.txt"});
}

TEST_F(UnpackRun, EmptyListAndUnusableDestination) {
    {
        TEngineRun run;
        run.Run({});
        EXPECT_TRUE(run.host.lines.empty());
    }
    const std::string zip = MakeFolderZip(td, "a.zip", "fa");
    {
        TEngineRun run;
        run.settings.PutLocation = TPutLocation::SpecialFolder;
        run.Run({zip});
        EXPECT_EQ(run.host.notices, std::vector<std::string>{"フォルダ: フォルダ(解凍先)が指定されていません"});
        EXPECT_EQ(run.host.texts, std::vector<std::string>{"[ 全体キャンセル ] 解凍先フォルダ "});
        EXPECT_EQ(run.host.files.size(), 1u);
    }
    {
        // A missing chosen folder is made (one level) and enters the destination drop-down.
        TEngineRun run;
        run.settings.PutLocation = TPutLocation::SpecialFolder;
        run.settings.SpecialFolder = ToAnsi(td / "out");
        run.Run({zip});
        EXPECT_TRUE(Exists(td / "out/fa/x.txt"));
        EXPECT_EQ(run.host.remembered.size(), 1u);
        EXPECT_TRUE(run.host.HasLine("> [ 解凍 ]\t" + Quoted(td / "out/") + " へ解凍しました。"));
    }
}

TEST_F(UnpackRun, OnlyTheFailedArchiveStaysListed) {
    const std::string a = MakeFolderZip(td, "a.zip", "fa");
    WriteFile(td / "b.zip", "this is no archive");
    const std::string c = MakeFolderZip(td, "c.zip", "fc");
    TEngineRun run;
    run.Run({a, td / "b.zip", c});
    EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{td / "b.zip"});
    EXPECT_TRUE(Exists(td / "fc/x.txt"));
}

TEST_F(UnpackRun, JapaneseNamesFromCp932Archives) {
    // Info-ZIP stores names as the bytes it is given: cp932 bytes make a cp932 archive.
    const std::string folder = FromAnsi(ToAnsi("名簿"));
    const std::string cpFolder = ToAnsi("名簿"), cpFile = ToAnsi("ソフト一覧.txt");
    WriteFile(td / ("srcj/" + cpFolder + "/" + cpFile), "list");
    ASSERT_TRUE(MakeZip(td / "meibo.zip", td / "srcj", {cpFolder}));
    TEngineRun run;
    run.Run({td / "meibo.zip"});
    EXPECT_EQ(ReadFile(td / "名簿/ソフト一覧.txt"), "list");
    EXPECT_TRUE(run.host.files.empty());
}

TEST_F(UnpackRun, AModuleCopiedIntoTheFolderIsFoundByTheNextArchive) {
    // A module folder of the test's own beside the real one (the modules find their libraries two
    // levels up), with UNZIP32 only. LMZIP32 comes in during the first archive, after the binding
    // has looked for it; the second archive finds it.
    const std::string real = FromAnsi(ModuleFolder());
    const std::string folder = real + "/../glance-test-" + std::to_string(getpid());
    fs::create_directories(folder);
    struct TRestore {
        std::string folder;
        ~TRestore() {
            FreeArchiverDlls();
            SetModuleFolder("");
            fs::remove_all(folder);
        }
    } restore{folder};
    fs::copy_file(real + "/unzip32.so", folder + "/unzip32.so");
    FreeArchiverDlls();
    SetModuleFolder(ToAnsi(folder));

    const std::string a = MakeFolderZip(td, "a.zip", "fa");
    const std::string b = MakeFolderZip(td, "b.zip", "fb");
    TEngineRun run;
    bool copied = false;
    run.host.onLog = [&](const std::string& text) {
        if (copied || text.rfind("> [ 最上位要素カウント ]", 0) != 0) return;
        copied = true;
        fs::copy_file(real + "/unzip32.so", folder + "/lmzip32.so");
    };
    run.Run({a, b});
    ASSERT_TRUE(copied);
    EXPECT_TRUE(Exists(td / "fa/x.txt"));
    EXPECT_TRUE(Exists(td / "fb/x.txt"));
    TZip32 zip;  // the binding the run used (it loads nothing more: it exists already)
    EXPECT_TRUE(zip.ZipDll()->IsLoaded(TZipDll::zmLmzip32));
}

// An archive that cannot be deleted, trashed or moved says why: what took its place, or that it is
// gone, while it was extracted. Whatever holds its name then is left alone.
TEST_F(UnpackRun, AnArchiveThatCannotBeDisposedOfSaysWhy) {
    setenv("XDG_DATA_HOME", (td / "xdg").c_str(), 1);
    struct Case {
        const char* what;
        std::function<void(const std::string& zip)> meddle;
        const char* reason;
    };
    const Case cases[] = {
        {"replaced",
         [](const std::string& zip) {
             WriteFile(zip + ".new", "another file");
             fs::rename(zip + ".new", zip);
         },
         "解凍中に書庫が別のファイルに置き換えられました"},
        {"a folder in its place",
         [](const std::string& zip) {
             fs::remove(zip);
             fs::create_directory(zip);
         },
         "解凍中に書庫が別のファイルに置き換えられました"},
        {"removed", [](const std::string& zip) { fs::remove(zip); }, "解凍中に書庫が移動または削除されました"},
    };
    const std::pair<TAfterMethod, const char*> methods[] = {
        {TAfterMethod::Delete, "書庫を削除できませんでした。"},
        {TAfterMethod::Trash, "書庫をごみ箱へ移せませんでした。"},
        {TAfterMethod::Move, "書庫を移動できませんでした。"},
    };
    for (const auto& [method, failed] : methods) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(failed) + " " + c.what);
            TempDir work;
            const std::string zip = MakeThreeFileZip(work, "a.zip");
            TEngineRun run;
            run.settings.AfterMethod = method;
            run.settings.MoveFolder = ToAnsi(work / "moved");
            run.host.onLog = [&](const std::string& text) {
                if (text.rfind("> [ 解凍 ]", 0) == 0) c.meddle(zip);
            };
            run.Run({zip});
            EXPECT_EQ(ReadFile(work / "a/c.txt"), "ccc");
            EXPECT_TRUE(run.host.HasLine(std::string("> [ 後始末エラー ] ") + failed + " (" + c.reason + ")"));
            if (fs::is_regular_file(zip)) {
                EXPECT_EQ(ReadFile(zip), "another file");
            }
            EXPECT_FALSE(fs::exists(work / "moved/a.zip"));
        }
    }
    // A move folder that holds the name already keeps what it holds, and the archive stays.
    TempDir work;
    const std::string zip = MakeThreeFileZip(work, "a.zip");
    WriteFile(work / "moved/a.zip", "mine");
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Move;
    run.settings.MoveFolder = ToAnsi(work / "moved");
    run.Run({zip});
    EXPECT_TRUE(run.host.HasLine("> [ 後始末エラー ] 書庫を移動できませんでした。 (移動先に同じ名前のものがあります)"));
    EXPECT_EQ(ReadFile(work / "moved/a.zip"), "mine");
    EXPECT_TRUE(fs::exists(zip));
    unsetenv("XDG_DATA_HOME");
}
