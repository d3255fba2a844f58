// A name taken by another process while an entry is being written: the complete file takes its name in
// one link that never replaces anything, so what appeared in the meantime is replaced only where the
// user allowed replacing, and a link planted there is never followed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

// Extracts a.zip (one entry "a.txt", 3000 bytes) into out with switches; when the entry's data is
// whole, plant() puts something at out/a.txt, as another process would.
int32_t ExtractWithPlant(const std::string& dir, const std::string& switches, const std::function<void()>& plant) {
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    if (!module.ok()) return -1;
    TestWindow window;
    bool planted = false;
    window.stopWhen = [&](const TestWindow::Progress& p) {
        if (!planted && p.source == "a.txt" && p.size == 3000 && p.written == 3000) {
            plant();
            planted = true;
        }
        return false;
    };
    return module.run(&window, "-x " + switches + " " + Q(dir + "/a.zip") + " " + Q(dir + "/out/"));
}

}  // namespace

TEST(NameTaken, WhatAppearedIsReplacedOnlyWhereAllowedAndALinkIsNeverFollowed) {
    if (!HaveTool("zip")) GTEST_SKIP();
    TempDir dir;
    const std::string data(3000, 'n');
    WriteFile(dir / "src/a.txt", data);
    ASSERT_EQ(RunTool({"zip", "-q", dir / "a.zip", "a.txt"}, dir / "src").exitCode, 0);
    const std::string out = dir / "out";
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);

    // Never replace: the file that appeared stays as it is, and no temporary is left.
    auto plantFile = [&] { WriteFile(out + "/a.txt", "theirs"); };
    const int32_t never = ExtractWithPlant(dir.path(), "-n", plantFile);
    if (never == -1) GTEST_SKIP() << "unzip32.so is not built";
    EXPECT_EQ(never, ARC_OK);
    EXPECT_EQ(SnapshotTree(out), (std::map<std::string, std::string>{{"a.txt", "f:theirs"}}));

    // Asked, with nobody to ask: the entry is left out and said so.
    ASSERT_EQ(::unlink((out + "/a.txt").c_str()), 0);
    EXPECT_EQ(ExtractWithPlant(dir.path(), "", plantFile), ARC_ERROR_ALREADY_EXIST);
    EXPECT_EQ(SnapshotTree(out), (std::map<std::string, std::string>{{"a.txt", "f:theirs"}}));

    // Always replace: a link planted at the name is replaced, and the file it points to is untouched.
    ASSERT_EQ(::unlink((out + "/a.txt").c_str()), 0);
    WriteFile(dir / "outside.txt", "outside");
    auto plantLink = [&] { ASSERT_EQ(::symlink((dir / "outside.txt").c_str(), (out + "/a.txt").c_str()), 0); };
    EXPECT_EQ(ExtractWithPlant(dir.path(), "-o", plantLink), ARC_OK);
    EXPECT_EQ(SnapshotTree(out), (std::map<std::string, std::string>{{"a.txt", "f:" + data}}));
    EXPECT_EQ(ReadFile(dir / "outside.txt"), "outside");
}
