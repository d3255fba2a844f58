// Command lines, byte for byte: the builder's items, the option set, and every driver's commands.
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "archivers/ARJ32.h"
#include "archivers/BGA32.h"
#include "archivers/CAB32.h"
#include "archivers/LHA32.h"
#include "archivers/RAR32.h"
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

// ---- The builder ---------------------------------------------------------------------------------

TEST(CmdOptTest, ValuesFlagsNumbersAndFolders) {
    struct Case {
        std::function<void(TCmdOpt&)> add;
        std::string expected;
    } cases[] = {
        {[](TCmdOpt& c) { c.AddValue("x", "abc"); }, " \"-xabc\""},
        {[](TCmdOpt& c) { c.QuoteStyle = true; c.AddValue("x", "abc"); }, " -x \"abc\""},
        {[](TCmdOpt& c) { c.AddValue(" x", "abc"); }, " \"xabc\""},
        {[](TCmdOpt& c) { c.AddValue("", "abc"); }, " \"abc\""},
        {[](TCmdOpt& c) { c.AddValue("x", kNotGiven); }, ""},
        {[](TCmdOpt& c) { c.AddValue("x", ""); }, " \"-x\""},
        {[](TCmdOpt& c) { c.AddNumber("x", -1); }, ""},
        {[](TCmdOpt& c) { c.AddNumber("x", 0); }, " -x0"},
        {[](TCmdOpt& c) { c.AddFlag("x", false); c.AddFlag("y", true); }, " -y"},
        {[](TCmdOpt& c) { c.Add(""); }, " "},
        {[](TCmdOpt& c) { c.AddFolder("", "/out"); }, " \"/out/\""},
        {[](TCmdOpt& c) { c.AddFolder("", "/out/"); }, " \"/out/\""},
        {[](TCmdOpt& c) { c.AddFolder("w", ""); c.AddFolder("w", kNotGiven); }, ""},
        // A folder ending in "ソ" (0x83 0x5C) gets its separator like any other.
        {[](TCmdOpt& c) { c.AddFolder("", "/a"_ansi + "ソ"_ansi); }, " \"/a" + "ソ"_ansi + "/\""},
        {[](TCmdOpt& c) {
             c.ConvertNameFunc = [](const AnsiString& s) { return "<" + s + ">"; };
             c.AddFile("", "f");
         },
         " \"<f>\""},
    };
    for (const Case& c : cases) {
        TCmdOpt cmd;
        c.add(cmd);
        EXPECT_EQ(cmd.CommandLine, c.expected);
    }
}

TEST(CmdOptTest, FileListsYieldTheirNamesAndDropEmptyOnes) {
    const char* const array[] = {"p1", "", "p2", nullptr};
    const std::vector<AnsiString> lines = {"l1", "l2", "l3"};
    EXPECT_EQ(ExpandFileList({AnsiString(), lines}), lines);
    EXPECT_EQ(ExpandFileList({"s", array, std::monostate{}, AnsiString("a")}),
              (std::vector<AnsiString>{"s", "p1", "p2", "a"}));
    TCmdOpt cmd;
    EXPECT_EQ(cmd.AddFiles("", {AnsiString(), lines}), 3);
    EXPECT_EQ(cmd.CommandLine, " \"l1\" \"l2\" \"l3\"");
}

TEST(CmdOptTest, ResponseFileHoldsQuotedConvertedNames) {
    test::TempDir dir;
    const AnsiString path = ToAnsi(dir / "resp.txt");
    TCmdOpt cmd;
    cmd.ConvertNameFunc = &TZip32::ConvertZipName;
    EXPECT_EQ(cmd.AddResponseFile({AnsiString("a\\b.txt"), "表.txt"_ansi}, path), 2);
    EXPECT_EQ(cmd.CommandLine, " \"@" + path + "\"");
    EXPECT_EQ(test::ReadFile(dir / "resp.txt"), "\"a/b.txt\"\r\n\"" + "表.txt"_ansi + "\"\r\n") << "cp932 bytes";

    TCmdOpt failing;
    failing.CommandLine = "x";
    EXPECT_THROW(failing.AddResponseFile({"a"}, ToAnsi(dir / "missing/resp.txt")), EFCreateError);
    EXPECT_EQ(failing.CommandLine, "x");
}

