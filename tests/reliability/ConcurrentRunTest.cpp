// Two runs on one destination: one is stopped (SIGSTOP) in the middle of a step while the other
// runs to its end, then resumed. Neither may delete, move aside, fill or overwrite what the other
// made: folders a run works in are claimed, residue is removed by identity, and a folder that another
// run made since this one began is not moved aside. Also the window's engine host with norvex-cli.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

constexpr const char* kBig = "@300000000";

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

class ConcurrentRuns : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
        root = td.path();
        dest = root + "/dest";
        for (const char* d : {"/dest", "/a", "/b", "/logA", "/logB"}) fs::create_directories(root + d);
    }

    std::string Zip(const std::string& path, const std::vector<std::string>& entries, bool bad = false) {
        EXPECT_TRUE(MakeTestZip(root + "/" + path, entries, bad));
        return root + "/" + path;
    }
    std::string Ini(const std::string& text) {
        WriteFile(root + "/run.ini", "[Main]\r\nPreTestArc=0\r\n" + text);
        return root + "/run.ini";
    }
    std::vector<std::string> Args(const std::string& ini, const std::string& archive) {
        return {"--ini", ini, "--to", dest, "--answer", "yes", "-d", archive};
    }

    // Starts run A and stops it as soon as its log shows marker (and, when given, the folder claimed
    // exists: the count is logged just before the claim, and a busy machine may stop A in between):
    // the step that follows is where A stands while B runs.
    pid_t StartStopped(const std::vector<std::string>& args, const std::string& marker,
                       const std::string& claimed = "") {
        const pid_t pid = StartCli(args, root, root + "/logA");
        for (int i = 0; i < 4000; ++i) {
            if (ReadFile(root + "/logA/cli.out").find(marker) != std::string::npos &&
                (claimed.empty() || fs::exists(claimed))) {
                kill(pid, SIGSTOP);
                return pid;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "run A never reached " << marker;
        return pid;
    }
    CliRun Resume(pid_t pid) {
        kill(pid, SIGCONT);
        CliRun run = WaitCli(pid, root + "/logA", 180);
        EXPECT_FALSE(run.timedOut) << "run A hung";
        return run;
    }
    CliRun RunB(const std::vector<std::string>& args) {
        CliRun run = RunCli(args, root, root + "/logB", CliLimits{60, 0});
        EXPECT_FALSE(run.timedOut) << "run B hung (waiting for the stopped run?)";
        return run;
    }

    TempDir td;
    std::string root, dest;
};

}  // namespace

TEST_F(ConcurrentRuns, ABindFolderInUseIsNeitherMovedAsideNorFilled) {
    const std::string ini = Ini("");
    const std::string a = Zip("a/pics.zip", {"big.bin=" + std::string(kBig), "a1.txt=A", "a2.txt=A"});
    const std::string b = Zip("b/pics.zip", {"b1.txt=B", "b2.txt=B"});
    const pid_t pid = StartStopped(Args(ini, a), "> [ バインド起動 ]");
    const CliRun runB = RunB(Args(ini, b));
    EXPECT_EQ(runB.exitCode, 1) << Joined(runB.lines);
    EXPECT_TRUE(fs::exists(b)) << "B's archive was disposed of without being extracted";
    EXPECT_FALSE(fs::exists(dest + "/pics_old1"));
    EXPECT_FALSE(fs::exists(dest + "/pics/b1.txt"));
    const CliRun runA = Resume(pid);
    EXPECT_EQ(runA.exitCode, 0) << Joined(runA.lines);
    EXPECT_EQ(ReadFile(dest + "/pics/a1.txt"), "A");
    EXPECT_EQ(fs::file_size(dest + "/pics/big.bin"), 300000000u);
    EXPECT_FALSE(fs::exists(dest + "/pics_old1"));
}

TEST_F(ConcurrentRuns, ASingleTopFolderInUseIsNotShared) {
    const std::string ini = Ini("");
    const std::string a = Zip("a/data1.zip", {"data1/big.bin=" + std::string(kBig), "data1/mine.txt=A"}, /*bad=*/true);
    const std::string b = Zip("b/data1.zip", {"data1/theirs.txt=B"});
    // A fails in the end (its last checksum): its residue goes, but never B's work.
    const pid_t pid = StartStopped(Args(ini, a), "> [ 最上位要素カウント ]", dest + "/data1");
    const CliRun runB = RunB(Args(ini, b));
    EXPECT_EQ(runB.exitCode, 1) << Joined(runB.lines);
    EXPECT_TRUE(fs::exists(b));
    EXPECT_FALSE(fs::exists(dest + "/data1/theirs.txt"));
    const CliRun runA = Resume(pid);
    EXPECT_EQ(runA.exitCode, 1);
    EXPECT_TRUE(fs::exists(a));
    EXPECT_FALSE(fs::exists(dest + "/data1")) << Joined(runA.lines);
    // Now that A is done, B's own run goes through.
    EXPECT_EQ(RunB(Args(ini, b)).exitCode, 0);
    EXPECT_EQ(ReadFile(dest + "/data1/theirs.txt"), "B");
}

