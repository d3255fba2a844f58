// The archive object: detection by extension and by content, listing, the operation bracket with the
// progress window and the member callback, extraction, packing, and the self-extracting builders.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archivers/Archives.h"
#include "archivers/SZIP32.h"
#include "archivers/TAR32.h"
#include "archivers/YZ132.h"
#include "archivers/ZIP32.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "tests/archivers/TestModules.h"
#include "tests/support/TempDir.h"

namespace norvex {
namespace {
using namespace norvex::literals;
using test::RecordingModule;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ArchiveFileTest : public test::ModuleSetTest {
protected:
    void SetUp() override { UseSet("full"); }
    AnsiString Archive(const std::string& name, const std::string& content) {
        test::WriteFile(dir / name, content);
        return ToAnsi(dir / name);
    }
    test::TempDir dir;
};

TEST_F(ArchiveFileTest, DetectsByExtension) {
    struct Case {
        const char* name;
        TArchiverType type;
    } cases[] = {
        {"a.lzh", atLha}, {"a.LHA", atLha}, {"a.zip", atZip}, {"a.JAR", atZip},  {"a.war", atZip},
        {"a.cab", atCab}, {"a.arj", atArj}, {"a.TAR", atTar}, {"a.cpio", atTar}, {"a.deb", atTar},
        {"a.tar.gz", atTgz}, {"a.Z", atTgz}, {"a.taz", atTgz}, {"a.bz2", atBZ2}, {"a.rar", atRar},
        {"a.gza", atBga}, {"a.bza", atBga}, {"a.yz1", atYz1}, {"a.7z", at7z},   {"dir.zip/a.dat", atAutoDetect},
    };
    for (const Case& c : cases) {
        TArchiveFile arc;
        arc.SetFileName(c.name);
        EXPECT_EQ(arc.ArchiverType(), c.type) << c.name;
        EXPECT_EQ(arc.Driver() != nullptr, c.type != atAutoDetect) << c.name;
        EXPECT_EQ(arc.FileName(), c.name);
    }
    TArchiveFile gca;
    try {
        gca.SetFileName("a.gca");
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "書庫の形式を特定できませんでした。"_ansi);
    }
    EXPECT_NE(gca.FileName(), "a.gca") << "the name is not stored";
}

TEST_F(ArchiveFileTest, AnUnknownSecondNameKeepsTheDriver) {
    TArchiveFile arc;
    arc.SetFileName("a.lzh");
    TArchiver* lha = arc.Driver();
    arc.SetFileName("b.dat");
    EXPECT_EQ(arc.Driver(), lha);
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_EQ(arc.FileName(), "b.dat");
}

TEST_F(ArchiveFileTest, ContentChecksRunInOrderAndTheLaterOneWins) {
    // Each recording module accepts a file that holds its tag; TAR answers the number in "[TarN]".
    struct Case {
        const char* content;
        TArchiverType type;
    } cases[] = {
        {"[Tar1][Unrar][Unarj][UnZip][Bga][Yz1][Cab][Unlha]", atLha},
        {"[Tar1][Unrar][Unarj][UnZip][Bga][Yz1][Cab]", atCab},
        {"[Tar1][Unrar][Unarj][UnZip][Bga][Yz1]", atYz1},
        {"[Tar1][Unrar][Unarj][UnZip][Bga]", atBga},
        {"[Tar1][Unrar][Unarj][UnZip]", atZip},
        {"[Tar1][Unrar][Unarj]", atArj},
        {"[Tar1][Unrar]", atRar},
        {"[Tar1]", atTar},
        {"[Tar3]", atTgz},
        {"[Tar7]", atBZ2},
        {"[Tar8]", atNone},
        {"[UnZip][Tar6]", atZip},
        {"[SevenZip]", atNone},
    };
    for (const Case& c : cases) {
        const AnsiString path = Archive("x.exe", c.content);
        EXPECT_EQ(DetectArchiverTypeByContent(path), c.type) << c.content;
        TArchiveFile arc;
        arc.SetFileName(path);
        EXPECT_EQ(arc.ArchiverType(), c.type == atNone ? atAutoDetect : c.type) << c.content;
    }
}

TEST_F(ArchiveFileTest, ZipCheckNeedsAPositiveAnswer) {
    const AnsiString path = Archive("x.exe", "[UnZip]");
    {
        RecordingModule unzip("UNZIP32.DLL");
        TZip32::LoadDLL();
        unzip.set("check", -1);
        EXPECT_EQ(DetectArchiverTypeByContent(path), atNone);
        unzip.set("check", 1);
        EXPECT_EQ(DetectArchiverTypeByContent(path), atZip);
        EXPECT_TRUE(Contains(unzip.log(), "UnZipCheckArchive|" + path + "|24")) << unzip.log();
    }
}

TEST_F(ArchiveFileTest, UnknownNamesAreDetectedWhenOpened) {
    const AnsiString rar = Archive("x.dat", "[Unrar]");
    TArchiveFile arc;
    arc.SetFileName(rar);
    EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
    EXPECT_EQ(arc.OpenArchive(nullptr, 0), 0);
    EXPECT_EQ(arc.ArchiverType(), atRar);
    TArchiveEntryInfo info{};
    ASSERT_EQ(arc.FindFirst("*.*", &info), 0);
    EXPECT_STREQ(info.entry.fileName, "dir\\file0.txt");
    EXPECT_EQ(arc.FindNext(&info), 0);
    EXPECT_EQ(arc.FindNext(&info), ARC_FIND_END);
    EXPECT_EQ(arc.GetArcOriginalSize(), 12345);
    EXPECT_EQ(arc.CloseArchive(), 0);

    TArchiveFile unknown;
    unknown.SetFileName(Archive("y.dat", "nothing"));
    for (auto run : {+[](TArchiveFile& a) { a.OpenArchive(nullptr, 0); },
                     +[](TArchiveFile& a) { a.Extract(nullptr, nullptr, "/out", "", {}); },
                     +[](TArchiveFile& a) { a.CheckArchive(0, 0); }}) {
        try {
            run(unknown);
            ADD_FAILURE();
        } catch (const EArchiver& e) {
            EXPECT_EQ(e.Message(), "書庫の形式を判別できません。"_ansi);
        }
    }
}

TEST_F(ArchiveFileTest, MissingModulesAnswerNoAndSurfaceWhenTheDriverIsMade) {
    UseSet("empty");
    const AnsiString path = Archive("x.exe", "[Tar1][Unrar][Unarj][UnZip][Bga][Yz1][Cab][Unlha]");
    EXPECT_EQ(DetectArchiverTypeByContent(path), atNone);
    TArchiveFile arc;
    try {
        arc.SetFileName(Archive("a.lzh", "[Unlha]"));
        FAIL();
    } catch (const ENoArchiverDLL& e) {
        EXPECT_EQ(e.Message(), "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。"_ansi);
    }
    EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
}

// A caller's window that answers every question with "yes to all".
NvxWindow CallerWindow() {
    NvxWindow w{};
    w.structSize = sizeof w;
    w.ask = [](NvxWindow*, int32_t, const char*, const char*, char*, uint32_t) -> int32_t { return ARC_ANSWER_YES_ALL; };
    return w;
}

TEST_F(ArchiveFileTest, ProgressReachesOnProgressAndAStopAnswerReachesTheModule) {
    const AnsiString path = Archive("a.lzh", "[Unlha]");
    TArchiveFile arc;
    arc.SetFileName(path);
    RecordingModule lha("UNLHA32.DLL");
    lha.set("progress", 5);
    arc.Options().jse = arc.Options().jso = 1;

    std::vector<std::string> seen;
    arc.OnProgress = [&](TArchiveFile* sender, int state, const EXTRACTINGINFOEX* e, bool& abort) {
        EXPECT_EQ(sender, &arc);
        EXPECT_EQ(state, ARCEXTRACT_INPROCESS);
        seen.push_back(e->sourceFileName);
        abort = seen.size() == 3;
    };
    NvxWindow caller = CallerWindow();
    EXPECT_EQ(arc.Extract(&caller, nullptr, "/out", "", {}), ARC_ERROR_USER_CANCEL);
    EXPECT_EQ(seen, (std::vector<std::string>{"entry0", "entry1", "entry2"}));
    const std::string log = lha.log();
    EXPECT_TRUE(Contains(log, "progress|2|1")) << log;
    EXPECT_FALSE(Contains(log, "progress|3")) << log;
    // The bracket: the owner window is set before the command (hence -n1) and taken back afterwards.
    EXPECT_LT(log.find("UnlhaSetOwnerWindowEx"), log.find("Unlha|x -+1 -n1 -jse1 -jso1"));
    EXPECT_GT(log.find("UnlhaKillOwnerWindowEx"), log.find("Unlha|x"));
    EXPECT_TRUE(Contains(log, "UnlhaSetEnumMembersProc64|1094"));
    EXPECT_TRUE(Contains(log, "UnlhaClearEnumMembersProc64"));
    EXPECT_EQ(arc.LastCommandLine(), "x -+1 -n1 -jse1 -jso1  \"" + path + "\" \"/out/\" ");
    ASSERT_NE(arc.ProgressWindow(), nullptr);
}

TEST_F(ArchiveFileTest, WithoutHandlersNoProgressWindowIsSet) {
    TArchiveFile arc;
    arc.SetFileName(Archive("a.lzh", "[Unlha]"));
    RecordingModule lha("UNLHA32.DLL");
    lha.set("progress", 2);
    arc.Options().jse = arc.Options().jso = 1;
    arc.Options().IncludeExtraStreams = false;
    EXPECT_EQ(arc.Extract(nullptr, nullptr, "/out", "*.txt", {}), 0);
    const std::string log = lha.log();
    EXPECT_FALSE(Contains(log, "SetOwnerWindowEx")) << log;
    EXPECT_FALSE(Contains(log, "SetEnumMembersProc64")) << log;
    EXPECT_TRUE(Contains(log, "Unlha|x -+1 -jse1 -jso1  \"" + arc.FileName() + "\" \"/out/\" *.txt|")) << log;
    EXPECT_EQ(arc.ProgressWindow(), nullptr);
}

TEST_F(ArchiveFileTest, HandlersThatThrowStopTheModuleInsteadOfUnwindingThroughIt) {
    TArchiveFile arc;
    arc.SetFileName(Archive("a.lzh", "[Unlha]"));
    RecordingModule lha("UNLHA32.DLL");
    lha.set("progress", 2);
    arc.Options().jse = arc.Options().jso = 1;
    arc.OnProgress = [](TArchiveFile*, int, const EXTRACTINGINFOEX*, bool&) { throw std::runtime_error("boom"); };
    EXPECT_EQ(arc.Extract(nullptr, nullptr, "/out", "", {}), ARC_ERROR_USER_CANCEL);
    EXPECT_TRUE(Contains(lha.log(), "progress|0|1"));
}

TEST_F(ArchiveFileTest, QuestionsGoToTheCallersWindowAndTheTestingHookTakesProgress) {
    TArchiveFile arc;
    arc.SetFileName(Archive("a.lzh", "[Unlha]"));
    RecordingModule lha("UNLHA32.DLL");
    lha.set("ask", 1);
    lha.set("progress", 1);
    arc.Options().jse = arc.Options().jso = 1;
    int calls = 0;
    arc.OnProgress = [&](TArchiveFile*, int, const EXTRACTINGINFOEX*, bool&) { ++calls; };

    NvxWindow caller = CallerWindow();
    arc.Extract(&caller, nullptr, "/out", "", {});
    EXPECT_TRUE(Contains(lha.log(), "ask|3"));
    arc.Extract(nullptr, nullptr, "/out", "", {});
    EXPECT_TRUE(Contains(lha.log(), "ask|2")) << "nobody to ask: keep the existing file";
    EXPECT_EQ(calls, 2);

    SetProgressTestingHook([](const EXTRACTINGINFOEX*) { return 0; });
    arc.Extract(nullptr, nullptr, "/out", "", {});
    SetProgressTestingHook(nullptr);
    EXPECT_EQ(calls, 2) << "the hook took the message";
}

TEST_F(ArchiveFileTest, MemberCallbackRunsOnTheCurrentTarget) {
    TArchiveFile arc;
    arc.SetFileName(Archive("a.lzh", "[Unlha]"));
    RecordingModule lha("UNLHA32.DLL");
    lha.set("progress", 3);
    arc.Options().jse = arc.Options().jso = 1;
    std::vector<std::string> members;
    arc.OnEnumMember = [&](TArchiveFile*, TEnumMemberInfo64& info, bool& abort) {
        members.push_back(info.info.sourceFileName);
        abort = members.size() == 2;
    };
    EXPECT_EQ(arc.Extract(nullptr, nullptr, "/out", "", {}), ARC_ERROR_USER_CANCEL);
    EXPECT_EQ(members, (std::vector<std::string>{"entry0", "entry1"}));
    EXPECT_TRUE(Contains(lha.log(), "member|1|0"));
}

TEST_F(ArchiveFileTest, CollectedStreamFilesStayOrdinaryFilesOnLinuxVolumes) {
    TArchiveFile arc;
    arc.SetFileName(Archive("a.lzh", "[Unlha]"));
    RecordingModule lha("UNLHA32.DLL");
    const std::string streamFile = dir / "out/a.txt;#s1";
    test::WriteFile(streamFile, "stream");
    lha.set("progress", 1);
    lha.setText("source0", "a.txt;#s1");
    lha.setText("dest0", streamFile.c_str());
    arc.Options().jse = arc.Options().jso = 1;
    int calls = 0;
    arc.OnProgress = [&](TArchiveFile*, int, const EXTRACTINGINFOEX*, bool&) { ++calls; };
    EXPECT_EQ(arc.Extract(nullptr, nullptr, ToAnsi(dir / "out"), "", {}), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(test::ReadFile(streamFile), "stream");
}

TEST_F(ArchiveFileTest, OutputBufferAndCheck) {
    TArchiveFile arc;
    arc.SetFileName(Archive("a.lzh", "[Unlha]"));
    RecordingModule lha("UNLHA32.DLL");
    arc.Options().jse = arc.Options().jso = 1;
    arc.Options().IncludeExtraStreams = false;
    arc.SetOutputSize(15 * 1024);
    EXPECT_EQ(arc.OutputSize(), 15360);
    arc.Extract(nullptr, nullptr, "/out", "", {});
    EXPECT_EQ(arc.Output(), "done");
    EXPECT_TRUE(Contains(lha.log(), "|15360|nowindow"));
    EXPECT_TRUE(arc.CheckArchive(1, 0));
    EXPECT_TRUE(Contains(lha.log(), "UnlhaCheckArchive|" + arc.FileName() + "|1"));
    EXPECT_THROW(arc.CheckArchive(0x7FFFFFFF, 1), std::overflow_error);
}

TEST_F(ArchiveFileTest, PackFilesThroughTheArchiverAndThroughTheCollection) {
    const std::string base = dir / "base";
    test::WriteFile(base + "/a.txt", "a");
    test::WriteFile(base + "/b.txt", "b");
    test::WriteFile(base + "/c.dat", "c");
    test::WriteFile(base + "/sub/d.txt", "d");
    const AnsiString lzh = ToAnsi(dir / "out.lzh");
    TArchiveFile arc;
    arc.SetFileName(lzh);
    RecordingModule lha("UNLHA32.DLL");
    TArchiverOptions& o = arc.Options();
    o.jso = 1;

    // Collected: the files matching the pattern, reported through the progress dispatch.
    std::vector<std::string> reported;
    arc.OnProgress = [&](TArchiveFile*, int state, const EXTRACTINGINFOEX* e, bool&) {
        if (state == 2053) reported.push_back(e->sourceFileName);
    };
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, ToAnsi(base), {"*.txt"}), 0);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(Contains(lha.log(), "\"" + lzh + "\" \"" + base + "/\" \"a.txt\" \"b.txt\" ")) << lha.log();
    EXPECT_EQ(o.r, -1) << "the object's own options are left as they were";

