// The settings store on real files: defaults, the round trip of every key, files carried over from
// Windows in cp932, lenient reading of damaged files, and saves that never tear the old file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/AnsiCodec.h"
#include "platform/StandardFolders.h"
#include "settings/AtomicFile.h"
#include "settings/IniDocument.h"
#include "settings/uIniControl.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::literals;
using norvex::test::ReadFile;
using norvex::test::TempDir;
using norvex::test::WriteFile;
namespace fs = std::filesystem;

namespace {

// Every key that is both read and written: its place in the file, a change away from the default,
// and how the value shows (for comparisons and messages). Written here independently of the store.
struct KeyCase {
    const char* section;
    const char* key;
    std::function<void(SettingsBlock&)> change;
    std::function<std::string(const SettingsBlock&)> show;
};

template <class T>
std::string Show(const T& v) {
    if constexpr (std::is_same_v<T, AnsiString>) return "\"" + FromAnsi(v) + "\"";
    else return std::to_string(static_cast<long long>(v));
}

#define INT_KEY(sec, k, v) KeyCase{sec, #k, [](SettingsBlock& s) { s.k = v; }, [](const SettingsBlock& s) { return Show(s.k); }}
#define MRU_KEY(sec, key, arr, i, v) \
    KeyCase{sec, key, [](SettingsBlock& s) { s.arr[i] = v; }, [](const SettingsBlock& s) { return Show(s.arr[i]); }}

std::vector<KeyCase> AllKeys() {
    return {
        INT_KEY("App", WindowX, -37),
        INT_KEY("App", WindowY, 1234),
        INT_KEY("Main", PutLocation, TPutLocation::Desktop),
        INT_KEY("Main", AfterMethod, TAfterMethod::Move),
        INT_KEY("Main", OverWrite, TOverWrite::IfNewer),
        INT_KEY("Main", IgnoreDirectory, true),
        INT_KEY("Main", PreTestArc, false),
        INT_KEY("Main", PreTestMode, TPreTestMode::Simple),
        INT_KEY("Main", SpecialFolder, "/home/太郎/ソフト/展開先"_ansi),
        INT_KEY("Main", MoveFolder, "  spaces both ends\t"_ansi),
        INT_KEY("Main", FileSpec, "*.jpg *.jpeg *.gif *.png"_ansi),
        INT_KEY("Main", BuffMegaSize, 100),
        INT_KEY("Sub_Bind", BindFolder, false),
        INT_KEY("Sub_Bind", BindNum, 7),
        INT_KEY("Sub_Bind", SameFolderProc, TSameFolderProc::Replace),
        INT_KEY("Sub_Confirm", ConfirmIgnore, false),
        INT_KEY("Sub_Confirm", ConfirmSendTo, true),
        INT_KEY("Sub_Confirm", ConfirmDelete, false),
        INT_KEY("Sub_Confirm", ShowEndDlg, true),
        INT_KEY("Sub_Environment", ResistSendTo, true),
        INT_KEY("Sub_Environment", ResistShell, true),
        INT_KEY("Sub_Security", AlertAbsExpand, false),
        INT_KEY("Sub_Security", CheckDangerPath, false),
        INT_KEY("Sub_TailCut", DelFolderNum, true),
        INT_KEY("Sub_Other", IndicatePerFile, false),
        INT_KEY("Sub_Other", CmdHideWnd, false),
        INT_KEY("Sub_Other", CheckDiv, false),
        INT_KEY("Sub_Other", IgnoredSingleBind, false),
        INT_KEY("Sub_Other", ExtraFormats, false),
        INT_KEY("Sub_Other", ClearAll, false),
        INT_KEY("Sub", SpecialExt, true),
        MRU_KEY("MRU_SpecialFolder", "SpeciaFolder0", MRU_SpecialFolder, 0, "/mnt/表/a"_ansi),
        MRU_KEY("MRU_SpecialFolder", "SpeciaFolder1", MRU_SpecialFolder, 1, "\"quoted\""_ansi),
        MRU_KEY("MRU_SpecialFolder", "SpeciaFolder2", MRU_SpecialFolder, 2, "line\nbreak\\n"_ansi),
        MRU_KEY("MRU_SpecialFolder", "SpeciaFolder3", MRU_SpecialFolder, 3, "café"_ansi),  // not in cp932
        MRU_KEY("MRU_SpecialFolder", "SpeciaFolder4", MRU_SpecialFolder, 4, ToAnsi("raw\xFF\xFE")),
        MRU_KEY("MRU_SpecialFolder", "SpeciaFolder5", MRU_SpecialFolder, 5, "/last"_ansi),
        MRU_KEY("MRU_MoveFolder", "MoveFolder0", MRU_MoveFolder, 0, "/m0"_ansi),
        MRU_KEY("MRU_MoveFolder", "MoveFolder1", MRU_MoveFolder, 1, "/m1 = x"_ansi),
        MRU_KEY("MRU_MoveFolder", "MoveFolder2", MRU_MoveFolder, 2, "[not a section]"_ansi),
        MRU_KEY("MRU_MoveFolder", "MoveFolder3", MRU_MoveFolder, 3, ";not a comment"_ansi),
        MRU_KEY("MRU_MoveFolder", "MoveFolder4", MRU_MoveFolder, 4, "/m4"_ansi),
        MRU_KEY("MRU_MoveFolder", "MoveFolder5", MRU_MoveFolder, 5, "/m5"_ansi),
        INT_KEY("Favorite", Favorite0, "/fav/ゼロ"_ansi),
        INT_KEY("Favorite", Favorite1, "/fav/one"_ansi),
        INT_KEY("Favorite", Favorite2, "/fav/二"_ansi),
    };
}

std::string ShowAll(const SettingsBlock& s) {
    std::string out;
    for (const KeyCase& k : AllKeys()) out += std::string(k.key) + "=" + k.show(s) + "\n";
    return out;
}

class IniControlTest : public ::testing::Test {
protected:
    std::string Path() const { return dir / "Norvex.ini"; }
    TIniControl Store() const { return TIniControl(ToAnsi(Path())); }
    TempDir dir;
};

TEST_F(IniControlTest, MissingFileGivesEveryDefaultAndACentredWindow) {
    SettingsBlock s;
    for (const KeyCase& k : AllKeys()) k.change(s);  // loading must overwrite, not merge
    TWindowMetrics m{1025, 769, 301, 200};
    EXPECT_FALSE(Store().Load(s, m));
    EXPECT_FALSE(fs::exists(Path())) << "loading never creates the file";

    EXPECT_EQ(s.WindowX, 512 - 150);
    EXPECT_EQ(s.WindowY, 384 - 100);
    EXPECT_EQ(s.PutLocation, TPutLocation::BesideArchive);
    EXPECT_EQ(s.AfterMethod, TAfterMethod::Nothing);
    EXPECT_EQ(s.OverWrite, TOverWrite::Ask);
    EXPECT_FALSE(s.IgnoreDirectory);
    EXPECT_TRUE(s.PreTestArc);
    EXPECT_EQ(s.PreTestMode, TPreTestMode::Complete);
    EXPECT_EQ(s.SpecialFolder, "");
    EXPECT_EQ(s.MoveFolder, "");
    EXPECT_EQ(s.FileSpec, "");
    EXPECT_EQ(s.BuffMegaSize, 15);
    EXPECT_TRUE(s.BindFolder);
    EXPECT_EQ(s.BindNum, 2);
    EXPECT_EQ(s.SameFolderProc, TSameFolderProc::MoveAside);
    EXPECT_TRUE(s.ConfirmIgnore);
    EXPECT_FALSE(s.ConfirmSendTo);
    EXPECT_TRUE(s.ConfirmDelete);
    EXPECT_FALSE(s.ShowEndDlg);
    EXPECT_FALSE(s.ResistSendTo);
    EXPECT_FALSE(s.ResistShell);
    EXPECT_TRUE(s.AlertAbsExpand);
    EXPECT_TRUE(s.CheckDangerPath);
    EXPECT_FALSE(s.DelFolderNum);
    EXPECT_TRUE(s.IndicatePerFile);
    EXPECT_TRUE(s.CmdHideWnd);
    EXPECT_TRUE(s.CheckDiv);
    EXPECT_TRUE(s.IgnoredSingleBind);
    EXPECT_TRUE(s.ExtraFormats);  // ini files written before the key existed keep 7z and tar on
    EXPECT_TRUE(s.ClearAll);
    EXPECT_FALSE(s.SpecialExt);
    for (int i = 0; i < kMruCount; ++i) {
        EXPECT_EQ(s.MRU_SpecialFolder[i], "");
        EXPECT_EQ(s.MRU_MoveFolder[i], "");
    }
    EXPECT_EQ(s.Favorite0 + s.Favorite1 + s.Favorite2, "");

    // A window wider than the screen gets a negative default, halves rounded towards zero.
    Store().Load(s, TWindowMetrics{801, 600, 1001, 601});
    EXPECT_EQ(s.WindowX, 400 - 500);
    EXPECT_EQ(s.WindowY, 300 - 300);
}

// Each key alone, changed away from its default, comes back changed, and nothing else moves: this
// catches keys written under one name and read under another, or from the wrong field.
TEST_F(IniControlTest, EveryReadAndWrittenKeySurvivesSaveAndLoadOnItsOwn) {
    const std::string defaults = ShowAll(SettingsBlock{});
    for (const KeyCase& k : AllKeys()) {
        SCOPED_TRACE(k.key);
        SettingsBlock changed;
        k.change(changed);
        ASSERT_NE(ShowAll(changed), defaults) << "the test's change must differ from the default";
        fs::remove(Path());
        ASSERT_TRUE(Store().Save(changed)) << Store().LastError();

        const std::string file = ReadFile(Path());
        EXPECT_TRUE(IsValidUtf8(file));
        auto stored = TIniDocument::Parse(file).Get(k.section, k.key);
        ASSERT_TRUE(stored.has_value()) << "key not found in its section";

        SettingsBlock loaded;
        ASSERT_TRUE(Store().Load(loaded));
        EXPECT_EQ(ShowAll(loaded), ShowAll(changed));
    }
}

TEST_F(IniControlTest, AllKeysChangedTogetherSurviveTwoSaves) {
    SettingsBlock changed;
    for (const KeyCase& k : AllKeys()) k.change(changed);
    ASSERT_TRUE(Store().Save(changed));
    SettingsBlock once;
    Store().Load(once);
    ASSERT_TRUE(Store().Save(once));  // over the existing file this time
    SettingsBlock twice;
    Store().Load(twice);
    EXPECT_EQ(ShowAll(twice), ShowAll(changed));
    // Carried characters come back as the same text, not as "?".
    EXPECT_EQ(FromAnsi(twice.MRU_SpecialFolder[3]), "café");
    EXPECT_EQ(FromAnsi(twice.MRU_SpecialFolder[4]), "raw\xFF\xFE");
}

TEST_F(IniControlTest, FreshFileHasTheSectionsAndKeysInSaveOrder) {
    ASSERT_TRUE(Store().Save(SettingsBlock{}));
    std::vector<std::string> names;
    for (std::string line; const char c : ReadFile(Path())) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty()) names.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
        line.clear();
    }
    const std::vector<std::string> expected = {
        "[App]", "WindowX", "WindowY",
        "[Main]", "PutLocation", "AfterMethod", "PreTestArc", "PreTestMode", "SpecialFolder", "MoveFolder",
        "OverWrite", "FileSpec", "BuffMegaSize", "IgnoreDirectory",
        "[Sub_Confirm]", "ConfirmSendTo", "ShowEndDlg", "ConfirmDelete", "ConfirmIgnore",
        "[Sub_Bind]", "BindFolder", "PreventOverlapping", "BindNum", "SameFolderProc",
        "[Sub_Environment]", "ResistSendTo", "ResistShell",
        "[Sub_Security]", "CheckDangerPath", "AlertAbsExpand",
        "[Sub_TailCut]", "DelFolderNum",
        "[Sub_Other]", "CheckDiv", "IndicatePerFile", "CmdHideWnd", "IgnoredSingleBind", "ExtraFormats", "ClearAll",
        "[Sub]", "SpecialExt",
        "[MRU_SpecialFolder]", "SpeciaFolder0", "SpeciaFolder1", "SpeciaFolder2", "SpeciaFolder3",
        "SpeciaFolder4", "SpeciaFolder5",
        "[MRU_MoveFolder]", "MoveFolder0", "MoveFolder1", "MoveFolder2", "MoveFolder3", "MoveFolder4",
        "MoveFolder5",
        "[Favorite]", "Favorite0", "Favorite1", "Favorite2",
    };
    EXPECT_EQ(names, expected);
}

