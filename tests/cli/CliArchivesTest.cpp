// norvex-cli on archives that test the engine's rules about names and folders: split sets whatever
// their case, the folder that holds the archives, ":" in names, missing modules, the order of a
// dropped folder, what the top-level count counts, "\" in host paths and folder settings that
// came over from Windows.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/CliSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/RarFixture.h"
#include "tests/support/LzhEntries.h"
#include "tests/support/RunTool.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

class CliArchives : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
        WriteFile(td / "empty.ini", "");
    }
    // A ZIP at zipPath (relative to td) of the files named, each holding its own name.
    std::string Zip(const std::string& zipPath, const std::vector<std::string>& names) {
        const std::string src = td / ("src-" + std::to_string(++zips_));
        for (const auto& n : names) WriteFile(src + "/" + n, n);
        fs::create_directories(fs::path(td / zipPath).parent_path());
        EXPECT_TRUE(MakeZip(td / zipPath, src, names));
        return td / zipPath;
    }
    TempDir td;

private:
    int zips_ = 0;
};

}  // namespace

TEST_F(CliArchives, SplitSetsAreFoundWhateverTheCaseAndDisposedOfWhole) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    struct Case {
        RarNaming naming;
        std::vector<std::string> names;  // the volumes renamed, in order
    };
    const Case cases[] = {
        {RarNaming::NewStyle, {"UP.PART1.RAR", "UP.PART2.RAR", "UP.PART3.RAR"}},
        {RarNaming::NewStyle, {"Up.Part01.Rar", "Up.Part02.Rar", "Up.Part03.Rar"}},
        {RarNaming::OldStyle, {"OLD.RAR", "OLD.R00", "OLD.R01"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / "empty.ini", "");
        fs::create_directories(dir / "in");
        const auto written = WriteRar(dir / "in", "set", {{"a.txt", std::string(5000, 'a')}, {"b.txt", "b"}}, 3, c.naming);
        std::vector<std::string> volumes;
        for (std::size_t i = 0; i < written.size(); ++i) {
            volumes.push_back(dir / ("in/" + c.names[i]));
            fs::rename(written[i], volumes.back());
        }
        // Another set whose base only starts the same is never collected.
        const auto other = WriteRar(dir / "in", "UPX", {{"x.txt", std::string(3000, 'x')}}, 2);
        const std::string shown = c.names[0];
        const std::string base = shown.substr(0, shown.find('.'));
        if (c.naming == RarNaming::NewStyle) {
            // A later volume alone is skipped as one.
            const CliResult later = RunCli(dir, {"--ini", dir / "empty.ini", "--to", dir / "out", "-k", volumes[1]});
            EXPECT_EQ(later.exitCode, 1) << shown;
            EXPECT_TRUE(HasText(later.out, "> [非先頭分割ファイル]：先頭以外の分割ファイルは無視されます。")) << shown;
            EXPECT_FALSE(fs::exists(dir / ("out/" + base))) << shown;
        }
        // Every volume listed, the later ones too (as a folder drop lists them): the set is
        // extracted once and every volume is deleted with it.
        std::vector<std::string> args = {"--ini", dir / "empty.ini", "--to", dir / "out", "-d", "--confirm-delete", "yes"};
        args.insert(args.end(), volumes.begin(), volumes.end());
        const CliResult r = RunCli(dir, args);
        EXPECT_EQ(r.exitCode, 0) << shown << "\n" << r.err;
        EXPECT_TRUE(ReadFile(dir / ("out/" + base + "/a.txt")) == std::string(5000, 'a')) << shown;
        EXPECT_TRUE(HasText(r.out, "> [ 分割圧縮ファイル検出 ]： ")) << shown;
        for (const auto& v : volumes) {
            EXPECT_FALSE(fs::exists(v)) << shown << ": " << v << " was not disposed of";
            EXPECT_TRUE(HasText(r.out, "> [ 削除 ] 書庫を削除しました。" + v)) << shown;
        }
        for (const auto& v : other) EXPECT_TRUE(fs::exists(v)) << shown;
    }
}

