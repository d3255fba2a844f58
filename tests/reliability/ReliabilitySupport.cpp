// Child processes with limits, snapshots, archive builders.
#include "tests/reliability/ReliabilitySupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex::test {

pid_t StartCli(const std::vector<std::string>& args, const std::string& cwd, const std::string& outDir,
               const CliLimits& limits) {
    const std::string out = outDir + "/cli.out", err = outDir + "/cli.err";
    std::vector<std::string> argv{NORVEX_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // The child: only async-signal-safe calls from here to exec.
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) ::_exit(126);
    ::dup2(o, 1);
    ::dup2(e, 2);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    if (limits.fileSizeLimit > 0) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG, as on a full disk
        struct rlimit r {static_cast<rlim_t>(limits.fileSizeLimit), static_cast<rlim_t>(limits.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &r);
    }
    ::execv(raw[0], raw.data());
    ::_exit(127);
}

CliRun WaitCli(pid_t pid, const std::string& outDir, int seconds) {
    CliRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            run.timedOut = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    std::istringstream in(ReadFile(outDir + "/cli.out"));
    for (std::string line; std::getline(in, line);) run.lines.push_back(line);
    run.err = ReadFile(outDir + "/cli.err");
    return run;
}

CliRun RunCli(const std::vector<std::string>& args, const std::string& cwd, const std::string& outDir,
              const CliLimits& limits) {
    return WaitCli(StartCli(args, cwd, outDir, limits), outDir, limits.seconds);
}

namespace {

std::string Text(const std::string& line) {
    const std::size_t bar = line.find("| ");
    return bar == std::string::npos ? line : line.substr(bar + 2);
}

uint64_t Hash(const std::string& data, uint64_t h = 1469598103934665603ull) {
    for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string FileDigest(const std::string& path, off_t size) {
    std::ifstream in(path, std::ios::binary);
    constexpr off_t kWhole = 16 << 20, kPart = 1 << 20;
    std::string data;
    if (size <= kWhole) {
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return std::to_string(Hash(data));
    }
    data.resize(kPart);
    in.read(data.data(), kPart);
    uint64_t h = Hash(data);
    in.seekg(size - kPart);
    in.read(data.data(), kPart);
    return std::to_string(Hash(data, h));
}

void Walk(const std::string& root, const std::string& rel, const std::function<void(const std::string&, const struct stat&)>& visit) {
    const std::string folder = rel.empty() ? root : root + "/" + rel;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* d = ::readdir(dir)) {
        const std::string n = d->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(dir);
    for (const std::string& n : names) {
        const std::string r = rel.empty() ? n : rel + "/" + n;
        struct stat st {};
        if (::lstat((root + "/" + r).c_str(), &st) != 0) continue;
        visit(r, st);
        if (S_ISDIR(st.st_mode)) Walk(root, r, visit);
    }
}

std::string LinkTarget(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

bool HasLogText(const CliRun& run, const std::string& text) {
    for (const auto& l : run.lines)
        if (Text(l) == text) return true;
    return false;
}

int CountLogContaining(const CliRun& run, const std::string& part) {
    int n = 0;
    for (const auto& l : run.lines) n += Text(l).find(part) != std::string::npos;
    return n;
}

TreeSnapshot Snapshot(const std::string& root) {
    TreeSnapshot snap;
    Walk(root, "", [&](const std::string& rel, const struct stat& st) {
        const std::string full = root + "/" + rel;
        if (S_ISDIR(st.st_mode)) snap[rel] = "d";
        else if (S_ISLNK(st.st_mode)) snap[rel] = "l:" + LinkTarget(full);
        else if (S_ISREG(st.st_mode)) snap[rel] = "f:" + std::to_string(st.st_size) + ":" + FileDigest(full, st.st_size);
        else snap[rel] = "o:" + std::to_string(st.st_mode);
    });
    return snap;
}

std::vector<std::string> Differences(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::vector<std::string> out;
    for (const auto& [k, v] : after) {
        auto it = before.find(k);
        if (it == before.end()) out.push_back("added " + k);
        else if (it->second != v) out.push_back("changed " + k);
    }
    for (const auto& [k, v] : before)
        if (!after.count(k)) out.push_back("removed " + k);
    return out;
}

bool RunPython(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"python3", "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    const ToolResult r = RunTool(argv);
    if (r.exitCode != 0) ADD_FAILURE() << "python3 failed: " << r.output;
    return r.exitCode == 0;
}

namespace {
const char* const kZipScript = R"(
import sys, zipfile
out, bad = sys.argv[1], sys.argv[2] == 'bad'
with zipfile.ZipFile(out, 'w') as z:
    for spec in sys.argv[3:]:
        name, _, data = spec.partition('=')
        info = zipfile.ZipInfo(name)
        if data.startswith('@'):
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, bytes(int(data[1:])), compresslevel=1)
        else:
            z.writestr(info, data.encode('utf-8', 'surrogateescape'))
if bad:
    with zipfile.ZipFile(out) as z:
        last = z.infolist()[-1]
    raw = bytearray(open(out, 'rb').read())
    off = last.header_offset
    start = off + 30 + int.from_bytes(raw[off+26:off+28], 'little') + int.from_bytes(raw[off+28:off+30], 'little')
    raw[start + last.compress_size - 1] ^= 0x55
    open(out, 'wb').write(bytes(raw))
)";
}  // namespace

bool MakeTestZip(const std::string& path, const std::vector<std::string>& entries, bool flipLastByte) {
    std::vector<std::string> args{path, flipLastByte ? "bad" : "good"};
    args.insert(args.end(), entries.begin(), entries.end());
    return RunPython(kZipScript, args);
}

std::vector<std::string> WaysOut(const std::string& root) {
    std::vector<std::string> out;
    Walk(root, "", [&](const std::string& rel, const struct stat& st) {
        if (S_ISLNK(st.st_mode)) {
            const std::string target = LinkTarget(root + "/" + rel);
            long level = static_cast<long>(std::count(rel.begin(), rel.end(), '/'));
            bool inside = !target.empty() && target[0] != '/';
            std::istringstream parts(target);
            for (std::string p; inside && std::getline(parts, p, '/');) {
                if (p == "..") inside = --level >= 0;
                else if (!p.empty() && p != ".") ++level;
            }
            if (!inside) out.push_back("link " + rel + " -> " + target);
        } else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
            out.push_back("special file " + rel);
        }
    });
    return out;
}

unsigned long long FreeBytes(const std::string& path) {
    struct statvfs v {};
    if (::statvfs(path.c_str(), &v) != 0) return 0;
    return static_cast<unsigned long long>(v.f_bavail) * v.f_frsize;
}

}  // namespace norvex::test
