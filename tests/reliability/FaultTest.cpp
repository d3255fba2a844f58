// Faults during a run: a destination that fills up or cannot be written, an archive cut or removed
// between its listing and its extraction, a break at each stage, the process killed during an
// extraction and during a settings save. After each: the archive still exists unless its extraction
// succeeded, no folder that existed before is gone, no residue folder is left, the ini file is whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>

#include "settings/SettingsBlock.h"
#include "settings/uIniControl.h"
#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

std::string Random(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

// A scratch folder with two archives and what lay there before:
//   multi.zip  three top-level files (extracted into a new bind folder "multi")
//   data.zip   one top folder "data" that already exists, holding old.txt
//   keep/      a folder of the user's
class FaultScene : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
        root = td.path();
        BuildScene();
    }

    // Puts the scene back as it was before a run.
    void Reset() {
        for (const auto& e : fs::directory_iterator(root)) fs::remove_all(e.path());
        BuildScene();
    }

    void BuildScene() {
        for (int i = 0; i < 3; ++i) WriteFile(root + "/src/m/f" + std::to_string(i) + ".bin", Random(200 << 10, i + 1));
        WriteFile(root + "/src/d/data/x.bin", Random(300 << 10, 7));
        WriteFile(root + "/src/d/data/y.bin", Random(300 << 10, 8));
        fs::create_directories(root + "/arc");
        ASSERT_TRUE(MakeZip(root + "/arc/multi.zip", root + "/src/m", {"f0.bin", "f1.bin", "f2.bin"}, true));
        ASSERT_TRUE(MakeZip(root + "/arc/data.zip", root + "/src/d", {"data"}, true));
        WriteFile(root + "/arc/data/old.txt", "old");
        WriteFile(root + "/arc/keep/mine.txt", "mine");
        WriteFile(root + "/empty.ini", "");
        fs::create_directories(root + "/log");
        before = Snapshot(root + "/arc");
    }

    // What must hold after any run, whatever broke it.
    void CheckScene(const std::string& context, bool multiRemovedByTest = false) {
        SCOPED_TRACE(context);
        const std::string arc = root + "/arc";
        EXPECT_EQ(ReadFile(arc + "/keep/mine.txt"), "mine");
        EXPECT_EQ(ReadFile(arc + "/data/old.txt"), "old") << "a folder that existed before lost its content";
        if (fs::exists(arc + "/multi.zip") || multiRemovedByTest) {
            EXPECT_FALSE(fs::exists(arc + "/multi")) << "residue folder left";
        } else {
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(ReadFile(arc + "/multi/f" + std::to_string(i) + ".bin"), Random(200 << 10, i + 1));
        }
        // Files in data/ are either the old one or complete new ones.
        for (const auto& e : fs::directory_iterator(arc + "/data")) {
            const std::string name = e.path().filename();
            if (name == "old.txt") continue;
            ASSERT_TRUE(name == "x.bin" || name == "y.bin") << "unexpected " << name;
            EXPECT_EQ(ReadFile(e.path()), Random(300 << 10, name == "x.bin" ? 7 : 8)) << "a partial file: " << name;
        }
        if (!fs::exists(arc + "/data.zip")) {
            EXPECT_TRUE(fs::exists(arc + "/data/x.bin") && fs::exists(arc + "/data/y.bin"));
        }
        for (const auto& e : fs::recursive_directory_iterator(arc))
            EXPECT_EQ(e.path().filename().string().rfind(".nvx", 0), std::string::npos) << "temporary file " << e.path();
    }

    TempDir td;
    std::string root;
    TreeSnapshot before;
};

// One engine run on both archives with after-processing "delete", breaking or faulting at a stage.
struct StagedRun {
    TEngineRun run;
    explicit StagedRun() {
        run.settings.AfterMethod = TAfterMethod::Delete;
        run.settings.ConfirmDelete = false;
        run.settings.OverWrite = TOverWrite::Overwrite;
    }
};

}  // namespace