    // Cancelled while collecting: nothing is packed.
    lha.reset();
    arc.OnProgress = [](TArchiveFile*, int, const EXTRACTINGINFOEX*, bool& abort) { abort = true; };
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, ToAnsi(base), {"*.txt"}), ARC_ERROR_USER_CANCEL);
    EXPECT_FALSE(Contains(lha.log(), "Unlha|u"));

    // Nothing matches: no command, an empty output.
    arc.OnProgress = nullptr;
    arc.SetOutputSize(10);
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, ToAnsi(base), {"*.none"}), 0);
    EXPECT_FALSE(Contains(lha.log(), "Unlha|u"));
    EXPECT_EQ(arc.Output(), "");

    // Through the archiver: the arguments go as they are.
    o.PackFilter = TPackFilter::pfArchiver;
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, ToAnsi(base), {"*.txt"}), 0);
    EXPECT_TRUE(Contains(lha.log(), "Unlha|u -+1 -jso1  \"" + lzh + "\" \"" + base + "/\" \"*.txt\" |"))
        << lha.log();
}

class ZipSafetyTest : public ArchiveFileTest {};

TEST_F(ZipSafetyTest, PackingNeverLosesTheExistingArchive) {
    const AnsiString zip = Archive("a.zip", "[UnZip] old contents");
    TArchiveFile arc;
    arc.SetFileName(zip);
    RecordingModule zipj("ZIP32J.DLL");
    TArchiverOptions& o = arc.Options();
    o.PackFilter = TPackFilter::pfArchiver;

    zipj.set("result", ARC_ERROR_CANNOT_WRITE);
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {"f"}), ARC_ERROR_CANNOT_WRITE);
    EXPECT_EQ(test::ReadFile(dir / "a.zip"), "[UnZip] old contents");

    zipj.set("result", 0);
    zipj.set("touch", 1);  // the module writes the new archive
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {"f"}), 0);
    EXPECT_EQ(test::ReadFile(dir / "a.zip"), "[Zip] new archive");
    EXPECT_FALSE(FileExists(zip + ".nvxold"));

    // Delete and update work on the archive itself and never remove it.
    zipj.set("touch", 0);
    zipj.set("result", ARC_ERROR_CANNOT_WRITE);
    AnsiString cmd, out;
    EXPECT_EQ(arc.Driver()->Delete(nullptr, zip, o, {"f"}, false, cmd, out), ARC_ERROR_CANNOT_WRITE);
    EXPECT_EQ(arc.Driver()->Update(nullptr, zip, o, "", {"f"}, false, cmd, out), ARC_ERROR_CANNOT_WRITE);
    EXPECT_EQ(test::ReadFile(dir / "a.zip"), "[Zip] new archive");
    EXPECT_TRUE(Contains(zipj.log(), "Zip|-d -D  \"" + zip + "\" \"f\" |"));
}

