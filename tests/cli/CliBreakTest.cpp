// norvex-cli told to stop by a signal in the middle of an archive: Ctrl+C, SIGTERM and SIGHUP each
// break the run as the break button does (the folder the run made and the partial files go, the
// archive stays, the exit status is 128 + the signal); a second signal ends the process at once.
//
// The run is held at a known point without timing: its first question goes to standard error,
// which is a pipe filled to the brim, so the worker waits in that write (after it made the folder,
// before the archive is through) until the test reads the pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/cli/CliSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/LzhEntries.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

// norvex-cli running with its standard error on a full pipe.
class HeldCli {
public:
    HeldCli(const std::vector<std::string>& args, const std::string& outFile) {
        int p[2];
        if (::pipe(p) != 0) return;
        ::fcntl(p[1], F_SETPIPE_SZ, 4096);
        // Filled without blocking, then blocking again for the program.
        ::fcntl(p[1], F_SETFL, O_NONBLOCK);
        const std::string block(4096, '.');
        while (::write(p[1], block.data(), block.size()) > 0) {
        }
        while (::write(p[1], block.data(), 1) > 0) {
        }
        ::fcntl(p[1], F_SETFL, 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(p[1], 2);
            ::close(p[0]);
            // A test runner may have left these ignored; the program leaves an ignored signal alone.
            for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
            std::vector<char*> argv{const_cast<char*>(NORVEX_CLI_PATH)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(NORVEX_CLI_PATH, argv.data());
            ::_exit(127);
        }
        ::close(p[1]);
        read_ = p[0];
    }
    ~HeldCli() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (read_ >= 0) ::close(read_);
    }
    pid_t pid() const { return pid_; }

    // Whether the process has a handler for sig (read from /proc).
    bool Catches(int sig) const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
        return false;
    }
    // Reads standard error to its end and waits for the process; returns the wait status.
    int Finish() {
        char buffer[4096];
        while (::read(read_, buffer, sizeof buffer) > 0) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return status;
    }

private:
    pid_t pid_ = -1;
    int read_ = -1;
    bool waited_ = false;
};

// Waits (up to a minute) until pred holds.
template <typename Pred>
bool WaitUntil(Pred pred) {
    for (int i = 0; i < 12000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

class CliBreak : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
        // a.txt twice: the second one asks whether to write over the first; then a larger b.txt.
        WriteFile(archive, bytes);
        WriteFile(ini, "[Main]\nAfterMethod=1\n[Sub_Confirm]\nConfirmDelete=0\n");
    }
    // Starts the run and waits until it made its folder and stopped at the question.
    std::unique_ptr<HeldCli> StartHeld() {
        auto cli = std::make_unique<HeldCli>(std::vector<std::string>{"--ini", ini, "--to", td / "out", archive},
                                             td / "cli.out");
        EXPECT_GT(cli->pid(), 0);
        EXPECT_TRUE(WaitUntil([&] { return fs::exists(td / "out/arc/a.txt"); })) << ReadFile(td / "cli.out");
        return cli;
    }
    TempDir td;
    const std::string archive = td / "in/arc.lzh";
    const std::string bytes = StoredLzhEntry("a.txt", "first") + StoredLzhEntry("a.txt", "second") +
                              StoredLzhEntry("b.txt", std::string(200000, 'b')) + '\0';
    const std::string ini = td / "settings.ini";
};

}  // namespace

TEST_F(CliBreak, ASignalBreaksTheRunAndTakesBackWhatItMade) {
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        fs::remove_all(td / "out");
        auto cli = StartHeld();
        ASSERT_TRUE(cli->Catches(sig));
        ::kill(cli->pid(), sig);
        // Taken (the handler tells the worker, then gives way to the default action) before the
        // question is let through.
        ASSERT_TRUE(WaitUntil([&] { return !cli->Catches(sig); }));
        const int status = cli->Finish();
        const std::string log = ReadFile(td / "cli.out");
        ASSERT_TRUE(WIFEXITED(status)) << log;
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig) << log;
        EXPECT_NE(log.find("> [ 強制中断 ] 中断されました。"), std::string::npos) << log;
        // Neither the folder (under any name) nor a file of it is left; the archive is whole.
        EXPECT_TRUE(fs::is_empty(td / "out")) << fs::directory_iterator(td / "out")->path();
        EXPECT_EQ(ReadFile(archive), bytes);
    }
}

TEST_F(CliBreak, ASecondSignalEndsTheProcess) {
    auto cli = StartHeld();
    ::kill(cli->pid(), SIGTERM);
    // The first one is taken once the handler has given way to the default action.
    ASSERT_TRUE(WaitUntil([&] { return !cli->Catches(SIGTERM); }));
    ::kill(cli->pid(), SIGTERM);
    const int status = cli->Finish();
    ASSERT_TRUE(WIFSIGNALED(status)) << ReadFile(td / "cli.out");
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(ReadFile(archive), bytes);
}
