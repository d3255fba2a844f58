// LZH benchmark: the LHA module's extraction against lhasa on a large archive, and our encoder
// against gzip -9 (size) and gzip -6 (speed) on the same input.
//
//   bench_lzh [work folder]      (default: a folder under /tmp, removed afterwards)
//
// The input is built from files every Debian machine has (headers under /usr/include and a large
// program), so runs are comparable between machines of the same release. Each timing is the best
// of three runs; extraction runs in a child process so that its peak memory can be read as well.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "archivers/ArchiverAbi.h"
#include "modules/lzh/LzhArchiveWriter.h"
#include "modules/lzh/LzhEncoder.h"
#include "platform/AnsiCodec.h"

namespace fs = std::filesystem;
using norvex::lzh::LzhMethod;

namespace {

struct RunResult {
    double seconds = 0;
    long maxRssKb = 0;
    int status = -1;
};

// Runs fn in a child process; wall time and the child's peak resident size.
RunResult RunChild(const std::function<int()>& fn) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    RunResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.maxRssKb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

int Exec(const std::vector<std::string>& argv, const std::string& cwd, const std::string& stdoutPath = "/dev/null") {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) return 127;
    const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_WRONLY);
    dup2(out, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    return 127;
}

RunResult Best(int runs, const std::function<void()>& prepare, const std::function<int()>& fn) {
    RunResult best;
    best.seconds = 1e30;
    for (int i = 0; i < runs; ++i) {
        prepare();
        RunResult r = RunChild(fn);
        if (r.status != 0) return r;
        if (r.seconds < best.seconds) best = r;
    }
    return best;
}

// Copies up to limit bytes of sources into the tree under root; returns the files taken.
std::vector<fs::path> BuildCorpus(const fs::path& root, uint64_t limit) {
    std::vector<fs::path> sources;
    for (auto it = fs::recursive_directory_iterator("/usr/include", fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file() && !it->is_symlink()) sources.push_back(it->path());
    std::sort(sources.begin(), sources.end());
    const fs::path binaries[] = {"/usr/bin/cmake", "/usr/bin/ctest", "/usr/lib/x86_64-linux-gnu/libarchive.so.13"};
    uint64_t total = 0;
    std::vector<fs::path> taken;
    for (const fs::path& b : binaries) {
        if (!fs::exists(b)) continue;
        const fs::path to = root / "bin" / b.filename();
        fs::create_directories(to.parent_path());
        fs::copy_file(fs::canonical(b), to, fs::copy_options::overwrite_existing);
        total += fs::file_size(to);
        taken.push_back(to);
    }
    for (const fs::path& s : sources) {
        if (total >= limit) break;
        const fs::path to = root / fs::relative(s, "/usr/include");
        fs::create_directories(to.parent_path());
        std::error_code ec;
        fs::copy_file(s, to, fs::copy_options::overwrite_existing, ec);
        if (ec) continue;
        total += fs::file_size(to);
        taken.push_back(to);
    }
    return taken;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Our encoder against gzip on one input file: size against -9, speed against -6.
void BenchEncoder(const fs::path& joined, const fs::path& work, std::size_t fileCount) {
    const std::string input = ReadAll(joined);
    std::printf("input: %zu files, %.1f MiB\n", fileCount, static_cast<double>(input.size()) / (1 << 20));

    const RunResult gz9 = Best(1, [] {}, [&] { return Exec({"gzip", "-9", "-c", joined.string()}, "", (work / "c.gz9").string()); });
    const RunResult gz6 = Best(3, [] {}, [&] { return Exec({"gzip", "-6", "-c", joined.string()}, "", (work / "c.gz6").string()); });
    const double gz9Size = static_cast<double>(fs::file_size(work / "c.gz9"));
    std::printf("gzip -9: %.0f bytes, %.2f s; gzip -6: %.2f s\n", gz9Size, gz9.seconds, gz6.seconds);
    for (LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh7}) {
        uint64_t size = 0;
        const auto start = std::chrono::steady_clock::now();
        norvex::lzh::LzhEncoder enc(method, [&](const uint8_t*, std::size_t n) {
            size += n;
            return true;
        });
        enc.Write(input.data(), input.size());
        enc.Finish();
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("encoder %s: %llu bytes (%.3f x gzip -9), %.2f s (speed %.2f x gzip -6)\n",
                    norvex::lzh::MethodName(method), static_cast<unsigned long long>(size),
                    static_cast<double>(size) / gz9Size, secs, gz6.seconds / secs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool ownWork = argc < 2;
    const fs::path work = ownWork ? fs::temp_directory_path() / ("bench_lzh." + std::to_string(getpid())) : fs::path(argv[1]);
    fs::create_directories(work);
    const fs::path tree = work / "tree";
    const std::vector<fs::path> files = BuildCorpus(tree, 48ull << 20);

    // One stream of the whole corpus for the encoder comparison.
    const fs::path joined = work / "corpus.bin";
    {
        std::ofstream out(joined, std::ios::binary);
        for (const fs::path& f : files) out << ReadAll(f);
    }
    BenchEncoder(joined, work, files.size());

    // ---- Extraction: the module against lhasa ----
    const fs::path archive = work / "large.lzh";
    {
        const int fd = open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        norvex::lzh::LzhArchiveWriter writer(fd);
        for (const fs::path& f : files) {
            norvex::lzh::EntryMeta meta;
            meta.path = norvex::ToAnsi(fs::relative(f, tree).string());
            meta.mtime = 1600000000;
            const int in = open(f.c_str(), O_RDONLY);
            writer.AddFile(meta, in);
            close(in);
        }
        writer.Finish();
        close(fd);
    }
    std::printf("archive: %.1f MiB\n", static_cast<double>(fs::file_size(archive)) / (1 << 20));

    const fs::path moduleDir = fs::path(NORVEX_BENCH_MODULE_DIR);
    void* module = dlopen((moduleDir / "unlha32.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "cannot load unlha32.so: %s\n", dlerror());
        return 1;
    }
    auto command = reinterpret_cast<ARC_COMMAND>(dlsym(module, "Unlha"));
    const fs::path outModule = work / "out-module";
    const fs::path outLhasa = work / "out-lhasa";
    const auto fresh = [](const fs::path& p) {
        return [p] {
            fs::remove_all(p);
            fs::create_directories(p);
        };
    };
    const RunResult mod = Best(3, fresh(outModule), [&] {
        const std::string line = "x -+1 -x1 -u0 -jse1 -jso1 \"" + archive.string() + "\" \"" + outModule.string() + "/\"";
        std::vector<char> output(4096);
        return command(nullptr, line.c_str(), output.data(), static_cast<uint32_t>(output.size())) == 0 ? 0 : 1;
    });
    const RunResult lhasa = Best(3, fresh(outLhasa), [&] { return Exec({"lhasa", "xq", archive.string()}, outLhasa.string()); });
    std::printf("extract: module %.2f s (%ld KiB peak), lhasa %.2f s (%ld KiB peak): module time / lhasa time = %.2f\n",
                mod.seconds, mod.maxRssKb, lhasa.seconds, lhasa.maxRssKb, mod.seconds / lhasa.seconds);
    if (mod.status != 0 || lhasa.status != 0) std::printf("warning: a run failed (module %d, lhasa %d)\n", mod.status, lhasa.status);
    dlclose(module);
    if (ownWork) fs::remove_all(work);
    return 0;
}