TEST(ArchiverOptionsTest, DefaultsResetAndCopies) {
    TArchiverOptions o;
    EXPECT_EQ(o.a, -1);
    EXPECT_EQ(o.gyx, -1);
    EXPECT_TRUE(IsNotGiven(o.w));
    EXPECT_TRUE(IsNotGiven(o.gyw));
    EXPECT_TRUE(o.UserOptions.empty());
    EXPECT_EQ(o.PackFilter, TPackFilter::pfComponent);
    EXPECT_TRUE(o.Uses(ruOnPack) && o.Uses(ruOnUnpack) && o.Uses(ruOnRemoveItem));
    EXPECT_FALSE(o.Uses(ruOnUpdate));

    o.a = 3;
    o.jx = {"one"};
    o.IncludeExtraStreams = false;
    o.StreamSeparator = "!!";
    o.ResFileUsage = ruOnUpdate;
    TArchiverOptions copy;
    o.AssignTo(copy);
    copy.jx.push_back("two");
    EXPECT_EQ(o.jx.size(), 1u) << "the copy has its own list";
    EXPECT_EQ(copy.ResFileUsage, ruOnUpdate);
    EXPECT_EQ(copy.a, 3);

    o.Reset();
    EXPECT_EQ(o.a, -1);
    EXPECT_TRUE(o.jx.empty());
    EXPECT_FALSE(o.IncludeExtraStreams) << "Reset keeps the stream settings";
    EXPECT_EQ(o.StreamSeparator, "!!");
}

// ---- Drivers -------------------------------------------------------------------------------------

enum class Op { Extract, Pack, Delete, Update, Sfx, Mem };

struct CommandCase {
    const char* what;
    std::function<std::unique_ptr<TArchiver>()> make;
    Op op;
    std::function<void(TArchiverOptions&)> set;
    bool owner;
    AnsiString archive, folder;
    TFileList files;
    std::string expected;
};

template <typename T>
std::function<std::unique_ptr<TArchiver>()> Make() {
    return [] { return std::unique_ptr<TArchiver>(new T); };
}

AnsiString Build(TArchiver& d, Op op, const TArchiverOptions& o, const AnsiString& archive, const AnsiString& folder,
                 const TFileList& files) {
    switch (op) {
        case Op::Extract: return d.BuildExtractCommand(archive, o, folder, files, true);
        case Op::Pack: return d.BuildPackCommand(archive, o, folder, files, true);
        case Op::Delete: return d.BuildDeleteCommand(archive, o, files, true);
        case Op::Update: return d.BuildUpdateCommand(archive, o, folder, files, true);
        case Op::Sfx: return d.BuildSfxCommand(archive, o, folder);
        case Op::Mem: return d.BuildMemExtractCommand(archive, o, files.empty() ? AnsiString() : ExpandFileList(files)[0]);
    }
    return {};
}

const auto kNone = [](TArchiverOptions&) {};
const auto kLhaBase = [](TArchiverOptions& o) { o.jse = 1; o.jso = 1; };

class DriverCommandTest : public test::ModuleSetTest {
protected:
    void SetUp() override { UseSet("full"); }

    void Check(const std::vector<CommandCase>& cases) {
        NvxWindow window{};
        for (const CommandCase& c : cases) {
            std::unique_ptr<TArchiver> d = c.make();
            if (c.owner) d->SetOwnerWindow(&window, nullptr);
            TArchiverOptions o;
            c.set(o);
            EXPECT_EQ(Build(*d, c.op, o, c.archive, c.folder, c.files), c.expected) << c.what;
        }
    }
};