TEST_F(ConcurrentRuns, ResidueIsRemovedByIdentityNotByName) {
    const std::string ini = Ini("");
    const std::string a = Zip("a/pics.zip", {"a1.txt=A", "a2.txt=A", "big.bin=" + std::string(kBig)}, /*bad=*/true);
    const pid_t pid = StartStopped(Args(ini, a), "> [ バインド起動 ]");
    // While A stands still, its folder is moved away and another takes the name.
    fs::rename(dest + "/pics", dest + "/pics_elsewhere");
    WriteFile(dest + "/pics/theirs.txt", "B");
    const CliRun runA = Resume(pid);
    EXPECT_EQ(runA.exitCode, 1);
    EXPECT_EQ(ReadFile(dest + "/pics/theirs.txt"), "B") << Joined(runA.lines);
    EXPECT_FALSE(HasLogText(runA, "> [ 残骸の削除 ] \"" + dest + "/pics\""));
    EXPECT_GE(CountLogContaining(runA, "[ 後始末エラー ]"), 1);
    EXPECT_TRUE(fs::exists(a));
}

TEST_F(ConcurrentRuns, AFolderAnotherRunMadeMeanwhileIsNotMovedAsideOrDeleted) {
    // The tail cut renames data1 to data; "replace" would delete an older data afterwards.
    const std::string ini = Ini("[Sub_TailCut]\r\nDelFolderNum=1\r\n[Sub_Bind]\r\nSameFolderProc=1\r\n");
    const std::string a = Zip("a/data1.zip", {"data1/big.bin=" + std::string(kBig), "data1/mine.txt=A"});
    const std::string b = Zip("b/data2.zip", {"data2/theirs.txt=B"});
    const pid_t pid = StartStopped(Args(ini, a), "> [ 最上位要素カウント ]", dest + "/data1");
    const CliRun runB = RunB(Args(ini, b));
    EXPECT_EQ(runB.exitCode, 0) << Joined(runB.lines);
    EXPECT_EQ(ReadFile(dest + "/data/theirs.txt"), "B");
    const CliRun runA = Resume(pid);
    EXPECT_EQ(runA.exitCode, 0) << Joined(runA.lines);
    EXPECT_EQ(ReadFile(dest + "/data/theirs.txt"), "B");
    EXPECT_FALSE(fs::exists(dest + "/data_old1"));
    EXPECT_EQ(ReadFile(dest + "/data1/mine.txt"), "A");
}

TEST_F(ConcurrentRuns, TheWindowsRunAndACliRunOnOneDestination) {
    const std::string a = Zip("a/pics.zip", {"big.bin=" + std::string(kBig), "a1.txt=A", "a2.txt=A"});
    const std::string b = Zip("b/pics.zip", {"b1.txt=B", "b2.txt=B"});
    const std::string ini = Ini("");
    // The window's engine stands in its extraction while norvex-cli runs to its end.
    TEngineRun window;
    window.settings.PreTestArc = false;
    window.settings.AfterMethod = TAfterMethod::Delete;
    window.settings.PutLocation = TPutLocation::SpecialFolder;
    window.settings.SpecialFolder = ToAnsi(dest);
    CliRun runB;
    bool ran = false;
    window.host.onProgress = [&](int) {
        if (ran) return;
        ran = true;
        runB = RunB(Args(ini, b));
    };
    window.Run({a});
    ASSERT_TRUE(ran);
    EXPECT_EQ(runB.exitCode, 1) << Joined(runB.lines);
    EXPECT_TRUE(fs::exists(b));
    EXPECT_FALSE(fs::exists(dest + "/pics_old1"));
    EXPECT_FALSE(fs::exists(dest + "/pics/b1.txt"));
    EXPECT_EQ(ReadFile(dest + "/pics/a1.txt"), "A");
    EXPECT_FALSE(fs::exists(a));  // the window's run succeeded and disposed of its own archive
}
