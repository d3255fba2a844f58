// A name taken by another process while an entry is being written: the complete file takes its name in
// one link that never replaces anything, so what appeared in the meantime is replaced only where the
// user allowed replacing, and a link planted there is never followed.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
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
int32_t ExtractWithPlant(const std::string& dir, const std::string& switches, const std::function<void()>& plant,
                         std::vector<TestWindow::Refusal>* told = nullptr) {
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    if (!module.ok()) return -1;
    TestWindow window;
    window.listenForRefusals();
    bool planted = false;
    window.stopWhen = [&](const TestWindow::Progress& p) {
        if (!planted && p.source == "a.txt" && p.size == 3000 && p.written == 3000) {
            plant();
            planted = true;
        }
        return false;
    };
    const int32_t code = module.run(&window, "-x " + switches + " " + Q(dir + "/a.zip") + " " + Q(dir + "/out/"));
    if (told) *told = window.refusals;
    return code;
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

    // Never replace: the file that appeared stays as it is, no temporary is left, and the host is
    // told that the entry did not land.
    auto plantFile = [&] { WriteFile(out + "/a.txt", "theirs"); };
    std::vector<TestWindow::Refusal> told;
    const int32_t never = ExtractWithPlant(dir.path(), "-n", plantFile, &told);
    if (never == -1) GTEST_SKIP() << "unzip32.so is not built";
    EXPECT_EQ(never, ARC_OK);
    EXPECT_EQ(SnapshotTree(out), (std::map<std::string, std::string>{{"a.txt", "f:theirs"}}));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].cause, ARC_CAUSE_KEPT_EXISTING);
    EXPECT_EQ(told[0].name, "a.txt");

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

// "Never" keeps a file found at the entry's name and tells the host so; a host whose window is older
// than refused (a smaller structSize) is not called, one that answers 0 changes nothing: the same
// files either way, and the module's own log gains no line.
TEST(NameTaken, AFileKeptByNeverIsToldToHostsThatKnowHow) {
    if (!HaveTool("zip")) GTEST_SKIP();
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
    TempDir dir;
    WriteFile(dir / "src/a.txt", "archive a");
    WriteFile(dir / "src/b.txt", "archive b");
    ASSERT_EQ(RunTool({"zip", "-q", dir / "ab.zip", "a.txt", "b.txt"}, dir / "src").exitCode, 0);
    const std::string out = dir / "out";
    struct Case {
        const char* what;
        uint32_t structSize;
        int32_t answer;
        std::size_t calls;
    } cases[] = {
        {"current window", sizeof(NvxWindow), 1, 1},
        {"host answers 0", sizeof(NvxWindow), 0, 1},
        {"window older than refused", offsetof(NvxWindow, refused), 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(out);
        WriteFile(out + "/a.txt", "mine");
        TestWindow window;
        window.listenForRefusals();
        window.structSize = c.structSize;
        window.refusedAnswer = c.answer;
        std::string output;
        EXPECT_EQ(module.run(&window, "-x -n " + Q(dir / "ab.zip") + " " + Q(out + "/"), &output), ARC_OK);
        EXPECT_EQ(output, "");
        EXPECT_EQ(SnapshotTree(out), (std::map<std::string, std::string>{{"a.txt", "f:mine"}, {"b.txt", "f:archive b"}}));
        ASSERT_EQ(window.refusals.size(), c.calls);
        for (const TestWindow::Refusal& r : window.refusals) EXPECT_EQ(r.cause, ARC_CAUSE_KEPT_EXISTING);
    }
}