TEST_F(FaultScene, BreakAtEachStageLosesNothing) {
    // Stages by the log line that starts them (or the first progress figure), for either archive.
    const std::vector<std::string> stages = {">>>> [", "> [ 書庫テスト開始 ]", "テスト通過", "progress", "> [ 解凍 ]"};
    int faults = 0;
    for (const std::string& stage : stages) {
        for (int target = 0; target < 2; ++target) {
            Reset();
            StagedRun s;
            int archive = -1;
            bool broken = false;
            auto breakHere = [&] {
                if (!broken && archive == target) {
                    broken = true;
                    s.run.Break();
                }
            };
            s.run.host.onLog = [&](const std::string& text) {
                if (text.rfind(">>>> [", 0) == 0) ++archive;
                if (stage != "progress" && text.find(stage) != std::string::npos) breakHere();
            };
            s.run.host.onProgress = [&](int) {
                if (stage == "progress") breakHere();
            };
            s.run.Run({root + "/arc/multi.zip", root + "/arc/data.zip"});
            faults += broken;
            CheckScene("break at " + stage + " of archive " + std::to_string(target));
        }
    }
    EXPECT_GE(faults, 9);
    RecordProperty("faults", faults);
}

TEST_F(FaultScene, ArchiveCutOrRemovedBetweenListingAndExtraction) {
    for (const bool remove : {false, true}) {
        Reset();
        StagedRun s;
        const std::string target = root + "/arc/multi.zip";
        s.run.host.onLog = [&](const std::string& text) {
            // The header test has passed; the extraction call comes next.
            if (text.find("テスト通過") == std::string::npos || !fs::exists(target)) return;
            if (remove) fs::remove(target);
            else fs::resize_file(target, fs::file_size(target) / 2);
        };
        s.run.Run({target});
        EXPECT_TRUE(std::any_of(s.run.host.texts.begin(), s.run.host.texts.end(),
                                [](const std::string& t) { return t.rfind("> [ 解凍失敗 ]", 0) == 0; }))
            << ::testing::PrintToString(s.run.host.texts);
        EXPECT_EQ(fs::exists(target), !remove);
        CheckScene(remove ? "removed" : "cut", remove);
    }
}

// The folder the entries go into is moved away in the middle of the extraction: the bind folder
// renamed (the module goes on writing into it under its new name), or an existing top folder renamed
// (the module makes a new one under the old name for the entries still to come). What was written is
// no longer where the run put it, so no disposal may take the archive.
TEST_F(FaultScene, LandingFolderMovedAwayMidExtractionKeepsTheArchive) {
    setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
    const std::pair<TAfterMethod, std::string> methods[] = {
        {TAfterMethod::Delete, "削除しませんでした。"},
        {TAfterMethod::Trash, "ごみ箱へ移しませんでした。"},
        {TAfterMethod::Move, "移動しませんでした。"},
    };
    for (const auto& [method, verb] : methods) {
        for (const std::string name : {"multi", "data"}) {
            SCOPED_TRACE(name + " " + verb);
            Reset();
            const std::string folder = root + "/arc/" + name;
            StagedRun s;
            s.run.settings.AfterMethod = method;
            s.run.settings.MoveFolder = ToAnsi(root + "/moved");
            bool moved = false;
            s.run.host.onProgress = [&](int) {
                if (moved || !fs::exists(folder)) return;
                moved = true;
                fs::rename(folder, folder + ".away");
            };
            s.run.Run({folder + ".zip"});
            ASSERT_TRUE(moved);
            EXPECT_TRUE(fs::exists(folder + ".zip"));
            EXPECT_TRUE(s.run.host.HasLine("> [ 後始末エラー ] 解凍先のフォルダが解凍中に移動または削除されたため、書庫を" + verb))
                << ::testing::PrintToString(s.run.host.texts);
        }
    }
    unsetenv("XDG_DATA_HOME");
}

