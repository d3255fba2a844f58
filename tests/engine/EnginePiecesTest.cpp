// The engine's pieces that need no archive: log-line shapes, progress arithmetic, the tail cut, the
// path checks, extensions, error names and the DLL table.
#include <gtest/gtest.h>

#include "engine/EngineLog.h"
#include "engine/EntryLanding.h"
#include "engine/NaturalOrder.h"
#include "engine/SplitSets.h"
#include "engine/UUnPack.h"
#include "engine/UUnPackThread.h"
#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"

using namespace norvex;
using namespace norvex::literals;

TEST(EngineLog, LineShapesAndPlaceholder) {
    EXPECT_EQ(FormatLogLine(7, "***", ""), " " + std::string(44, '*'));
    EXPECT_EQ(FromAnsi(FormatLogLine(3, "---", "")), " 3|  ──────────────────────");
    EXPECT_EQ(FormatLogLine(12, "x", "a"), " 12| x");
    // The archive heading takes the archive's name, its placeholder in any letter case.
    EXPECT_EQ(FormatLogLine(1, ">>>> [ %SRC ]  --", "/a/b.zip"), " 1| >>>> [ \"/a/b.zip\" ]  --");
    EXPECT_EQ(TerminalLogLine(1, kArchiveHeading, "/a/%src.zip"), " 1| >>>> [ \"/a/%src.zip\" ]  --");
    // Nothing else is a placeholder: after a lead byte, "%" is its second byte.
    const AnsiString tricky = std::string("\x83") + "%src";
    EXPECT_EQ(FormatLogLine(1, tricky, "n"), " 1| " + tricky);
}

// Names are text wherever a line quotes them: a folder, entry or volume whose name holds "%src" or
// a format's marks shows that name, never the current archive's, and never loses a character.
TEST(EngineLog, NamesInLinesAreNeverPlaceholders) {
    const AnsiString archive = "/in/a.zip";
    const std::string names[] = {"/out/%src", "/out/%SRC/%src", "%s%d%%{0}%0:s", ">>>> [ %src ]  --"};
    for (const std::string& name : names) {
        const std::string done = "> [ 解凍 ]\t\"" + name + "\" へ解凍しました。";
        EXPECT_EQ(FromAnsi(FormatLogLine(9, ToAnsi(done), archive)), " 9| " + done) << name;
        EXPECT_EQ(TerminalLogLine(9, ToAnsi(done), archive), " 9| " + done) << name;
        EXPECT_EQ(TerminalLogLine(9, ToAnsi("> " + name), archive), " 9| > " + name) << name;
    }
    EXPECT_EQ(TerminalLogLine(9, ">>>> [ %src ]  -- ", archive), " 9| >>>> [ %src ]  -- ");
}

TEST(EngineProgress, PercentagesAre64BitSafe) {
    const uint64_t big = 6ull << 30;  // 6 GiB, beyond 32 bits
    TProgressFigures f = ComputeProgress(big, big / 2, 0, static_cast<double>(big) * 2);
    EXPECT_EQ(f.filePercent, 50);
    EXPECT_EQ(f.totalPercent, 25);
    EXPECT_FALSE(f.entryComplete);
    // Written beyond the size is cut to the size; the entry is then complete.
    f = ComputeProgress(100, 250, 900, 1000);
    EXPECT_EQ(f.filePercent, 100);
    EXPECT_EQ(f.totalPercent, 100);
    EXPECT_TRUE(f.entryComplete);
    // Nothing written, no total known, an empty entry.
    f = ComputeProgress(100, 0, 0, 0);
    EXPECT_EQ(f.filePercent, 0);
    EXPECT_EQ(f.totalPercent, 0);
    f = ComputeProgress(0, 0, 0, 10);
    EXPECT_EQ(f.filePercent, 0);
    EXPECT_TRUE(f.entryComplete);
    // A total smaller than what was written (a stale total) never shows more than 100.
    EXPECT_EQ(ComputeProgress(50, 50, 80, 100).totalPercent, 100);
}

TEST(EngineProgress, AnEntryEndReportedTwiceCountsOnce) {
    TDoneSizeTally done;
    done.Note("a.txt", false, 100);
    done.Note("a.txt", true, 100);
    done.Note("a.txt", true, 100);  // the closing report of the same end
    EXPECT_EQ(done.Total(), 100u);
    done.Note("b.txt", true, 50);  // a small entry whose first report is its end
    EXPECT_EQ(done.Total(), 150u);
    // A second entry of the same name counts once it has been seen being written.
    done.Note("b.txt", false, 70);
    done.Note("b.txt", true, 70);
    done.Note("b.txt", true, 70);
    EXPECT_EQ(done.Total(), 220u);
    done.Reset();
    EXPECT_EQ(done.Total(), 0u);
}