TEST_F(CliArchives, TheFolderHoldingListedArchivesIsNeverMovedAside) {
    const std::string photos = Zip("dest/photos/photos.zip", {"1.jpg", "2.jpg", "3.jpg"});
    const std::string later = Zip("dest/photos/later.zip", {"x.txt", "y.txt"});
    WriteFile(td / "dest/photos/mine.txt", "mine");
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "dest", photos, later});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The archives and the folder stay; the bind folder is a fresh one beside it.
    EXPECT_TRUE(fs::exists(photos));
    EXPECT_TRUE(fs::exists(later));
    EXPECT_EQ(ReadFile(td / "dest/photos/mine.txt"), "mine");
    EXPECT_FALSE(fs::exists(td / "dest/photos_old1"));
    EXPECT_EQ(ReadFile(td / "dest/photos_new1/1.jpg"), "1.jpg");
    EXPECT_EQ(ReadFile(td / "dest/later/x.txt"), "x.txt");
    EXPECT_TRUE(HasTextContaining(r.out, "\"photos_new1\" へ解凍します")) << r.out.size();

    // A folder of that name that holds no listed archive is still moved aside as before.
    const std::string other = Zip("elsewhere/photos.zip", {"1.jpg", "2.jpg"});
    const CliResult again = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "dest", other});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(fs::exists(td / "dest/photos_old1/photos.zip"));
}

TEST_F(CliArchives, OnlyLeadingSeparatorsAndDriveLettersAreAbsolute) {
    // "--answer no": an archive that asked the absolute-path question would be skipped.
    const std::string meeting = Zip("in/meeting.zip", {"会議 12:30.txt", "議事録:草稿.txt"});
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", meeting});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("絶対パス"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(td / "out/meeting/会議 12:30.txt"), "会議 12:30.txt");

    if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    // Entries "/a/x.txt" and "/b/y.txt": asked about, and with "no" the archive is skipped.
    WriteFile(td / "abs/a/x.txt", "x");
    WriteFile(td / "abs/b/y.txt", "y");
    fs::create_directories(td / "in");
    ASSERT_EQ(RunTool({"bsdtar", "-c", "-P", "--format", "zip", "-f", td / "in/abs.zip", "-s", ",^abs/,/,", "abs/a/x.txt",
                       "abs/b/y.txt"},
                      td.path())
                  .exitCode,
              0);
    const CliResult no = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out2", td / "in/abs.zip"});
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_TRUE(HasText(no.out, "> [ 中断 ] 絶対パス展開抑制による中断"));
    EXPECT_FALSE(fs::exists(td / "out2/abs"));
}

TEST_F(CliArchives, TheTopLevelCountCountsWhatLands) {
    if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    // "/a/x.txt" and "/b/y.txt" land as a/x.txt and b/y.txt: two top elements, so a bind folder.
    WriteFile(td / "abs/a/x.txt", "x");
    WriteFile(td / "abs/b/y.txt", "y");
    fs::create_directories(td / "in");
    ASSERT_EQ(RunTool({"bsdtar", "-c", "-P", "--format", "zip", "-f", td / "in/two.zip", "-s", ",^abs/,/,", "abs/a/x.txt",
                       "abs/b/y.txt"},
                      td.path())
                  .exitCode,
              0);
    // "/etc/x.txt" alone lands as etc/x.txt: one top element "etc", no bind folder.
    WriteFile(td / "abs/etc/x.txt", "etc");
    ASSERT_EQ(RunTool({"bsdtar", "-c", "-P", "--format", "zip", "-f", td / "in/one.zip", "-s", ",^abs/,/,", "abs/etc/x.txt"},
                      td.path())
                  .exitCode,
              0);
    const CliResult r =
        RunCli(td, {"--ini", td / "empty.ini", "--answer", "yes", "--to", td / "out", td / "in/two.zip", td / "in/one.zip"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(td / "out/two/a/x.txt"), "x");
    EXPECT_EQ(ReadFile(td / "out/two/b/y.txt"), "y");
    EXPECT_EQ(ReadFile(td / "out/etc/x.txt"), "etc");
    const auto texts = LogTexts(r.out);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "> [ 最上位要素カウント ]\t2コ"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "> [ 最上位要素カウント ]\t1コ"), 1);
}