TEST_F(FaultScene, DestinationThatFillsUp) {
    // A write limit of 250 KiB per file: the files of multi.zip (200 KiB) fit, those of data.zip
    // (300 KiB) do not.
    CliLimits limits;
    limits.fileSizeLimit = 250 << 10;
    const std::vector<std::string> args = {"--ini", root + "/empty.ini", "--answer", "yes", "-d",
                                           root + "/arc/multi.zip", root + "/arc/data.zip"};
    const CliRun run = RunCli(args, root, root + "/log", limits);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(CountLogContaining(run, "\"DISK_SPACE\""), 1) << ::testing::PrintToString(run.lines);
    EXPECT_FALSE(fs::exists(root + "/arc/multi.zip"));
    EXPECT_TRUE(fs::exists(root + "/arc/data.zip"));
    CheckScene("write limit 250 KiB");
    // Below the size of every file: both archives fail with DISK_SPACE and stay.
    Reset();
    limits.fileSizeLimit = 100 << 10;
    const CliRun full = RunCli(args, root, root + "/log", limits);
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(CountLogContaining(full, "\"DISK_SPACE\""), 2) << ::testing::PrintToString(full.lines);
    EXPECT_TRUE(fs::exists(root + "/arc/multi.zip") && fs::exists(root + "/arc/data.zip"));
    CheckScene("write limit 100 KiB");
}

TEST_F(FaultScene, ReadOnlyDestination) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders; run as a user to check this";
    fs::create_directories(root + "/ro");
    fs::permissions(root + "/ro", fs::perms::owner_read | fs::perms::owner_exec);
    const CliRun run = RunCli({"--ini", root + "/empty.ini", "--to", root + "/ro", "--answer", "yes", "-d",
                               root + "/arc/multi.zip"},
                              root, root + "/log");
    fs::permissions(root + "/ro", fs::perms::owner_all);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(fs::exists(root + "/arc/multi.zip"));
    EXPECT_TRUE(fs::is_empty(root + "/ro"));
    CheckScene("read-only destination");
}