TEST_F(DriverCommandTest, Lha) {
    Check({
        {"extraction with an owner window", Make<TLha32>(), Op::Extract, kLhaBase, true, "/a.lzh", "/out", {},
         "x -+1 -n1 -jse1 -jso1  \"/a.lzh\" \"/out/\" "},
        {"extraction without one", Make<TLha32>(), Op::Extract, kLhaBase, false, "/a.lzh", "/out", {},
         "x -+1 -jse1 -jso1  \"/a.lzh\" \"/out/\" "},
        {"n = 0 with an owner window", Make<TLha32>(), Op::Extract, [](auto& o) { o.jse = o.jso = 1; o.n = 0; }, true,
         "/a.lzh", "/out/", {}, "x -+1 -n1 -jse1 -jso1  \"/a.lzh\" \"/out/\" "},
        {"w with and without its separator, texts given empty", Make<TLha32>(), Op::Extract,
         [](auto& o) { o.jse = o.jso = 1; o.w = "/tmp/w"; o.jo = ""; }, false, "/a.lzh", "/out", {},
         "x -+1 \"-w/tmp/w/\" \"-jo\" -jse1 -jso1  \"/a.lzh\" \"/out/\" "},
        {"jx lines between jw and jyc", Make<TLha32>(), Op::Pack,
         [](auto& o) { o.jso = 1; o.jw = 1; o.jyc = 0; o.jx = {"*.bak", "tmp\\*"}; }, false, "/a.lzh", "/base",
         {"f1", "f2"}, "u -+1 -jso1 -jw1 \"-jx*.bak\" \"-jxtmp\\*\" -jyc0  \"/a.lzh\" \"/base/\" \"f1\" \"f2\" "},
        {"delete has no folder", Make<TLha32>(), Op::Delete, [](auto& o) { o.jso = 1; }, false, "/a.lzh", "", {"f1"},
         "d -+1 -jso1  \"/a.lzh\" \"f1\" "},
        {"update", Make<TLha32>(), Op::Update, [](auto& o) { o.jso = 1; o.UserOptions = "-q"; o.UserFileList = "*.c"; },
         false, "/a.lzh", "/base", {"f1"}, "f -+1 -jso1 -q \"/a.lzh\" \"/base/\" \"f1\" *.c"},
        {"self-extracting has no files", Make<TLha32>(), Op::Sfx, [](auto& o) { o.jso = 1; o.gw = 1; }, false,
         "/a.lzh", "/out", {}, "s -+1 -jso1 -gw1  \"/a.lzh\" \"/out/\" "},
        {"memory extraction has no word", Make<TLha32>(), Op::Mem, [](auto& o) { o.jso = 1; }, false, "/a.lzh", "",
         {"e.txt"}, " -+1 -jso1  \"/a.lzh\" \"e.txt\" "},
        {"ARJ sends the LHA line", Make<TArj32>(), Op::Extract, kLhaBase, false, "/a.arj", "/out", {},
         "x -+1 -jse1 -jso1  \"/a.arj\" \"/out/\" "},
    });
}

TEST_F(DriverCommandTest, LhaWritesEverySwitchInItsOrder) {
    TArchiverOptions o;
    int8_t v = 0;
    for (int8_t* s : {&o.a, &o.c, &o.e, &o.f, &o.h, &o.i, &o.l, &o.m, &o.n, &o.o, &o.p, &o.r, &o.s, &o.t, &o.u, &o.x,
                      &o.y, &o.z, &o.jc, &o.jd, &o.je, &o.jf, &o.jh, &o.ji, &o.jm, &o.jn, &o.jp, &o.jr, &o.jsb,
                      &o.jsc, &o.jsd, &o.jse, &o.jsf, &o.jsl, &o.jso, &o.jss, &o.jst, &o.jsv, &o.jsz, &o.jw, &o.jyc,
                      &o.jyd, &o.jyk, &o.jyn, &o.jyo, &o.ga, &o.gd, &o.ge, &o.gf, &o.gj, &o.gm, &o.gn, &o.go, &o.gp,
                      &o.gs, &o.gu, &o.gw, &o.gya, &o.gyc, &o.gyo, &o.gyq, &o.gys, &o.gyx})
        *s = static_cast<int8_t>(v++ % 3);
    o.w = "/w";
    o.jo = "JO";
    o.job = "JOB";
    o.jx = {"X"};
    o.jz = "JZ";
    o.gr = "GR";
    o.gyd = "GYD";
    o.gye = "GYE";
    o.gyt = "GYT";
    o.gyw = "GYW";
    EXPECT_EQ(TLha32().BuildExtractCommand("/a", o, "", {}, false),
              "x -+1 -a0 -c1 -e2 -f0 -h1 -i2 -l0 -m1 -n2 -o0 -p1 -r2 -s0 -t1 -u2 \"-w/w/\" -x0 -y1 -z2 -jc0 -jd1 "
              "-je2 -jf0 -jh1 -ji2 -jm0 -jn1 \"-joJO\" \"-jobJOB\" -jp2 -jr0 -jsb1 -jsc2 -jsd0 -jse1 -jsf2 -jsl0 "
              "-jso1 -jss2 -jst0 -jsv1 -jsz2 -jw0 \"-jxX\" -jyc1 -jyd2 -jyk0 -jyn1 -jyo2 \"-jzJZ\" -ga0 -gd1 -ge2 "
              "-gf0 -gj1 -gm2 -gn0 -go1 -gp2 \"-grGR\" -gs0 -gu1 -gw2 -gya0 -gyc1 \"-gydGYD\" \"-gyeGYE\" -gyo2 "
              "-gyq0 -gys1 \"-gytGYT\" \"-gywGYW\" -gyx2  \"/a\" ");
}

