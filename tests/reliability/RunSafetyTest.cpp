// What a run may touch, end to end through norvex-cli: names reach the terminal only escaped; no
// entry replaces the archive being read or one still queued, and disposal acts only on the file that
// was read; the residue of a failed extraction goes at any depth under a low descriptor limit; and
// two runs on one destination, one of them stopped (SIGSTOP) in the middle, leave each other's work
// alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/RarFixture.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

// Bytes below 0x20 other than the line ends and the log's own tabs, and DEL: what a terminal obeys.
std::vector<std::string> RawControls(const std::string& text) {
    std::vector<std::string> found;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            lineStart = i + 1;
            continue;
        }
        const bool layoutTab = c == '\t' && i > lineStart && (text[i - 1] == ']' || text[i - 1] == '"');
        if ((c < 0x20 && !layoutTab) || c == 0x7F || c == 0x9B || c == 0x85)
            found.push_back(text.substr(lineStart, text.find('\n', i) - lineStart));
    }
    return found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

class RunSafety : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
        root = td.path();
        fs::create_directories(root + "/log");
        fs::create_directories(root + "/log2");
    }
    std::string Ini(const std::string& name, const std::string& text) {
        WriteFile(root + "/" + name, text);
        return root + "/" + name;
    }
    TempDir td;
    std::string root;
};

}  // namespace

// ---- Names on the terminal ----------------------------------------------------------------------------

TEST_F(RunSafety, ControlCharactersOfNamesReachTheTerminalEscaped) {
    struct Name {
        std::string onDisk, shown;
    };
    const std::vector<Name> names = {
        {"esc\x1b[2J\x1b]0;pwned\x07.txt", "esc\\x1b[2J\\x1b]0;pwned\\x07.txt"},
        {"cr\rforged 99| > [ 解凍 ].txt", "cr\\x0dforged 99| > [ 解凍 ].txt"},
        {"lf\nnext.txt", "lf\\x0anext.txt"},
        {"bidi\xe2\x80\xaetxt.exe", "bidi\\u202etxt.exe"},
        {"c1\xc2\x9b" "31m.txt", "c1\\u009b31m.txt"},
        {"del\x7f.txt", "del\\x7f.txt"},
    };
    std::vector<std::string> entries;
    for (const auto& n : names) entries.push_back("dir/" + n.onDisk + "=x");
    entries.push_back("dir/\x1b[31mtrap/inner.txt=y");
    // The archive's own name carries an escape sequence too; one entry is refused (absolute), which
    // puts its name in a question and in the module's lines of the log.
    const std::string archive = root + "/arc\x1b[41m\r.zip";
    entries.push_back("/abs\x1b[5m.txt=z");
    ASSERT_TRUE(MakeTestZip(archive, entries));
    const std::string ini = Ini("ask.ini", "[Main]\r\nPreTestArc=0\r\n[Sub_Bind]\r\nBindFolder=0\r\n");
    const CliRun run = RunCli({"--ini", ini, "--to", root + "/out", "--answer", "yes", "-k", archive}, root, root + "/log");
    EXPECT_FALSE(run.timedOut);
    const std::string out = Joined(run.lines);
    EXPECT_TRUE(RawControls(out).empty()) << ::testing::PrintToString(RawControls(out));
    EXPECT_TRUE(RawControls(run.err).empty()) << ::testing::PrintToString(RawControls(run.err));
    EXPECT_NE(out.find("arc\\x1b[41m\\x0d.zip"), std::string::npos) << out;
    EXPECT_NE(run.err.find("abs\\x1b[5m.txt"), std::string::npos) << run.err;  // the question
    // On disk every name is the real one.
    for (const auto& n : names) EXPECT_EQ(ReadFile(root + "/out/dir/" + n.onDisk), "x") << n.shown;
    EXPECT_EQ(ReadFile(root + "/out/dir/\x1b[31mtrap/inner.txt"), "y");
}

// ---- The archive itself and the rest of the queue -----------------------------------------------------

