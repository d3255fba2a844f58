// The shared command-line reader: tokens and response files, the parts of a line, each dialect's
// switches, masks over cp932 names, and the path refusal rules of the extractor.
#include <gtest/gtest.h>

#include "modules/common/CommandLine.h"
#include "modules/common/SafeExtractor.h"
#include "platform/AnsiCodec.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::modules;
using namespace norvex::literals;

TEST(ModuleCommandLine, PartsOfTheHostsLines) {
    struct Case {
        std::string line;
        CommandKind kind;
        std::vector<std::string> switches;
        std::string archive, destination;
        std::vector<std::string> masks;
    };
    const Case cases[] = {
        {"x -+1 -n1 -jse1 -jso1  \"/a b/x.lzh\" \"/out dir/\" ", CommandKind::Extract,
         {"-+1", "-n1", "-jse1", "-jso1"}, "/a b/x.lzh", "/out dir/", {}},
        {"-x --i -q --i -n -j \"/z.zip\" \"/o/\" \"*.jpg\" \"*.png\"", CommandKind::Extract,
         {"--i", "-q", "--i", "-n", "-j"}, "/z.zip", "/o/", {"*.jpg", "*.png"}},
        {"-e -o- \"/r.rar\" \"/o\\\"", CommandKind::ExtractFlat, {"-o-"}, "/r.rar", "/o\\", {}},
        {"t \"/x.lzh\"", CommandKind::Test, {}, "/x.lzh", "", {}},
        {"u -+1 -jso1 \"/x.lzh\" \"/base/\" \"/base/f.txt\"", CommandKind::Other, {"-+1", "-jso1"}, "/x.lzh", "/base/",
         {"/base/f.txt"}},
    };
    for (const Case& c : cases) {
        CommandLine line;
        ASSERT_EQ(ParseCommandLine(c.line, line), ARC_OK) << c.line;
        EXPECT_EQ(line.kind, c.kind) << c.line;
        EXPECT_EQ(line.switches, c.switches) << c.line;
        EXPECT_EQ(line.archive, c.archive) << c.line;
        EXPECT_EQ(line.destination, c.destination) << c.line;
        EXPECT_EQ(line.masks, c.masks) << c.line;
    }
    CommandLine empty;
    EXPECT_EQ(ParseCommandLine("   ", empty), ARC_ERROR_COMMAND_NAME);
}

TEST(ModuleCommandLine, ResponseFileNamesReplaceTheReference) {
    test::TempDir dir;
    // cp932 content, one quoted name per line with CR LF, a name with a trail byte 0x5C included.
    test::WriteFile(dir / "list.txt", "\"" + "ソ表.txt"_ansi + "\"\r\n\"b c.txt\"\r\n");
    CommandLine line;
    ASSERT_EQ(ParseCommandLine("-x \"/a.zip\" \"/o/\" \"@" + dir.path() + "/list.txt\" last", line), ARC_OK);
    EXPECT_EQ(line.masks, (std::vector<AnsiString>{"ソ表.txt"_ansi, "b c.txt", "last"}));
    EXPECT_EQ(ParseCommandLine("-x \"/a.zip\" \"/o/\" @" + dir.path() + "/missing.txt", line), ARC_ERROR_RESPONSE_READ);
}

