// The layer over the real archiver modules of the build, when they are there: lists archives that the
// system's own tools made.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archivers/Archives.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex {
namespace {

class RealModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeArchiverDlls();
        SetModuleFolder(NVX_REAL_MODULE_DIR);
    }
    void TearDown() override {
        FreeArchiverDlls();
        SetModuleFolder("");
    }
    static bool Have(const char* module) { return FileExists(AnsiString(NVX_REAL_MODULE_DIR) + "/" + module); }

    std::vector<std::string> List(const AnsiString& path) {
        TArchiveFile arc;
        arc.SetFileName(path);
        std::vector<std::string> names;
        if (arc.OpenArchive(nullptr, 0) != 0) return names;
        TArchiveEntryInfo info{};
        for (int r = arc.FindFirst("*.*", &info); r == 0; r = arc.FindNext(&info)) {
            names.push_back(FromAnsi(info.entry.fileName));
            EXPECT_NE(info.lastWriteTime, 0u);
        }
        arc.CloseArchive();
        return names;
    }
    test::TempDir dir;
};

TEST_F(RealModuleTest, ListsAZipArchive) {
    if (!Have("unzip32.so") || !test::HaveTool("zip")) GTEST_SKIP() << "no unzip32 module or zip tool";
    test::WriteFile(dir / "src/one.txt", "one");
    test::WriteFile(dir / "src/two.txt", "two two");
    ASSERT_EQ(test::RunTool({"zip", "-q", "-r", dir / "t.zip", "one.txt", "two.txt"}, dir / "src").exitCode, 0);
    auto names = List(ToAnsi(dir / "t.zip"));
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt"}));
}

TEST_F(RealModuleTest, ListsAnLzhArchiveAndFindsItByContent) {
    if (!Have("unlha32.so") || !test::HaveTool("lha")) GTEST_SKIP() << "no unlha32 module or lha tool";
    test::WriteFile(dir / "src/one.txt", "one");
    ASSERT_EQ(test::RunTool({"lha", "-aq", dir / "t.lzh", "one.txt"}, dir / "src").exitCode, 0);
    EXPECT_EQ(List(ToAnsi(dir / "t.lzh")), (std::vector<std::string>{"one.txt"}));
    ASSERT_TRUE(CopyFile(ToAnsi(dir / "t.lzh"), ToAnsi(dir / "t.dat"), false));
    EXPECT_EQ(List(ToAnsi(dir / "t.dat")), (std::vector<std::string>{"one.txt"})) << "detected when opened";
}

}  // namespace
}  // namespace norvex