TEST_F(IniControlTest, PreventOverlappingIsWrittenButNeverRead) {
    SettingsBlock s;
    s.PreventOverlapping = true;
    ASSERT_TRUE(Store().Save(s));
    EXPECT_EQ(TIniDocument::Parse(ReadFile(Path())).Get("Sub_Bind", "PreventOverlapping"), "1");
    SettingsBlock loaded;
    Store().Load(loaded);
    EXPECT_FALSE(loaded.PreventOverlapping);
}

// A file as the Windows program left it: cp932, CRLF line ends, the three odd sections, a value in
// quotes with backslashes, names with the trail byte 0x5C ("ソ", "表").
TEST_F(IniControlTest, Cp932FileFromWindowsLoadsAndIsRewrittenAsUtf8) {
    const AnsiString special = "C:\\ソフト\\表示"_ansi;
    const AnsiString fav = "D:\\書庫\\予定"_ansi;
    const std::string bytes =
        "[App]\r\nWindowX=120\r\nWindowY=80\r\n"
        "[Main]\r\nPutLocation=1\r\nAfterMethod=2\r\nSpecialFolder=" + special + "\r\n"
        "MoveFolder=\"C:\\new\\tmp\"\r\nSameFolderProc=0\r\n"
        "[Sub_Bind]\r\nBindNum=3\r\nSameFolderProc=1\r\n"
        "[Sub_Other]\r\nClearAll=0\r\nOldKey=" + "古い値"_ansi + "\r\n"
        "[Sub]\r\nSpecialExt=1\r\n"
        "[MRU_SpecialFolder]\r\nSpeciaFolder0=" + special + "\r\n"
        "[Favorite]\r\nFavorite1=" + fav + "\r\n";
    ASSERT_FALSE(IsValidUtf8(bytes)) << "the fixture must really be cp932";
    WriteFile(Path(), bytes);

    SettingsBlock s;
    ASSERT_TRUE(Store().Load(s));
    EXPECT_EQ(s.WindowX, 120);
    EXPECT_EQ(s.PutLocation, TPutLocation::SpecialFolder);
    EXPECT_EQ(s.AfterMethod, TAfterMethod::Trash);
    EXPECT_EQ(s.SpecialFolder, special);
    EXPECT_EQ(s.MoveFolder, "C:\\new\\tmp") << "no escapes in a Windows file";
    EXPECT_EQ(s.BindNum, 3);
    EXPECT_EQ(s.SameFolderProc, TSameFolderProc::Replace);
    EXPECT_FALSE(s.ClearAll);
    EXPECT_TRUE(s.SpecialExt);
    EXPECT_EQ(s.MRU_SpecialFolder[0], special);
    EXPECT_EQ(s.Favorite1, fav);

    s.FileSpec = " C:\\new\\*.txt ";  // needs our quoting with escapes, in a file that had none
    ASSERT_TRUE(Store().Save(s));
    const std::string rewritten = ReadFile(Path());
    EXPECT_TRUE(IsValidUtf8(rewritten));
    EXPECT_NE(rewritten.find("SpecialFolder=C:\\ソフト\\表示\n"), std::string::npos);
    EXPECT_NE(rewritten.find("OldKey=古い値\n"), std::string::npos) << "unknown keys are kept, in UTF-8";
    SettingsBlock again;
    Store().Load(again);
    EXPECT_EQ(ShowAll(again), ShowAll(s));
}