TEST_F(CliArchives, AMissingModuleIsSaidAsSuchWithTheLinuxRemedy) {
    // The program in a tree of its own without modules: bin/norvex-cli, lib/norvex/lib with the codec only.
    const std::string zip = Zip("in/a.zip", {"a.txt"});
    fs::create_directories(td / "tree/bin");
    fs::create_directories(td / "tree/lib/norvex/lib");
    fs::copy_file(NORVEX_CLI_PATH, td / "tree/bin/norvex-cli");
    const fs::path codec = NORVEX_CODEC_PATH;
    fs::copy_file(codec, td / ("tree/lib/norvex/lib/" + codec.filename().string()));
    fs::create_symlink(codec.filename(), td / "tree/lib/norvex/lib/libnorvex_codec.so.0");
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", zip}, td / "tree/bin/norvex-cli");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(HasText(r.out, "> \"UNzip32.DLL\"の準備ができていません"));
    EXPECT_FALSE(HasTextContaining(r.out, "書庫でない可能性があります"));
    EXPECT_TRUE(HasText(r.out, "[ DLL ] \"ZIP\"\t「なし　パッケージ norvex を入れ直すか、unzip32.so を \"" +
                                   td / "tree/lib/norvex/modules" + "\" に置いてください」"));
}

TEST_F(CliArchives, LibrariesInTheCurrentFolderAreNeverLoaded) {
    // Whatever lies in the folder the program is started from is nobody's library: not the C++
    // runtime the program needs, nor what the modules need.
    const std::string zip = Zip("in/a.zip", {"a.txt"});
    for (const char* name : {"libstdc++.so.6", "libgcc_s.so.1", "libnorvex_codec.so.0", "liblhasa.so.0",
                             "libarchive.so.13", "libisal.so.2"})
        WriteFile(td / name, "not a library");
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-k", zip});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* kind : {"LHA", "ZIP", "CAB", "RAR", "TAR", "7Z"})
        EXPECT_TRUE(HasText(r.out, std::string("[ DLL ] \"") + kind + "\"\t「OK」")) << kind << "\n" << r.err;
    EXPECT_EQ(ReadFile(td / "out/a.txt"), "a.txt");
}

TEST_F(CliArchives, ADroppedFolderIsExpandedInNaturalOrderFilesAndFoldersInterleaved) {
    for (const char* name : {"drop/a10.zip", "drop/a2.zip", "drop/B/x.zip", "drop/b1.zip", "drop/b/y.zip", "drop/c/z.zip"})
        Zip(name, {"f.txt"});
    WriteFile(td / "drop/readme.txt", "not an archive");
    std::vector<std::string> orders[2];
    for (auto& order : orders) {
        const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-k", td / "drop"});
        for (const auto& text : LogTexts(r.out))
            if (text.rfind(">>>> [ ", 0) == 0) order.push_back(text.substr(text.find(td.path()) + td.path().size() + 1));
    }
    const std::vector<std::string> expected = {
        "drop/a2.zip\" ]  --", "drop/a10.zip\" ]  --", "drop/B/x.zip\" ]  --", "drop/b/y.zip\" ]  --",
        "drop/b1.zip\" ]  --", "drop/c/z.zip\" ]  --", "drop/readme.txt\" ]  --",
    };
    EXPECT_EQ(orders[0], expected);
    EXPECT_EQ(orders[1], orders[0]);
}

TEST_F(CliArchives, ABackslashInAHostPathIsPartOfAName) {
    const std::string zip = Zip("in/one.zip", {"a.txt"});
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "back\\", zip});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(td / "back\\/a.txt"), "a.txt");
    EXPECT_FALSE(fs::exists(td / "back"));
}