TEST_F(RunSafety, NoEntryReplacesAnArchiveOfTheRun) {
    const std::string overwrite = Ini("overwrite.ini", "[Main]\r\nOverWrite=1\r\nPreTestArc=0\r\n");
    {
        // An entry named like its own archive, extracted beside it, with "overwrite" and "delete".
        ASSERT_TRUE(MakeTestZip(root + "/self.zip", {"self.zip=not the archive"}));
        const std::string bytes = ReadFile(root + "/self.zip");
        const CliRun run = RunCli({"--ini", overwrite, "--answer", "yes", "-d", root + "/self.zip"}, root, root + "/log");
        EXPECT_EQ(run.exitCode, 1) << Joined(run.lines);
        EXPECT_EQ(ReadFile(root + "/self.zip"), bytes);
    }
    {
        // The first archive carries the second one's name (and a file in a folder listed later):
        // neither is replaced; the second is still extracted afterwards.
        fs::create_directories(root + "/q/later");
        ASSERT_TRUE(MakeTestZip(root + "/q/second.zip", {"from-second.txt=2"}));
        ASSERT_TRUE(MakeTestZip(root + "/q/later/third.zip", {"from-third.txt=3"}));
        ASSERT_TRUE(MakeTestZip(root + "/q/first.zip", {"second.zip=evil", "later/third.zip=evil", "ok.txt=1"}));
        const std::string second = ReadFile(root + "/q/second.zip"), third = ReadFile(root + "/q/later/third.zip");
        const std::string ini = Ini("nobind.ini", "[Main]\r\nOverWrite=1\r\nPreTestArc=0\r\n[Sub_Bind]\r\nBindFolder=0\r\n");
        const CliRun run = RunCli({"--ini", ini, "--answer", "yes", "-k", root + "/q/first.zip", root + "/q/second.zip",
                                   root + "/q/later"},
                                  root, root + "/log");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(ReadFile(root + "/q/second.zip"), second);
        EXPECT_EQ(ReadFile(root + "/q/later/third.zip"), third);
        EXPECT_EQ(ReadFile(root + "/q/from-second.txt"), "2");
        EXPECT_EQ(ReadFile(root + "/q/later/from-third.txt"), "3");
        EXPECT_GE(CountLogContaining(run, "書庫と同じ名前のため展開しません"), 2);
    }
}

TEST_F(RunSafety, EverySplitVolumeIsAnArchiveOfTheRun) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    // A split RAR set whose first entry is named like its second volume.
    fs::create_directories(root + "/v");
    const std::vector<std::string> volumes =
        WriteRar(root + "/v", "vol", {{"vol.part2.rar", std::string(4000, 'e')}, {"b.txt", std::string(4000, 'b')}}, 2);
    ASSERT_EQ(volumes.size(), 2u);
    std::vector<std::string> bytes;
    for (const auto& v : volumes) bytes.push_back(ReadFile(v));
    const std::string ini = Ini("rar.ini", "[Main]\r\nOverWrite=1\r\nPreTestArc=0\r\n[Sub_Bind]\r\nBindFolder=0\r\n");
    const CliRun run = RunCli({"--ini", ini, "--answer", "yes", "-d", volumes[0]}, root, root + "/log");
    EXPECT_EQ(run.exitCode, 1) << Joined(run.lines);
    for (std::size_t i = 0; i < volumes.size(); ++i) EXPECT_EQ(ReadFile(volumes[i]), bytes[i]) << volumes[i];
}

