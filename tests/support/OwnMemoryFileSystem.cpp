// A memory file system of the test's own, in a child process.
#include "tests/support/OwnMemoryFileSystem.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace norvex::test {

namespace {
constexpr int kCannotMount = 77;
}  // namespace

std::optional<std::string> InOwnMemoryFileSystem(const std::string& mountPoint, const std::string& options,
                                                 const std::function<std::string()>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "no pipe to the child";
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return "no child process";
    }
    if (pid == 0) {
        close(pipeFds[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0)
            _exit(kCannotMount);
        std::string failures;
        try {
            failures = body();
        } catch (...) {
            failures += "the body threw\n";
        }
        for (std::size_t done = 0; done < failures.size();) {
            const ssize_t n = write(pipeFds[1], failures.data() + done, failures.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        _exit(0);  // no destructor of the parent's objects runs twice
    }
    close(pipeFds[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return said + "the child was lost\n";
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotMount) return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) said += "the child ended abnormally\n";
    return said;
}

}  // namespace norvex::test