// Runs a test with the current folder in a scratch folder (the stub files are looked up there too).
class SfxTest : public ArchiveFileTest {
protected:
    void SetUp() override {
        ArchiveFileTest::SetUp();
        saved = GetCurrentDir();
        ASSERT_TRUE(SetCurrentDir(ToAnsi(dir.path())));
    }
    void TearDown() override {
        SetCurrentDir(saved);
        ArchiveFileTest::TearDown();
    }
    AnsiString saved;
};

TEST_F(SfxTest, ZipSelfExtractingArchiveIsStubThenArchive) {
    const AnsiString zip = Archive("a.zip", "[UnZip]zipdata");
    TZip32 driver;
    TArchiverOptions o;
    AnsiString cmd, out;
    try {
        driver.MakeSfx(nullptr, zip, cmd, out, "", o);
        FAIL();
    } catch (const ESfxNoRequiredFile& e) {
        EXPECT_EQ(e.Message(), "zip 書庫からのDOS自己解凍書庫の作成には 'sfx16.dat' ファイルが必要です。"_ansi);
    }
    o.gw = 1;
    try {
        driver.MakeSfx(nullptr, zip, cmd, out, "", o);
        FAIL();
    } catch (const ESfxNoRequiredFile& e) {
        EXPECT_EQ(e.Message(), "zip 書庫からのWin32自己解凍書庫の作成には 'sfx32gui.dat' ファイルが必要です。"_ansi);
    }
    EXPECT_FALSE(FileExists(ToAnsi(dir / "a.EXE"))) << "nothing is written before every check passed";

    test::WriteFile(dir / "sfx32gui.dat", "STUB");
    EXPECT_THROW(driver.MakeSfx(nullptr, zip, cmd, out, ToAnsi(dir / "missing"), o), EFCreateError);
    ASSERT_TRUE(ForceDirectories(ToAnsi(dir / "sub")));
    RecordingModule zipj("ZIP32J.DLL");
    zipj.set("result", ARC_ERROR_CANNOT_WRITE);
    EXPECT_EQ(driver.MakeSfx(nullptr, zip, cmd, out, ToAnsi(dir / "sub"), o), ARC_ERROR_CANNOT_WRITE);
    EXPECT_TRUE(FileExists(zip)) << "a failed command keeps the archive";
    zipj.set("result", 0);
    EXPECT_EQ(driver.MakeSfx(nullptr, zip, cmd, out, ToAnsi(dir / "sub"), o), 0);
    EXPECT_FALSE(FileExists(zip)) << "the archive went into the .EXE";
    EXPECT_EQ(cmd, "-A " + ToAnsi(dir / "sub/a.EXE"));
    EXPECT_EQ(test::ReadFile(dir / "sub/a.EXE"), "STUB[UnZip]zipdata");
    EXPECT_TRUE(Contains(zipj.log(), "Zip|-A " + FromAnsi(cmd.substr(3)) + "|"));
}

