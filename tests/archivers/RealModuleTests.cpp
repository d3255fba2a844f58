// The layer over the real archiver modules of the build, when they are there: lists archives that the
// system's own tools made.
#include <algorithm>
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
            EXPECT_NE(uint64_t{info.lastWriteTime}, 0u);
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

TEST_F(RealModuleTest, PacksListsAndExtractsAnLzhArchive) {
    if (!Have("unlha32.so")) GTEST_SKIP() << "no unlha32 module";
    test::WriteFile(dir / "src/one.txt", "one");
    test::WriteFile(dir / "src/two.txt", "two two");
    {
        TArchiveFile arc;
        arc.SetFileName(ToAnsi(dir / "t.lzh"));
        arc.Options().jso = 1;
        arc.SetOutputSize(4096);
        // Absolute names, as the engine passes them; the module stores them relative to the base folder.
        ASSERT_LT(arc.PackFiles(nullptr, nullptr, ToAnsi(dir / "src"), {ToAnsi(dir / "src/*.txt")}), ARC_ERROR_FIRST)
            << arc.Output();
    }
    std::vector<std::string> names = List(ToAnsi(dir / "t.lzh"));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt"}));

    ASSERT_TRUE(CopyFile(ToAnsi(dir / "t.lzh"), ToAnsi(dir / "t.dat"), false));
    EXPECT_EQ(List(ToAnsi(dir / "t.dat")).size(), 2u) << "detected by content when opened";

    TArchiveFile arc;
    arc.SetFileName(ToAnsi(dir / "t.lzh"));
    TArchiverOptions& o = arc.Options();
    o.n = o.jse = o.jso = o.a = 1;
    o.jyc = 1;
    int progress = 0;
    arc.OnProgress = [&](TArchiveFile*, int state, const EXTRACTINGINFOEX*, bool&) { progress += state == 1; };
    EXPECT_LT(arc.Extract(nullptr, nullptr, ToAnsi(dir / "out"), "", {}), ARC_ERROR_FIRST);
    EXPECT_EQ(test::ReadFile(dir / "out/two.txt"), "two two");
    EXPECT_GT(progress, 0) << "progress came through the progress window";
}

}  // namespace
}  // namespace norvex