// A destination and an archive whose names hold "%src" and a format's marks: each line names them as
// they are; only the heading of the archive names the archive.
TEST_F(CliArchives, NamesThatLookLikePlaceholdersAreShownAsTheyAre) {
    const std::string zip = Zip("in/%src%s%d%%{0}.zip", {"a.txt"});
    const std::string out = td / "out%src%0:s";
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", out, zip});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(out + "/a.txt"), "a.txt");
    EXPECT_TRUE(HasText(r.out, ">>>> [ \"" + zip + "\" ]  --"));
    EXPECT_TRUE(HasText(r.out, "> [ 解凍 ]\t\"" + out + "/\" へ解凍しました。"));
}

// Entries the module refuses, whose names carry line breaks and what a log line looks like: each
// refusal stays one line with its breaks shown escaped; no name starts a numbered line of its own.
TEST_F(CliArchives, ARefusedNameNeverStartsALogLineOfItsOwn) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    const std::string lzh = td / "in/names.lzh";
    WriteFile(lzh, StoredLzhEntry("ok.txt", "ok") + StoredLzhEntry("../lf\n> [ ok ] lf", "x") +
                       StoredLzhEntry("../crlf\r\n>>>> [ crlf ]  --", "x") + StoredLzhEntry("../cr\r 99| cr", "x") + '\0');
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--answer", "yes", "--to", td / "out", lzh});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string refused = "> 危険なパスのため展開しません: ..\\";  // shown with the archive's separator
    EXPECT_TRUE(HasText(r.out, refused + "lf\\x0a> [ ok ] lf"));
    EXPECT_TRUE(HasText(r.out, refused + "crlf\\x0d\\x0a>>>> [ crlf ]  --"));
    EXPECT_TRUE(HasText(r.out, refused + "cr\\x0d 99| cr"));
    for (const std::string& text : LogTexts(r.out)) {
        EXPECT_NE(text.rfind("> [ ok ]", 0), 0u) << text;
        EXPECT_NE(text.rfind(">>>> [ crlf", 0), 0u) << text;
    }
    int lines = 0;
    for (const std::string& line : r.out) lines += line.find(" 99| ") != std::string::npos;
    EXPECT_EQ(lines, 1);
}

TEST_F(CliArchives, FolderSettingsFromWindowsOrRelativeAreRefused) {
    const std::string zip = Zip("in/a.zip", {"a.txt"});
    struct Case {
        const char* ini;
        const char* key;
        const char* value;
        const char* cancelLine;
    };
    const Case cases[] = {
        {"[Main]\nPutLocation=1\nSpecialFolder=C:\\Users\\me\\展開\n", "SpecialFolder", "C:\\Users\\me\\展開",
         "[ 全体キャンセル ] 解凍先フォルダ "},
        {"[Main]\nPutLocation=1\nSpecialFolder=展開\n", "SpecialFolder", "展開", "[ 全体キャンセル ] 解凍先フォルダ "},
        {"[Main]\nPutLocation=3\n[Favorite]\nFavorite1=~/out\n", "Favorite1", "~/out", "[ 全体キャンセル ] 解凍先フォルダ "},
        {"[Main]\nAfterMethod=3\nMoveFolder=D:\\keep\n", "MoveFolder", "D:\\keep", "[ キャンセル ] 移動先フォルダ "},
    };
    for (const Case& c : cases) {
        WriteFile(td / "s.ini", c.ini);
        const CliResult r = RunCli(td, {"--ini", td / "s.ini", zip});
        EXPECT_EQ(r.exitCode, 1) << c.key;
        EXPECT_NE(r.err.find(std::string("設定 ") + c.key + " = \"" + c.value + "\""), std::string::npos) << r.err;
        EXPECT_TRUE(HasText(r.out, c.cancelLine)) << c.key;
        EXPECT_FALSE(fs::exists(td / "a")) << c.key;
        EXPECT_FALSE(fs::exists(td / c.value)) << c.key << ": made in the current folder";
        EXPECT_TRUE(fs::exists(zip));
    }
    // A refused value that holds control characters is named with them escaped: it neither drives
    // the terminal nor lays out lines of its own.
    WriteFile(td / "s.ini", "[Main]\nPutLocation=1\nSpecialFolder=\"rel\\x1b[2J\\r\\n 9| x\"\n");
    const CliResult r = RunCli(td, {"--ini", td / "s.ini", zip});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("設定 SpecialFolder = \"rel\\x1b[2J\\x0d\\x0a 9| x\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(zip));
}

TEST_F(CliArchives, ARefusalNamesItsRealCause) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    const std::string longName(300, 'n');
    fs::create_directories(td / "in");
    const auto rar = WriteRar(td / "in", "long",
                              {{"ok.txt", "ok"}, {longName + ".txt", "too long"}, {longName + "/inside.txt", "x"}}, 1);
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", rar[0]});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    // The failed extraction's bind folder is residue and goes.
    EXPECT_FALSE(fs::exists(td / "out/long"));
    const std::string why = "> [ 展開できません ] 名前がファイルシステムの上限より長いため作れません: ";
    EXPECT_TRUE(HasText(r.out, why + longName + ".txt"));
    EXPECT_TRUE(HasText(r.out, why + longName + "/inside.txt"));
    EXPECT_FALSE(HasTextContaining(r.out, "置き換えられません"));
    EXPECT_FALSE(HasTextContaining(r.out, "フォルダを作成できません"));
    EXPECT_TRUE(HasTextContaining(r.out, "> [ 解凍失敗 ]"));
}