TEST_F(DriverCommandTest, LhaRefusesCommandsWithoutJseOrJso) {
    TArchiverOptions o;
    o.jso = 1;
    try {
        TLha32().BuildExtractCommand("/a.lzh", o, "/out", {}, false);
        FAIL();
    } catch (const EArchiverAssertion& e) {
        EXPECT_EQ(e.Message(), "jse オプションが設定されていません。"_ansi);
        EXPECT_EQ(e.Line(), 207);
    }
    EXPECT_NO_THROW(TLha32().BuildPackCommand("/a.lzh", o, "/b", {"f"}, false));
    o.jso = -1;
    o.jse = 1;
    try {
        TLha32().BuildPackCommand("/a.lzh", o, "/b", {"f"}, false);
        FAIL();
    } catch (const EArchiverAssertion& e) {
        EXPECT_EQ(e.Message(), "jso オプションが設定されていません。"_ansi);
        EXPECT_EQ(e.Line(), 214);
    }
}

TEST_F(DriverCommandTest, Zip) {
    Check({
        {"extraction rewrites file names", Make<TZip32>(), Op::Extract, kNone, false, "/a.zip", "/out",
         {"-x.txt", "dir\\[a].txt"}, "-x  \"/a.zip\" \"/out/\" \"[-]x.txt\" \"dir/[[]a].txt\" "},
        {"extraction switches", Make<TZip32>(), Op::Extract, [](auto& o) { o.c = 1; o.n = 1; o.x = 0; }, false,
         "/a.zip", "/out", {}, "-x -o --i -j  \"/a.zip\" \"/out/\" "},
        {"an owner window gives --i", Make<TZip32>(), Op::Extract, kNone, true, "/a.zip", "/out", {},
         "-x --i  \"/a.zip\" \"/out/\" "},
        {"a cp932 trail byte 0x5C stays", Make<TZip32>(), Op::Extract, kNone, false, "/a.zip", "", {"ソ\\a"_ansi},
         "-x  \"/a.zip\" \"" + "ソ/a"_ansi + "\" "},
        {"packing, form A", Make<TZip32>(), Op::Pack, [](auto& o) { o.a = 1; o.n = 1; o.jm = 9; }, false, "/a.zip",
         "/base", {"f.txt"}, " -S -D -q -o -9  \"/a.zip\" \"/base/\" \"f.txt\" "},
        {"a = 2 gives only -S", Make<TZip32>(), Op::Pack, [](auto& o) { o.a = 2; }, false, "/a.zip", "/base", {"f"},
         " -S  \"/a.zip\" \"/base/\" \"f\" "},
        {"every form A switch", Make<TZip32>(), Op::Pack,
         [](auto& o) { o.a = 0; o.l = 1; o.r = 1; o.u = 1; o.x = 0; o.jc = 1; o.ji = 1; o.jm = 0; o.gd = 1; }, false,
         "/a.zip", "", {"f"}, " -D -v -r -u -j -FF -k -0 -J  \"/a.zip\" \"f\" "},
        {"delete has no folder", Make<TZip32>(), Op::Delete, kNone, false, "/a.zip", "", {"f"},
         "-d -D  \"/a.zip\" \"f\" "},
        {"update keeps the folder", Make<TZip32>(), Op::Update, kNone, false, "/a.zip", "/base", {"f"},
         "-f -D  \"/a.zip\" \"/base/\" \"f\" "},
        {"memory extraction", Make<TZip32>(), Op::Mem, kNone, false, "/a.zip", "", {"-e.txt"},
         "  \"/a.zip\" \"[-]e.txt\" "},
    });
}

TEST_F(DriverCommandTest, ZipPackingWithOnlyLmzipUsesFormB) {
    UseSet("lmzip");
    Check({
        {"form B", Make<TZip32>(), Op::Pack, [](auto& o) { o.c = 1; o.x = 0; o.a = 1; }, false, "/a.zip", "/base",
         {"dir\\[a].txt"}, "-ru -o -j  \"/a.zip\" \"dir\\[a].txt\" "},
    });
}