TEST(ModuleCommandLine, SwitchDialectsOfTheTable) {
    struct Case {
        SwitchDialect dialect;
        std::string line;
        bool folders;
        OverwritePolicy policy;
    };
    const Case cases[] = {
        {SwitchDialect::Lha, "x -x1 \"a\" \"o/\"", true, OverwritePolicy::Ask},
        {SwitchDialect::Lha, "x -x0 -u0 \"a\" \"o/\"", false, OverwritePolicy::Always},
        {SwitchDialect::Lha, "x -u0 -jyc1 -jyo0 \"a\" \"o/\"", true, OverwritePolicy::Ask},
        {SwitchDialect::Lha, "x -jn1 \"a\" \"o/\"", true, OverwritePolicy::Never},
        {SwitchDialect::Lha, "x -u1 -+1 -a1 -n1 -jse1 -jso1 \"a\" \"o/\"", true, OverwritePolicy::IfNewer},
        {SwitchDialect::Zip, "-x --i -q --i  \"a\" \"o/\"", true, OverwritePolicy::Ask},
        {SwitchDialect::Zip, "-x -q --i -o -j \"a\" \"o/\"", false, OverwritePolicy::Always},
        {SwitchDialect::Zip, "-x -n \"a\" \"o/\"", true, OverwritePolicy::Never},
        {SwitchDialect::Zip, "-x -u \"a\" \"o/\"", true, OverwritePolicy::IfNewer},
        {SwitchDialect::Cab, "-x -j -i -o \"a\" \"o/\"", false, OverwritePolicy::Always},
        {SwitchDialect::Cab, "-x -i \"a\" \"o/\"", true, OverwritePolicy::Ask},
        {SwitchDialect::Cab, "-x -i -n \"a\" \"o/\"", true, OverwritePolicy::IfNewer},
        {SwitchDialect::Cab, "-x -i -o- \"a\" \"o/\"", true, OverwritePolicy::Never},
        {SwitchDialect::Rar, "-x \"a\" \"o/\"", true, OverwritePolicy::Ask},
        {SwitchDialect::Rar, "-e -o \"a\" \"o/\"", false, OverwritePolicy::Always},
        {SwitchDialect::Rar, "-x -o- \"a\" \"o/\"", true, OverwritePolicy::Never},
        {SwitchDialect::Rar, "-x -u -y -s \"a\" \"o/\"", true, OverwritePolicy::IfNewer},
        {SwitchDialect::SevenZip, "x -ms=off \"-oo/\" \"a\"", true, OverwritePolicy::Ask},
        {SwitchDialect::SevenZip, "e -aoa -ms=off \"-oo/\" \"a\"", false, OverwritePolicy::Always},
        {SwitchDialect::SevenZip, "x -aos -ms=off -y \"-oo/\" \"a\"", true, OverwritePolicy::Never},
        {SwitchDialect::SevenZip, "x -y \"a\"", true, OverwritePolicy::Always},
        {SwitchDialect::SevenZip, "x -aou \"a\"", true, OverwritePolicy::Never},
        {SwitchDialect::SevenZip, "x -aon -r- -hide \"a\"", true, OverwritePolicy::IfNewer},
    };
    for (const Case& c : cases) {
        CommandLine line;
        ASSERT_EQ(ParseCommandLine(c.line, line), ARC_OK);
        ExtractOptions o = InterpretSwitches(c.dialect, line);
        EXPECT_EQ(o.useFolders, c.folders) << c.line;
        EXPECT_EQ(o.overwrite, c.policy) << c.line;
    }
}

// The 7z dialect names its destination in -o; every token after the archive is a mask, and other
// dialects keep their positional destination.
TEST(ModuleCommandLine, SevenZipDestinationSwitchAndMasks) {
    CommandLine line;
    ASSERT_EQ(ParseCommandLine("x -aoa \"-o/out dir/\" \"/a b.7z\" \"*.jpg\" \"sub/\"", line), ARC_OK);
    CommandLine zip = line;
    ApplyDialectLayout(SwitchDialect::SevenZip, line);
    EXPECT_EQ(line.archive, "/a b.7z");
    EXPECT_TRUE(line.hasDestination);
    EXPECT_EQ(line.destination, "/out dir/");
    EXPECT_EQ(line.masks, (std::vector<AnsiString>{"*.jpg", "sub/"}));
    ApplyDialectLayout(SwitchDialect::Zip, zip);
    EXPECT_EQ(zip.destination, "*.jpg");
    // Without -o the 7z destination is the current folder, and no mask is lost.
    ASSERT_EQ(ParseCommandLine("x \"a.7z\" \"x.txt\"", line), ARC_OK);
    ApplyDialectLayout(SwitchDialect::SevenZip, line);
    EXPECT_FALSE(line.hasDestination);
    EXPECT_EQ(line.masks, std::vector<AnsiString>{"x.txt"});
}