TEST(EngineNaming, TailCut) {
    EXPECT_EQ(CutNameTail("photos_2005", true), "photos");
    EXPECT_EQ(CutNameTail("report 3b", true), "report");
    EXPECT_EQ(CutNameTail("data1", true), "data");
    EXPECT_EQ(CutNameTail("2005", true), "2005");  // the whole name is tail: kept
    EXPECT_EQ(CutNameTail("photos_2005", false), "photos_2005");
    EXPECT_EQ(CutNameTail("v1.2.3", true), "v");
    // Japanese names are cut by whole characters.
    EXPECT_EQ(FromAnsi(CutNameTail("写真集_01"_ansi, true)), "写真集");
    EXPECT_EQ(FromAnsi(CutNameTail("ソ"_ansi, true)), "ソ");
}

TEST(EnginePathChecks, DangerWordsAndAbsolutePaths) {
    EXPECT_EQ(TUnPack::CheckPathDanger("Windows/System32/"), "DANGER");
    EXPECT_EQ(TUnPack::CheckPathDanger("tools/system/"), "DANGER");
    EXPECT_EQ(TUnPack::CheckPathDanger("スタートアップ/"_ansi), "DANGER");
    EXPECT_EQ(TUnPack::CheckPathDanger("ｽﾀｰﾄｱｯﾌﾟ/"_ansi), "DANGER");
    EXPECT_EQ(TUnPack::CheckPathDanger("Startup/"), "");
    EXPECT_EQ(TUnPack::CheckPathDanger("System/"), "");
    EXPECT_EQ(TUnPack::CheckPathDanger(""), "");
    // "system" spread over a trail byte is not the word: 0x83 0x73 is one character.
    EXPECT_EQ(TUnPack::CheckPathDanger(std::string("\x83") + "ystem/"), "");

    const std::pair<const char*, bool> absolute[] = {
        {"C:/temp/x.txt", true},  {"/etc/passwd", true},       {"\\server\\x", true},
        {"a/../../x", true},      {"a/c:x.txt", true},         {"c:", true},
        {"a/..b/x", false},       {"会議 12:30.txt", false},   {"a/12:30/x", false},
        {"ソ/x", false},          {"1:/x", false},             {"ab:/x", false},
    };
    for (const auto& [path, expected] : absolute) EXPECT_EQ(IsAbsoluteEntryPath(ToAnsi(path)), expected) << path;

    // The one-pass reading of the count agrees with the rules it stands for, on every kind of name.
    const char* const names[] = {
        "a/b/c.txt", "a/b/", "x.txt", "/etc/x.txt", "\\srv\\share\\x", "C:/temp/x", "c:x", "./C:x",
        "a/../x", "../x", "a/./b//c", "C:..", "C:", "./", "//", "", "a\\b\\", "会議 12:30/x",
        "ソ/表\\x", "表ソ", "a/ソ", "a/b/..", "ab:/x", "1:/x", "a/c:x.txt",
        // Names that land as they stand but for one place (the landing is copied from the name).
        "a//b", "a/./b/", "/a/b", "\\a/b", "a/b\\c/d", "C:/a/b", "./a/b", "a/b/./", "a/b/c:d/e", "./x/../y",
    };
    for (const char* name : names) {
        const AnsiString raw = ToAnsi(name);
        TEntryPath path;
        path.Landing = "left from an earlier entry";
        ReadEntryPath(raw, path);
        AnsiString joined;
        for (const AnsiString& part : LandingParts(raw)) joined += (joined.empty() ? "" : "/") + part;
        EXPECT_EQ(path.Landing, joined) << name;
        EXPECT_EQ(path.LeavesDestination, IsAbsoluteEntryPath(raw)) << name;
        EXPECT_EQ(path.EndsWithSeparator, AnsiEndsWithSeparator(raw)) << name;
        const std::size_t sep = AnsiLastDelimiter(raw, "/\\");
        EXPECT_EQ(path.DirLength, sep == AnsiString::npos ? 0 : sep + 1) << name;
    }

    EXPECT_TRUE(IsPlainName("data"));
    EXPECT_FALSE(IsPlainName(".."));
    EXPECT_FALSE(IsPlainName(""));
    EXPECT_FALSE(IsPlainName("a/b"));
    EXPECT_TRUE(IsPlainName("back\\"));  // Linux names hold "\\" and ":"
    EXPECT_TRUE(IsPlainName("会議 12:30"_ansi));
    EXPECT_TRUE(IsPlainName("ソ"_ansi));
}

TEST(EngineNames, NaturalOrderIsTotalAndCaseBlind) {
    std::vector<AnsiString> names = {"x10.zip", "X2.zip", "x2.zip", "x02.zip", "b", "B", "a1b", "a01b", "ソ2"_ansi, "ソ10"_ansi};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (std::vector<AnsiString>{"a01b", "a1b", "B", "b", "X2.zip", "x02.zip", "x2.zip", "x10.zip", "ソ2"_ansi, "ソ10"_ansi}));
}