// Out of file descriptors (a low ulimit -n): said as such, in the refusal and in the failure line, not as a
// folder that cannot be made; the claimed folder goes and the archive stays.
TEST_F(CliArchives, RunningOutOfDescriptorsIsSaidAsSuch) {
#ifdef NORVEX_SANITIZED
    GTEST_SKIP() << "the sanitizers' own checks need descriptors";
#endif
    const std::string zip = Zip("in/few.zip", {"top/a.txt", "top/b.txt"});
    const CliResult low = RunCli(td, {"-c", "ulimit -n 10 && exec \"$0\" \"$@\"", NORVEX_CLI_PATH, "--ini", td / "empty.ini",
                                      "--to", td / "out", zip},
                                 "sh");
    EXPECT_EQ(low.exitCode, 1) << low.err;
    EXPECT_TRUE(HasTextContaining(low.out, "> [ 展開できません ] 同時に開けるファイルの数の上限に達しています: top/"));
    EXPECT_FALSE(HasTextContaining(low.out, "フォルダを作成できません"));
    EXPECT_TRUE(HasTextContaining(low.out, "> [ 解凍失敗 ]\t情報=「32785:\"ERROR_TOO_MANY_FILES\"」"));
    EXPECT_FALSE(HasTextContaining(low.out, "MAKEDIRECTORY"));
    EXPECT_TRUE(fs::exists(zip));
    EXPECT_FALSE(fs::exists(td / "out/top"));

    // A residue deeper than the descriptors left allow is named with the reason it stays.
    std::vector<std::string> names;
    std::string folder;
    for (int i = 0; i < 40; ++i) names.push_back((folder += "d" + std::to_string(i) + "/") + "f.txt");
    const std::string deep = Zip("in/deep.zip", names);
    int partial = 0;
    for (const char* limit : {"10", "11", "12"}) {
        fs::remove_all(td / "out");
        const CliResult r = RunCli(td, {"-c", std::string("ulimit -n ") + limit + " && exec \"$0\" \"$@\"", NORVEX_CLI_PATH,
                                        "--ini", td / "empty.ini", "--to", td / "out", deep},
                                   "sh");
        for (const std::string& text : LogTexts(r.out)) {
            if (text.find("残骸を削除しきれませんでした") == std::string::npos) continue;
            ++partial;
            EXPECT_EQ(text, "> [ 後始末エラー ] 残骸を削除しきれませんでした。\"" + td / "out/d0" +
                                "\" (同時に開けるファイルの数の上限に達しています)");
        }
    }
    EXPECT_GT(partial, 0) << "no limit left a residue";
}