TEST_F(IniControlTest, UnknownKeysGarbageAndOddSpellingAreTolerated) {
    const std::string text =
        "\xEF\xBB\xBF"  // a byte-order mark left by an editor
        "BindNum=9\n"   // before any section: belongs to none
        "garbage without equals\n"
        "[unterminated section\n"
        "=no key\n"
        "; BindNum=8\n"
        "[sub_bind]  trailing words\n"
        "  bindnum   =   5  \n"
        "BINDNUM=6\n"  // the first of two wins, as on Windows
        "Mystery=42\n"
        "[Main]\n"
        "FileSpec=*.txt\r\n"
        "[Sub_Bind]\n"  // a second section of the same name is not looked at
        "BindFolder=0\n"
        "\n[Unknown]\nx=y\n";
    WriteFile(Path(), text);
    SettingsBlock s;
    ASSERT_TRUE(Store().Load(s));
    EXPECT_EQ(s.BindNum, 5);
    EXPECT_EQ(s.FileSpec, "*.txt");
    EXPECT_TRUE(s.BindFolder);

    s.BindNum = 11;
    ASSERT_TRUE(Store().Save(s));
    const std::string after = ReadFile(Path());
    EXPECT_NE(after.find("BindNum=11"), std::string::npos);
    EXPECT_EQ(after.find("bindnum   =   5"), std::string::npos) << "the key is rewritten in place";
    for (const char* kept : {"Mystery=42", "; BindNum=8", "garbage without equals", "[Unknown]\nx=y"})
        EXPECT_NE(after.find(kept), std::string::npos) << kept;
    SettingsBlock again;
    Store().Load(again);
    EXPECT_EQ(again.BindNum, 11);
}