TEST_F(DriverCommandTest, SevenZip) {
    Check({
        {"m = 2 wins over c", Make<TSevenZip32>(), Op::Extract, [](auto& o) { o.m = 2; o.c = 1; }, false, "/a.7z",
         "/out", {}, "x -aou -ms=off \"-o/out/\"  \"/a.7z\" "},
        {"jn", Make<TSevenZip32>(), Op::Extract, [](auto& o) { o.jn = 1; o.c = 1; }, false, "/a.7z", "/out", {},
         "x -aos -ms=off \"-o/out/\"  \"/a.7z\" "},
        {"c alone", Make<TSevenZip32>(), Op::Extract, [](auto& o) { o.c = 1; }, false, "/a.7z", "/out", {},
         "x -aoa -ms=off \"-o/out/\"  \"/a.7z\" "},
        {"x = 0 gives e", Make<TSevenZip32>(), Op::Extract, [](auto& o) { o.x = 0; o.r = 0; }, false, "/a.7z", "",
         {"f"}, "e -ms=off -r-  \"/a.7z\" \"f\" "},
        {"packing never overwrites by switch", Make<TSevenZip32>(), Op::Pack,
         [](auto& o) { o.c = 1; o.m = 2; o.r = 2; o.n = 1; o.y = 1; o.w = "/tmp"; o.jx = {"*.o"}; }, false, "/a.7z",
         "/base", {"f"}, "u -ms=off -hide -r \"-w/tmp/\" -y \"-x!*.o\" \"-o/base/\"  \"/a.7z\" \"f\" "},
        {"r = 1 writes nothing; delete has no folder", Make<TSevenZip32>(), Op::Delete, [](auto& o) { o.r = 1; },
         false, "/a.7z", "", {"f"}, "d -ms=off  \"/a.7z\" \"f\" "},
    });
}

TEST_F(DriverCommandTest, Yz1BgaRar) {
    Check({
        {"YZ1 m = 0", Make<TYZ1>(), Op::Extract, [](auto& o) { o.m = 0; o.c = 1; }, false, "/a.yz1", "/out", {},
         "x -+ -c2 -y2  \"/a.yz1\" \"/out/\" "},
        {"YZ1 m unset", Make<TYZ1>(), Op::Extract, [](auto& o) { o.c = 1; }, false, "/a.yz1", "/out", {},
         "x -+ -c1  \"/a.yz1\" \"/out/\" "},
        {"YZ1 m = 9, owner, p, x", Make<TYZ1>(), Op::Pack, [](auto& o) { o.m = 9; o.p = 3; o.x = 1; }, true, "/a.yz1",
         "/base", {"f"}, "c -+ -y0 -i -z3 -x1  \"/a.yz1\" \"/base/\" \"f\" "},
        {"BGA unset", Make<TBGA32>(), Op::Extract, kNone, false, "/a.gza", "/out", {},
         "x -n -j  \"/a.gza\" \"/out/\" "},
        {"BGA all", Make<TBGA32>(), Op::Pack, [](auto& o) { o.a = 1; o.c = 1; o.r = 1; o.x = 1; o.jm = 5; }, true,
         "/a.gza", "/base", {"f"}, "a -a -o -i -r -l5  \"/a.gza\" \"/base/\" \"f\" "},
        {"BGA delete", Make<TBGA32>(), Op::Delete, kNone, false, "/a.gza", "", {"f"}, "d -n -j  \"/a.gza\" \"f\" "},
        {"BGA self-extracting", Make<TBGA32>(), Op::Sfx, kNone, false, "/a.gza", "/out", {},
         "s -n -j  \"/a.gza\" \"/out/\" "},
        {"RAR unset", Make<TRar32>(), Op::Extract, kNone, false, "/a.rar", "/out", {},
         "-x -u  \"/a.rar\" \"/out/\" "},
        {"RAR all", Make<TRar32>(), Op::Extract, [](auto& o) { o.x = 0; o.c = 1; o.m = 1; o.p = 1; }, false, "/a.rar",
         "/out", {}, "-e -y -s  \"/a.rar\" \"/out/\" "},
        {"RAR memory", Make<TRar32>(), Op::Mem, kNone, false, "/a.rar", "", {"e"}, " -u  \"/a.rar\" \"e\" "},
    });
}