TEST(EngineNames, SplitVolumeNames) {
    struct Case {
        const char* name;
        const char* ext;
        TVolumeKind kind;
        const char* base;
    };
    const Case cases[] = {
        {"x.part1.rar", ".rar", TVolumeKind::FirstVolume, "x"},
        {"UP.PART01.RAR", ".rar", TVolumeKind::FirstVolume, "UP"},
        {"a.b.Part2.Rar", ".rar", TVolumeKind::LaterVolume, "a.b"},
        {"x.part0.rar", ".rar", TVolumeKind::LaterVolume, "x"},
        {"OLD.RAR", ".rar", TVolumeKind::Unnumbered, "OLD"},
        {"department5.rar", ".rar", TVolumeKind::Unnumbered, "department5"},
        {".part1.rar", ".rar", TVolumeKind::Unnumbered, ".part1"},
        {"x.part1.zip", ".zip", TVolumeKind::NotSplit, ""},
        {"x.r00", ".r00", TVolumeKind::NotSplit, ""},
    };
    for (const Case& c : cases) {
        const TVolumeName v = ClassifyVolumeName(c.name, c.ext);
        EXPECT_EQ(v.Kind, c.kind) << c.name;
        EXPECT_EQ(v.Base, c.base) << c.name;
    }
}

TEST(EngineExtract, ExtensionsAndErrorNames) {
    EXPECT_EQ(LowerExtension("/a/B.LZH"), ".lzh");
    EXPECT_EQ(LowerExtension("/a.b/noext"), "");
    EXPECT_EQ(LowerExtension("x.part1.RAR"), ".rar");
    // Only ASCII letters are lowered: a trail byte in the range of capitals stays.
    EXPECT_EQ(LowerExtension("x.\x83\x41"), ".\x83\x41");

    EXPECT_EQ(ArchiverErrorName(0x8019), "ERROR_NOT_ARC_FILE");
    EXPECT_EQ(ArchiverErrorName(0x8005), "DISK_SPACE");
    EXPECT_EQ(ArchiverErrorName(0x802D), "ERROR_EOF");
    EXPECT_EQ(ArchiverErrorName(0x8004), "");
    EXPECT_EQ(ArchiverErrorName(0x802E), "");
    EXPECT_TRUE(ArchiverSucceeded(0));
    EXPECT_TRUE(ArchiverSucceeded(1));  // a warning
    EXPECT_TRUE(ArchiverSucceeded(0x7FFF));
    EXPECT_FALSE(ArchiverSucceeded(0x8000));
    EXPECT_FALSE(ArchiverSucceeded(-1));
}

TEST(EngineDllTable, LoadRules) {
    SettingsBlock s;
    test::TScriptedHost host(s);
    TUnPack job(s, host);
    EXPECT_FALSE(job.LoadArchiverDll("ARJ"));
    EXPECT_FALSE(job.LoadArchiverDll("lha"));  // type names are case-sensitive
    EXPECT_FALSE(job.LoadArchiverDll("ZIP32"));
    EXPECT_EQ(job.DllTable()[DllCAB].DllName, "cab32.DLL");
    EXPECT_TRUE(job.DllTable()[DllARJ].DllName.empty());
    if (test::HaveModule("UNZIP32.DLL")) {
        EXPECT_TRUE(job.LoadArchiverDll("ZIP"));
        EXPECT_TRUE(job.LoadArchiverDll("ZIP"));  // a second load is balanced by one release
        EXPECT_NE(job.DllTable()[DllZIP].Command, nullptr);
    }
    job.UnloadArchiverDlls();
    job.UnloadArchiverDlls();  // harmless
    EXPECT_EQ(job.DllTable()[DllZIP].Handle, nullptr);
}

TEST(EngineDllTable, CheckBlockWithoutModules) {
    SettingsBlock s;
    test::TScriptedHost host(s);
    TUnPack job(s, host);
    SetModuleFolder("/nonexistent-norvex-modules/bin/../.");
    CheckDlls(job, s, host);
    SetModuleFolder("");
    ASSERT_EQ(host.lines.size(), 8u);
    EXPECT_EQ(host.lines[0], " 1| ─── Checking DLL ... ──");
    // The remedy of this system: the package, or the module file and the folder searched.
    EXPECT_EQ(host.lines[1], " 2| [ DLL ] \"LHA\"\t「なし　パッケージ norvex を入れ直すか、unlha32.so を "
                             "\"/nonexistent-norvex-modules\" に置いてください」");
    EXPECT_EQ(host.lines[6], " 7| [ DLL ] \"7Z\"\t「なし　パッケージ norvex を入れ直すか、7-zip32.so を "
                             "\"/nonexistent-norvex-modules\" に置いてください」");
    EXPECT_EQ(host.lines[7], " 8|  ──────────────────────");
    for (bool present : s.DllPresent) EXPECT_FALSE(present);
}