TEST_F(IniControlTest, ValuesThatCannotBeTakenFallBackToTheDefault) {
    struct Case {
        const char* section;
        const char* line;
        std::function<std::string(const SettingsBlock&)> show;
        std::string expected;
    };
    auto putLocation = [](const SettingsBlock& s) { return Show(s.PutLocation); };
    auto buff = [](const SettingsBlock& s) { return Show(s.BuffMegaSize); };
    auto bindNum = [](const SettingsBlock& s) { return Show(s.BindNum); };
    auto mode = [](const SettingsBlock& s) { return Show(s.PreTestMode); };
    auto bindFolder = [](const SettingsBlock& s) { return Show(s.BindFolder); };
    auto windowX = [](const SettingsBlock& s) { return Show(s.WindowX); };
    const std::vector<Case> cases = {
        {"Main", "PutLocation=6", putLocation, "6"},
        {"Main", "PutLocation=7", putLocation, "0"},
        {"Main", "PutLocation=258", putLocation, "2"},  // a byte: the low 8 bits count
        {"Main", "PutLocation=-1", putLocation, "0"},
        {"Main", "PutLocation=two", putLocation, "0"},
        {"Main", "AfterMethod=4", [](const SettingsBlock& s) { return Show(s.AfterMethod); }, "0"},
        {"Main", "OverWrite=9", [](const SettingsBlock& s) { return Show(s.OverWrite); }, "0"},
        {"Sub_Bind", "SameFolderProc=2", [](const SettingsBlock& s) { return Show(s.SameFolderProc); }, "0"},
        {"Main", "BuffMegaSize=0", buff, "15"},
        {"Main", "BuffMegaSize=-20", buff, "15"},
        {"Main", "BuffMegaSize=101", buff, "15"},
        {"Main", "BuffMegaSize=5", buff, "5"},
        {"Main", "BuffMegaSize=15MB", buff, "15"},
        {"Main", "BuffMegaSize=99999999999", buff, "15"},
        {"Sub_Bind", "BindNum=-1", bindNum, "2"},
        {"Sub_Bind", "BindNum=0", bindNum, "0"},
        {"Sub_Bind", "BindNum=+4", bindNum, "4"},
        {"Sub_Bind", "BindNum=+-4", bindNum, "2"},
        {"Sub_Bind", "BindNum=0x10", bindNum, "2"},
        {"Main", "PreTestMode=2", mode, "1"},
        {"Main", "PreTestMode=0", mode, "0"},
        {"Main", "PreTestMode=-3", mode, "1"},
        {"Sub_Bind", "BindFolder=0", bindFolder, "0"},
        {"Sub_Bind", "BindFolder=2", bindFolder, "1"},  // any non-zero number is true
        {"Sub_Bind", "BindFolder=false", bindFolder, "1"},
        {"Sub_Bind", "BindFolder=", bindFolder, "1"},
        {"App", "WindowX=-300", windowX, "-300"},
        {"App", "WindowX= 12 ", windowX, "12"},
        {"App", "WindowX=1 2", windowX, "50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        WriteFile(Path(), "[" + std::string(c.section) + "]\n" + c.line + "\n");
        SettingsBlock s;
        Store().Load(s, TWindowMetrics{200, 200, 100, 100});
        EXPECT_EQ(c.show(s), c.expected);
    }
}

TEST_F(IniControlTest, FailedSaveLeavesTheOldFileWholeAndNoLitter) {
    SettingsBlock old;
    old.BindNum = 4;
    ASSERT_TRUE(Store().Save(old));
    const std::string before = ReadFile(Path());
    SettingsBlock next;
    for (const KeyCase& k : AllKeys()) k.change(next);

    for (int step : {1, 2, 3}) {
        SCOPED_TRACE(step);
        FailNextAtomicWriteForTesting(step);
        TIniControl store = Store();
        EXPECT_FALSE(store.Save(next));
        EXPECT_FALSE(store.LastError().empty());
        EXPECT_EQ(ReadFile(Path()), before);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
        EXPECT_EQ(names, std::vector<std::string>{"Norvex.ini"}) << "the temporary file is removed";
    }
    ASSERT_TRUE(Store().Save(next)) << "the fault is injected once only";
    SettingsBlock loaded;
    Store().Load(loaded);
    EXPECT_EQ(ShowAll(loaded), ShowAll(next));
}

TEST_F(IniControlTest, SaveIntoAFolderThatCannotBeWrittenFails) {
    if (geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only folders";
    ASSERT_TRUE(Store().Save(SettingsBlock{}));
    const std::string before = ReadFile(Path());
    chmod(dir.path().c_str(), 0555);
    SettingsBlock s;
    s.BindNum = 9;
    EXPECT_FALSE(Store().Save(s));
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadFile(Path()), before);
}

TEST_F(IniControlTest, SaveCreatesMissingFoldersKeepsModesAndFollowsLinks) {
    // A path under a regular file cannot be made: the save fails and says why.
    WriteFile(dir / "plain", "x");
    TIniControl blocked(ToAnsi(dir / "plain/norvex/Norvex.ini"));
    EXPECT_FALSE(blocked.Save(SettingsBlock{}));
    EXPECT_FALSE(blocked.LastError().empty());

    // The XDG place: missing folders are created on the first save.
    TIniControl nested(ToAnsi(dir / "config/norvex/Norvex.ini"));
    ASSERT_TRUE(nested.Save(SettingsBlock{}));
    EXPECT_TRUE(fs::is_regular_file(dir / "config/norvex/Norvex.ini"));

    // A private file stays private.
    ASSERT_TRUE(Store().Save(SettingsBlock{}));
    chmod(Path().c_str(), 0600);
    ASSERT_TRUE(Store().Save(SettingsBlock{}));
    struct stat st {};
    stat(Path().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A settings file kept elsewhere through a link: the link stays, its target is updated.
    const std::string link = dir / "linked.ini";
    fs::create_symlink(Path(), link);
    SettingsBlock s;
    s.BindNum = 42;
    ASSERT_TRUE(TIniControl(ToAnsi(link)).Save(s));
    EXPECT_TRUE(fs::is_symlink(link));
    SettingsBlock loaded;
    Store().Load(loaded);
    EXPECT_EQ(loaded.BindNum, 42);
}

TEST_F(IniControlTest, UnreadableFileGivesDefaults) {
    fs::create_directory(Path());  // a folder where the file should be
    TIniControl store = Store();
    SettingsBlock s;
    s.BindNum = 77;
    EXPECT_FALSE(store.Load(s));
    EXPECT_EQ(s.BindNum, 2);
    EXPECT_FALSE(store.LastError().empty());
}

TEST(IniControlPlace, DefaultFileIsBesideTheProgramOrInTheXdgConfigFolder) {
    TempDir config;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::string name = FromAnsi(TIniControl::DefaultFileName());
    const std::string beside = FromAnsi(ProgramFolder()) + "/Norvex.ini";
    EXPECT_TRUE(name == beside || name == config.path() + "/norvex/Norvex.ini") << name;
    if (geteuid() == 0 && !fs::exists(beside)) {
        EXPECT_EQ(name, config.path() + "/norvex/Norvex.ini");
    }
    EXPECT_EQ(FromAnsi(TIniControl().FileName()), name);
}

}  // namespace