TEST_F(DriverCommandTest, TarFamilyAndCab) {
    test::TempDir dir;
    const AnsiString cwd = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(ToAnsi(dir.path())));
    const AnsiString fullCab = ExpandFileName("a.cab");
    Check({
        {"TGZ jm = 9", Make<TTgz32>(), Op::Pack, [](auto& o) { o.jm = 9; }, false, "/a.tgz", "/base", {"f"},
         "c -z9  \"/a.tgz\" \"/base/\" \"f\" "},
        {"TGZ jm unset", Make<TTgz32>(), Op::Pack, kNone, false, "/a.tgz", "", {"f"}, "c -z  \"/a.tgz\" \"f\" "},
        {"BZ2 jm = 0", Make<TBZ232>(), Op::Pack, [](auto& o) { o.jm = 0; }, false, "/a.bz2", "", {"f"},
         "c -B  \"/a.bz2\" \"f\" "},
        {"TAR switches", Make<TTar32>(), Op::Extract, [](auto& o) { o.a = 1; o.n = 1; o.o = 1; o.p = 0; o.jm = 9; },
         false, "/a.tar", "/out", {}, "-x -AH --display-dialog=0 -g --check-all-path=0  \"/a.tar\" \"/out/\" "},
        {"TAR with an owner window never hides dialogs", Make<TTar32>(), Op::Extract,
         [](auto& o) { o.a = 0; o.n = 1; }, true, "/a.tar", "/out", {}, "-x -I  \"/a.tar\" \"/out/\" "},
        {"TAR without an archive name", Make<TTar32>(), Op::Mem, kNone, false, "", "", {"e"}, "  \"e\" "},
        {"CAB extraction expands the archive", Make<TCab32>(), Op::Extract,
         [](auto& o) { o.c = 1; o.n = 1; o.r = 1; o.w = "/h"; o.x = 0; o.ji = 1; }, false, "a.cab", "/out", {},
         "-x -o -i -r \"-h/h/\" -j -q  \"" + fullCab + "\" \"/out/\" "},
        {"CAB packing", Make<TCab32>(), Op::Pack, kNone, true, "a.cab", "/base", {"f"},
         "-a -i  \"a.cab\" \"/base/\" \"f\" "},
        {"CAB self-extracting", Make<TCab32>(), Op::Sfx, kNone, false, "/a.cab", "", {}, "-f  \"/a.cab\" "},
    });
    SetCurrentDir(cwd);
}

TEST_F(DriverCommandTest, UnsupportedOperationsRaiseTheirMessages) {
    TArchiverOptions o;
    struct Case {
        std::function<void()> run;
        const char* message;
    } cases[] = {
        {[&] { TRar32().BuildPackCommand("/a", o, "", {}, false); }, "この形式では書庫ファイルの作成をサポートしておりません。"},
        {[&] { TYZ1().BuildDeleteCommand("/a", o, {}, false); }, "この形式の書庫ではファイルの削除をサポートしておりません。"},
        {[&] { TBGA32().BuildUpdateCommand("/a", o, "", {}, false); }, "この形式の書庫では書庫の更新をサポートしておりません。"},
        {[&] { TRar32().BuildSfxCommand("/a", o, ""); }, "この形式では自己解凍書庫の作成をサポートしておりません。"},
        {[&] { TSevenZip32().BuildMemExtractCommand("/a", o, "e"); }, "この形式ではメモリ展開をサポートしておりません。"},
    };
    for (const Case& c : cases) {
        try {
            c.run();
            ADD_FAILURE() << c.message;
        } catch (const EArchiver& e) {
            EXPECT_EQ(e.MessageUtf8(), c.message);
        }
    }
}

TEST_F(DriverCommandTest, ResponseFileFlagFollowsTheOptions) {
    test::TempDir dir;
    TArchiverOptions o;
    o.jse = o.jso = 1;
    o.ResFileName = ToAnsi(dir / "list.txt");
    o.ResFileUsage = ruOnPack;  // not on unpacking
    EXPECT_EQ(TLha32().BuildExtractCommand("/a.lzh", o, "", {"f"}, true), "x -+1 -jse1 -jso1  \"/a.lzh\" \"f\" ");
    EXPECT_EQ(TLha32().BuildPackCommand("/a.lzh", o, "", {"f"}, false),
              "u -+1 -jse1 -jso1  \"/a.lzh\" \"@" + o.ResFileName + "\" ");
    EXPECT_EQ(test::ReadFile(dir / "list.txt"), "\"f\"\r\n");
}

}  // namespace
}  // namespace norvex