// A real file system of the given size or mode, mounted over dest in a mount namespace of its own
// (nothing is left mounted, whatever happens). Runs norvex-cli there; the output also lists what dest
// held at the end, after "== dest". Empty when mounting is not possible here.
std::string RunOnOwnFileSystem(const std::string& options, const std::string& dest, std::vector<std::string> args,
                               bool* mounted) {
    const std::string script =
        "mount -t tmpfs -o \"$1\" tmpfs \"$2\" || exit 99; dest=\"$2\"; shift 2; \"$@\"; rc=$?; "
        "echo '== dest'; (cd \"$dest\" && find . -mindepth 1); exit $rc";
    std::vector<std::string> argv{"unshare", "-m", "sh", "-c", script, "sh", options, dest, NORVEX_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const ToolResult r = RunTool(argv);
    *mounted = r.exitCode != 99 && r.exitCode != -1 && r.output.find("unshare:") == std::string::npos;
    return r.output;
}

TEST_F(FaultScene, TinyFileSystemFillsUp) {
    if (!HaveTool("unshare")) GTEST_SKIP() << "unshare is not installed";
    fs::create_directories(root + "/tiny");
    bool mounted = false;
    // 512 KiB: the first files fit, then the file system is full in the middle of one.
    const std::string out = RunOnOwnFileSystem("size=512k", root + "/tiny",
                                               {"--ini", root + "/empty.ini", "--to", root + "/tiny", "--answer", "yes",
                                                "-d", root + "/arc/multi.zip", root + "/arc/data.zip"},
                                               &mounted);
    if (!mounted) GTEST_SKIP() << "cannot mount a file system here: " << out;
    EXPECT_NE(out.find("\"DISK_SPACE\""), std::string::npos) << out;
    const std::string left = out.substr(out.find("== dest"));
    // What is left on the full file system are whole files only, never a residue folder or a part.
    EXPECT_EQ(left.find(".nvx"), std::string::npos) << left;
    EXPECT_TRUE(fs::exists(root + "/arc/multi.zip") || fs::exists(root + "/arc/data.zip"));
    CheckScene("tiny file system");
}

TEST_F(FaultScene, ReadOnlyFileSystem) {
    if (!HaveTool("unshare")) GTEST_SKIP() << "unshare is not installed";
    fs::create_directories(root + "/ro");
    bool mounted = false;
    const std::string out = RunOnOwnFileSystem("ro,size=1m", root + "/ro",
                                               {"--ini", root + "/empty.ini", "--to", root + "/ro", "--answer", "yes",
                                                "-d", root + "/arc/multi.zip", root + "/arc/data.zip"},
                                               &mounted);
    if (!mounted) GTEST_SKIP() << "cannot mount a file system here: " << out;
    EXPECT_EQ(out.substr(out.find("== dest")), "== dest\n") << out;
    EXPECT_TRUE(fs::exists(root + "/arc/multi.zip") && fs::exists(root + "/arc/data.zip")) << out;
    EXPECT_EQ(Snapshot(root + "/arc"), before) << out;
    CheckScene("read-only file system");
}

TEST_F(FaultScene, KilledDuringExtraction) {
    // One large entry over an existing file: whenever the process dies, the old file is whole or
    // the new one is, and no partial or temporary file is left.
    const std::string big = Random(24 << 20, 99);
    WriteFile(root + "/src/b/big.bin", big);
    ASSERT_TRUE(MakeZip(root + "/arc/big.zip", root + "/src/b", {"big.bin"}, true));
    int kills = 0;
    for (const int ms : {30, 80, 150, 250, 400, 600, 900, 1300}) {
        WriteFile(root + "/out/big.bin", "old");
        const pid_t pid = StartCli({"--ini", root + "/empty.ini", "--to", root + "/out", "--answer", "yes", "-d",
                                    root + "/arc/big.zip"},
                                   root, root + "/log");
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        kills += ::kill(pid, SIGKILL) == 0;
        const CliRun run = WaitCli(pid, root + "/log", 60);
        const std::string now = ReadFile(root + "/out/big.bin");
        EXPECT_TRUE(now == "old" || now == big) << "after " << ms << " ms: a file of " << now.size() << " bytes";
        for (const auto& e : fs::directory_iterator(root + "/out"))
            EXPECT_EQ(e.path().filename(), "big.bin") << "left after a kill at " << ms << " ms";
        // Killed before the new file was in place: the extraction did not succeed, the archive stays.
        if (now == "old") {
            EXPECT_TRUE(fs::exists(root + "/arc/big.zip"));
        }
        if (!fs::exists(root + "/arc/big.zip")) break;  // it finished before the kill
    }
    RecordProperty("kills", kills);
    CheckScene("killed");
}

TEST(SettingsFaults, KilledDuringASaveLeavesAWholeIniFile) {
    TempDir td;
    const std::string ini = td / "norvex.ini";
    // Two settings that differ everywhere a save writes.
    SettingsBlock a, b;
    a.BindNum = 2;
    a.SpecialFolder = ToAnsi("/tmp/ａ/" + std::string(2000, 'a'));
    b.BindNum = 7;
    b.SpecialFolder = ToAnsi("/tmp/ｂ/" + std::string(3000, 'b'));
    ASSERT_TRUE(TIniControl(ToAnsi(ini)).Save(a));
    const std::string bytesA = ReadFile(ini);
    ASSERT_TRUE(TIniControl(ToAnsi(ini)).Save(b));
    const std::string bytesB = ReadFile(ini);
    ASSERT_NE(bytesA, bytesB);
    int kills = 0;
    for (int round = 0; round < 25; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i) TIniControl(ToAnsi(ini)).Save(i % 2 ? a : b);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + round * 7));
        kills += ::kill(pid, SIGKILL) == 0;
        ::waitpid(pid, nullptr, 0);
        const std::string now = ReadFile(ini);
        ASSERT_TRUE(now == bytesA || now == bytesB) << "round " << round << ": an ini file of " << now.size() << " bytes";
        SettingsBlock loaded;
        EXPECT_TRUE(TIniControl(ToAnsi(ini)).Load(loaded));
        EXPECT_TRUE(loaded.BindNum == 2 || loaded.BindNum == 7);
    }
    RecordProperty("kills", kills);
    // A killed save may leave its temporary file, never a second ini.
    int inis = 0;
    for (const auto& e : fs::directory_iterator(td.path())) inis += e.path().extension() == ".ini";
    EXPECT_EQ(inis, 1);
}