TEST(ModuleCommandLine, MasksMatchWholeCp932Characters) {
    // "ソ" and "表" end in 0x5C: never a separator, and "?" takes the whole character.
    const AnsiString so = "ソ"_ansi, hyo = "表"_ansi;
    EXPECT_TRUE(WildcardMatch("?.txt", so + ".txt"));
    EXPECT_FALSE(WildcardMatch("??.txt", so + ".txt"));
    EXPECT_TRUE(WildcardMatch("*" + hyo, "abc" + hyo));
    EXPECT_TRUE(WildcardMatch("README.TXT", "readme.txt"));
    EXPECT_FALSE(WildcardMatch("ａ.txt"_ansi, "Ａ.txt"_ansi));  // only ASCII folds
    EXPECT_TRUE(WildcardMatch("dir/[[]a].txt", "dir\\[a].txt", true));
    EXPECT_TRUE(WildcardMatch("[-]x.txt", "-x.txt", true));
    EXPECT_FALSE(WildcardMatch("[!a-c]*", "b.txt", true));

    MaskSet masks({"*.jpg", "*.PNG"}, false);
    EXPECT_TRUE(masks.matches("photos/a.jpg"));
    EXPECT_TRUE(masks.matches("photos\\b.png"));
    EXPECT_FALSE(masks.matches("photos.jpg/readme.txt"));
    MaskSet withPath({"docs/Readme.txt"}, false);
    EXPECT_TRUE(withPath.matches("docs\\README.TXT"));
    EXPECT_FALSE(withPath.matches("other/Readme.txt"));
    MaskSet name({"Readme.txt"}, false);
    EXPECT_TRUE(name.matches("a/b/readme.txt"));
    MaskSet underSo({so + "/"}, false);
    EXPECT_TRUE(underSo.matches(so + "/x.txt"));
    EXPECT_FALSE(underSo.matches(so + "x/y.txt"));
    EXPECT_TRUE(MaskSet().matches("anything"));
    EXPECT_EQ(EntryFileName("a/b\\" + so), so);
}

TEST(ModuleCommandLine, PathsThatLeaveTheDestinationAreRefused) {
    std::vector<AnsiString> parts;
    EXPECT_TRUE(SafeExtractor::SanitizePath("/etc/passwd", true, parts));
    EXPECT_EQ(parts, (std::vector<AnsiString>{"etc", "passwd"}));
    EXPECT_TRUE(SafeExtractor::SanitizePath("C:\\win\\x.ini", true, parts));
    EXPECT_EQ(parts, (std::vector<AnsiString>{"win", "x.ini"}));
    EXPECT_TRUE(SafeExtractor::SanitizePath("./a/./b", false, parts));
    EXPECT_EQ(parts, (std::vector<AnsiString>{"b"}));
    EXPECT_TRUE(SafeExtractor::SanitizePath("dir\\" + "ソ"_ansi, true, parts));
    EXPECT_EQ(parts, (std::vector<AnsiString>{"dir", "ソ"_ansi}));
    EXPECT_FALSE(SafeExtractor::SanitizePath("../x", true, parts));
    EXPECT_FALSE(SafeExtractor::SanitizePath("a\\..\\..\\x", true, parts));
    EXPECT_FALSE(SafeExtractor::SanitizePath("a/../x", false, parts));  // refused even when folders are dropped
    EXPECT_FALSE(SafeExtractor::SanitizePath("//", true, parts));
    // ASCII names and names with double-byte characters follow the same rules.
    for (const AnsiString& tail : {AnsiString("t"), "ソ"_ansi}) {
        EXPECT_TRUE(SafeExtractor::SanitizePath("./C:x/D:y/" + tail, true, parts));
        EXPECT_EQ(parts, (std::vector<AnsiString>{"x", "D:y", tail}));
        EXPECT_TRUE(SafeExtractor::SanitizePath("C:..x\\." + tail + "/", true, parts));
        EXPECT_EQ(parts, (std::vector<AnsiString>{"..x", "." + tail}));
        EXPECT_FALSE(SafeExtractor::SanitizePath("C:../" + tail, true, parts));
        EXPECT_FALSE(SafeExtractor::SanitizePath(AnsiString("a\0b/", 4) + tail, true, parts));
        EXPECT_FALSE(SafeExtractor::SanitizePath("./" + tail.substr(0, 0), true, parts));
    }
}