TEST_F(SfxTest, ZipSelfExtractingArchiveNeedsTheCreatingModule) {
    UseSet("lmzip");
    const AnsiString zip = Archive("a.zip", "[Unzip]");
    test::WriteFile(dir / "sfx16.dat", "STUB");
    TArchiverOptions o;
    AnsiString cmd, out;
    try {
        TZip32().MakeSfx(nullptr, zip, cmd, out, "", o);
        FAIL();
    } catch (const ESfxNoRequiredFile& e) {
        EXPECT_EQ(e.Message(), "zip 書庫からの自己解凍書庫の作成には 'ZIP32J.DLL' ファイルが必要です。"_ansi);
    }
    EXPECT_FALSE(FileExists(ToAnsi(dir / "a.EXE")));
}

TEST_F(SfxTest, JoinedSelfExtractingArchives) {
    const AnsiString yz1 = Archive("a.yz1", std::string(1000, 'y'));
    TArchiverOptions o;
    AnsiString cmd, out;
    try {
        TYZ1().MakeSfx(nullptr, yz1, cmd, out, "", o);
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "yz1 書庫からのDOS自己解凍書庫の作成には yzdos16.sfx が必要です。"_ansi);
    }
    o.gw = 1;
    try {
        TYZ1().MakeSfx(nullptr, yz1, cmd, out, "", o);
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "yz1 書庫からのWin32自己解凍書庫の作成には yzw32cui.sfx か yzdec.exe が必要です。"_ansi);
    }
    test::WriteFile(dir / "yzdec.exe", "DEC");
    EXPECT_EQ(TYZ1().MakeSfx(nullptr, yz1, cmd, out, "", o), 0);
    const std::string exe = test::ReadFile(dir / "a.exe");
    ASSERT_EQ(exe.size(), 3u + 1000u + 4u);
    EXPECT_EQ(exe.substr(0, 3), "DEC");
    EXPECT_EQ(exe.substr(1003), std::string("\x00\x00\x03\xE8", 4));

    try {
        TSevenZip32().MakeSfx(nullptr, Archive("a.7z", "7z"), cmd, out, "", TArchiverOptions());
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "16bit SFX を作成することはできません。"_ansi);
    }
    try {
        TSevenZip32().MakeSfx(nullptr, Archive("a.7z", "7z"), cmd, out, "", o);
        FAIL();
    } catch (const ESfxNoRequiredFile& e) {
        EXPECT_EQ(e.Message(), "7z 書庫からの自己解凍書庫の作成には '7z.sfx' ファイルが必要です。"_ansi);
    }
    try {
        TBZ232().MakeSfx(nullptr, Archive("a.bz2", "bz"), cmd, out, "", o);
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "BZ2 形式書庫は自己解凍形式にできません。"_ansi);
    }
    try {
        TTgz32().MakeSfx(nullptr, Archive("a.tgz", "tgz"), cmd, out, "", o);
        FAIL();
    } catch (const ESfxNoRequiredFile& e) {
        EXPECT_EQ(e.Message(), "tar/tgz 書庫からの自己解凍書庫の作成には 'kmtarsef.exe' ファイルが必要です。"_ansi);
    }
    test::WriteFile(dir / "KMTARSEF.EXE", "K");
    EXPECT_EQ(TTgz32().MakeSfx(nullptr, ToAnsi(dir / "a.tgz"), cmd, out, "", o), 0);
    EXPECT_EQ(test::ReadFile(dir / "a.EXE"), "Ktgz");
}

}  // namespace
}  // namespace norvex
