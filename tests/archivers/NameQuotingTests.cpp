// Names through the command line: what the builder writes, the modules' reader gives back byte for
// byte, for every name a Linux file system can hold; and through the access layer into a real
// module, no name makes it open another archive or write into another folder.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archivers/ArchiverOptions.h"
#include "archivers/Archives.h"
#include "modules/common/CommandLine.h"
#include "platform/AnsiCodec.h"
#include "platform/ModuleLoader.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex {
namespace {

// Host (UTF-8 or raw) names that mean something to a command line, a shell or a codec.
const std::vector<std::string> kNames = {
    "a\"b", "\"", "\"\"", "q\"", "\"q", "a\" \"b", "x\"\"y", "*x?", "@at", "@", "-dash", "-", "--",
    "back\\slash", "trail\\", "co:lon", " lead", "trail ", "  ", "cr\rlf\n", "tab\tx", "\xff\xfe", "\x81",
    "表ソ", "é😀", "-@\"*?\\: \r\n",
};

std::string Show(const std::string& s) { return ::testing::PrintToString(s); }

TEST(NameQuoting, EveryNameComesBackFromTheReaderAsOneToken) {
    for (const std::string& host : kNames) {
        const AnsiString name = ToAnsi(host);
        TCmdOpt cmd;
        cmd.CommandLine = "-x";
        cmd.Add("-o");
        cmd.AddQuoted("", name + ".zip");
        cmd.AddFolder("", name);
        cmd.AddFiles("", {name, AnsiString("plain")});
        modules::CommandLine line;
        ASSERT_EQ(modules::ParseCommandLine(cmd.CommandLine, line), ARC_OK) << Show(host);
        EXPECT_EQ(line.switches, std::vector<AnsiString>{"-o"}) << Show(host);
        EXPECT_EQ(line.archive, ProtectName(name + ".zip")) << Show(host);
        EXPECT_EQ(line.destination, ProtectName(IncludeTrailingPathDelim(name))) << Show(host);
        EXPECT_EQ(line.masks, (std::vector<AnsiString>{ProtectName(name), "plain"})) << Show(host);
        // A protected name still names the same file.
        EXPECT_EQ(std::filesystem::path(FromAnsi(line.archive)).lexically_normal(),
                  std::filesystem::path(host + ".zip").lexically_normal())
            << Show(host);
    }
}

TEST(NameQuoting, ResponseFilesCarryTheSameNames) {
    test::TempDir dir;
    std::vector<AnsiString> names;
    for (const std::string& host : kNames) names.push_back(ToAnsi(host));
    for (const std::string& responseName : {std::string("list.txt"), std::string("@re\"sp -x.txt")}) {
        TCmdOpt cmd;
        cmd.CommandLine = "x";
        cmd.AddQuoted("", "/arc.lzh");
        cmd.AddFolder("", "/out");
        EXPECT_EQ(cmd.AddResponseFile({names}, ToAnsi(dir / responseName)), static_cast<int>(names.size()));
        modules::CommandLine line;
        ASSERT_EQ(modules::ParseCommandLine(cmd.CommandLine, line), ARC_OK) << cmd.CommandLine;
        EXPECT_EQ(line.archive, "/arc.lzh");
        ASSERT_EQ(line.masks.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(line.masks[i], ProtectName(names[i])) << Show(kNames[i]);
    }
}

// The reader's side of the rule, on lines written by hand: doubled quotes, a lone lead byte before
// the closing quote, and names that only look like switches or response files.
TEST(NameQuoting, ReaderTable) {
    struct Case {
        std::string line;
        std::string archive, destination;
    } cases[] = {
        {"x \"a\"\"b.zip\" \"d\"\"x/\"", "a\"b.zip", "d\"x/"},
        {"x \"\x81\" \"\x81\x81/\"", "\x81", "\x81\x81/"},
        {"x -o \"./-o\" \"./@d/\"", "./-o", "./@d/"},
        {"x \"\"\"\"\"\" \"a b\r\n/\"", "\"\"", "a b\r\n/"},
    };
    for (const Case& c : cases) {
        modules::CommandLine line;
        ASSERT_EQ(modules::ParseCommandLine(c.line, line), ARC_OK);
        EXPECT_EQ(line.archive, c.archive) << Show(c.line);
        EXPECT_EQ(line.destination, c.destination) << Show(c.line);
        EXPECT_TRUE(line.masks.empty()) << Show(c.line);
    }
}

// Through TArchiveFile into the real ZIP module, with absolute and relative names: each archive
// lands in its own folder, and the decoys that a misread line would pick are never touched.
TEST(NameQuoting, AccessLayerExtractsEachArchiveIntoItsOwnFolder) {
    if (!std::filesystem::exists(std::string(NVX_REAL_MODULE_DIR) + "/unzip32.so") || !test::HaveTool("zip"))
        GTEST_SKIP() << "no unzip32 module or zip tool";
    FreeArchiverDlls();
    SetModuleFolder(NVX_REAL_MODULE_DIR);
    test::TempDir dir;
    test::WriteFile(dir / "src/inner.txt", "inner");
    ASSERT_EQ(test::RunTool({"zip", "-q", dir / "src.zip", "inner.txt"}, dir / "src").exitCode, 0);
    const std::string zip = test::ReadFile(dir / "src.zip");
    // Decoys: the pieces a line split at the wrong place would name.
    for (const char* decoy : {"a", "b.zip", "q", "x", "o", "at.zip", "dash.zip"}) test::WriteFile(dir / decoy, "decoy");
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    for (bool relative : {false, true}) {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            const std::string& host = kNames[i];
            if (host.find('/') != std::string::npos) continue;
            const std::string folder = (relative ? "" : dir.path() + "/") + (relative ? "r" : "a") + std::to_string(i);
            std::filesystem::create_directories(folder);
            const std::string archive = folder + "/" + host + ".zip";
            test::WriteFile(archive, zip);
            const std::string dest = folder + "/" + host;
            TArchiveFile arc;
            arc.SetFileName(ToAnsi(archive));
            TArchiverOptions& o = arc.Options();
            o.x = o.a = o.n = 1;
            arc.SetOutputSize(4096);
            EXPECT_EQ(arc.Extract(nullptr, nullptr, ToAnsi(dest), "", {}), 0) << Show(host) << " " << arc.Output();
            EXPECT_EQ(test::ReadFile(dest + "/inner.txt"), "inner") << Show(host) << (relative ? " relative" : "");
        }
    }
    for (const char* decoy : {"a", "b.zip", "q", "x", "o", "at.zip", "dash.zip"})
        EXPECT_EQ(test::ReadFile(dir / decoy), "decoy") << decoy;
    ASSERT_EQ(::chdir(cwd), 0);
    FreeArchiverDlls();
    SetModuleFolder("");
}

}  // namespace
}  // namespace norvex