TEST_F(RunSafety, DisposalActsOnlyOnTheFileThatWasRead) {
    // The archive is replaced by another file while the run is stopped during its extraction.
    ASSERT_TRUE(MakeTestZip(root + "/big.zip", {"big/data.bin=@300000000", "big/small.txt=s"}));
    const std::string ini = Ini("plain.ini", "[Main]\r\nPreTestArc=0\r\n");
    const pid_t pid = StartCli({"--ini", ini, "--to", root + "/out", "--answer", "yes", "-d", root + "/big.zip"}, root,
                               root + "/log");
    bool stopped = false;
    for (int i = 0; i < 2000 && !stopped; ++i) {
        if (ReadFile(root + "/log/cli.out").find("最上位要素カウント") != std::string::npos) {
            kill(pid, SIGSTOP);
            stopped = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(stopped);
    WriteFile(root + "/replacement", "someone else's file");
    fs::rename(root + "/replacement", root + "/big.zip");
    kill(pid, SIGCONT);
    const CliRun run = WaitCli(pid, root + "/log", 120);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(ReadFile(root + "/big.zip"), "someone else's file") << Joined(run.lines);
    EXPECT_FALSE(HasLogText(run, "> [ 削除 ] 書庫を削除しました。"));
}

// ---- Residue ---------------------------------------------------------------------------------------------

TEST_F(RunSafety, ResidueTenThousandLevelsDeepGoesUnderALowDescriptorLimit) {
    // In memory when the machine has it: removing 10,000 folders from a busy virtual disk takes a
    // minute, which says nothing about the walk.
    std::string base = root;
    std::string templ = "/dev/shm/norvex-residue-XXXXXX";
    const bool memory = access("/dev/shm", W_OK) == 0 && mkdtemp(templ.data());
    if (memory) base = templ;
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "d/";
    // Two small files make a bind folder; the deep entry's checksum fails, after its folders are made.
    ASSERT_TRUE(MakeTestZip(root + "/deep.zip", {"a.txt=a", "b.txt=b", deep + "f.txt=checked"}, /*bad=*/true));
    const std::string ini = Ini("deep.ini", "[Main]\r\nPreTestArc=0\r\n");
    const std::string cmd = "ulimit -n 256 && exec '" + std::string(NORVEX_CLI_PATH) + "' --ini '" + ini + "' --to '" +
                            base + "/out' --answer yes -d '" + root + "/deep.zip' >'" + root + "/log/deep.out' 2>&1";
    const ToolResult r = RunTool({"sh", "-c", cmd});
    const std::string out = ReadFile(root + "/log/deep.out");
    EXPECT_EQ(r.exitCode, 1) << out;
    EXPECT_NE(out.find("> [ 残骸の削除 ] \"" + base + "/out/deep\""), std::string::npos) << out.substr(0, 2000);
    EXPECT_FALSE(fs::exists(base + "/out/deep"));
    EXPECT_TRUE(fs::exists(root + "/deep.zip"));
    if (memory) RunTool({"rm", "-rf", base});
}

TEST_F(RunSafety, WhatCannotBeRemovedIsReportedNotClaimedRemoved) {
    // The run works as an ordinary user; while it is stopped, a folder it may not empty appears in
    // its bind folder.
    if (getuid() != 0 || !HaveTool("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as another user";
    chmod(root.c_str(), 0755);
    fs::create_directories(root + "/out");
    chmod((root + "/out").c_str(), 0777);
    chmod((root + "/log").c_str(), 0777);
    ASSERT_TRUE(MakeTestZip(root + "/pics.zip", {"a.txt=a", "b.txt=b", "kept/by-root.txt=x", "big.bin=@200000000"},
                            /*bad=*/true));
    const std::string ini = Ini("user.ini", "[Main]\r\nPreTestArc=0\r\n");
    const std::string out = root + "/log/user.out";
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(fd, 1);
        dup2(fd, 2);
        execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", NORVEX_CLI_PATH, "--ini",
               ini.c_str(), "--to", (root + "/out").c_str(), "--answer", "yes", "-d", (root + "/pics.zip").c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    bool stopped = false;
    for (int i = 0; i < 4000 && !stopped; ++i) {
        if (ReadFile(out).find("> [ バインド起動 ]") != std::string::npos) {
            kill(pid, SIGSTOP);
            stopped = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(stopped) << ReadFile(out);
    // The run may have made kept/ already: it becomes root's either way.
    fs::create_directories(root + "/out/pics/kept");
    ASSERT_EQ(chown((root + "/out/pics/kept").c_str(), 0, 0), 0);
    chmod((root + "/out/pics/kept").c_str(), 0755);
    WriteFile(root + "/out/pics/kept/by-root.txt", "root");
    kill(pid, SIGCONT);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string log = ReadFile(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << log;
    EXPECT_EQ(log.find("> [ 残骸の削除 ]"), std::string::npos) << log;
    EXPECT_NE(log.find("> [ 後始末エラー ] 残骸を削除しきれませんでした。\"" + root + "/out/pics\""), std::string::npos) << log;
    EXPECT_EQ(ReadFile(root + "/out/pics/kept/by-root.txt"), "root");
    EXPECT_TRUE(fs::exists(root + "/pics.zip"));
}
