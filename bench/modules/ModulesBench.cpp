// Extraction speed and peak memory of our ZIP and CAB modules beside bsdtar, unzip and 7z, on the
// same archives in one run: a large ZIP of mixed data, a CAB, and many small ZIPs.
//
//   bench_modules [work folder] [size in MiB of the large ZIP's input, default 200]
//
// Every extraction runs in its own process (our modules through this program re-started with
// "--extract"), so that wall time and peak resident size (getrusage of the child) compare alike.
// Each figure is the best of three runs; ratios are ours / the fastest other tool.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archivers/ArchiverAbi.h"
#include "platform/AnsiCodec.h"
#include "platform/ModuleLoader.h"
#include "platform/LocalTimeZone.h"

namespace fs = std::filesystem;
extern char** environ;

namespace {

struct Run {
    double seconds = 1e9;
    long maxRssKb = 0;
    bool ok = false;
};

// Starts argv, waits, and reads the child's time and peak memory.
Run Spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Run r;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) return r;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.maxRssKb = usage.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

// Best of three, with the output folder emptied before each run (not timed).
Run Best(const std::vector<std::vector<std::string>>& commands, const std::string& out) {
    Run best;
    for (int i = 0; i < 3; ++i) {
        fs::remove_all(out);
        fs::create_directories(out);
        Run total{0, 0, true};
        auto start = std::chrono::steady_clock::now();
        for (const auto& c : commands) {
            Run r = Spawn(c);
            total.ok = total.ok && r.ok;
            total.maxRssKb = std::max(total.maxRssKb, r.maxRssKb);
        }
        total.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!total.ok) return total;
        if (total.seconds < best.seconds) best = total;
    }
    fs::remove_all(out);
    return best;
}

bool Have(const std::string& tool) {
    return Spawn({"sh", "-c", "command -v " + tool}).ok;
}

void WriteBytes(const fs::path& p, const std::string& s) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << s;
}

// Mixed data: text (system headers), programs, and incompressible bytes, about limitBytes in all.
void MakeMixedInput(const fs::path& root, uint64_t limitBytes) {
    uint64_t total = 0;
    std::error_code ec;
    for (const char* src : {"/usr/include", "/usr/lib/x86_64-linux-gnu", "/usr/bin"}) {
        for (auto it = fs::recursive_directory_iterator(src, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator() && total < limitBytes * 3 / 4; it.increment(ec)) {
            if (ec || !it->is_regular_file(ec) || it->is_symlink(ec)) continue;
            uint64_t size = it->file_size(ec);
            if (ec || size > 64ull << 20) continue;
            fs::path dest = root / fs::path(src).relative_path() / fs::relative(it->path(), src);
            fs::create_directories(dest.parent_path(), ec);
            if (fs::copy_file(it->path(), dest, fs::copy_options::overwrite_existing, ec)) total += size;
        }
    }
    std::mt19937_64 rng(7);
    for (int i = 0; total < limitBytes; ++i) {
        std::string blob(8 << 20, '\0');
        for (std::size_t k = 0; k + 8 <= blob.size(); k += 8) {
            uint64_t v = rng();
            std::memcpy(&blob[k], &v, 8);
        }
        WriteBytes(root / "random" / ("blob" + std::to_string(i) + ".bin"), blob);
        total += blob.size();
    }
}

// The child side: one module, one command line, no window.
int ExtractWithModule(const std::string& dll, const std::string& prefix, const std::vector<std::string>& archives,
                      const std::string& out) {
    norvex::SetModuleFolder(norvex::ToAnsi(NORVEX_BENCH_MODULE_DIR));
    void* module = norvex::LoadModule(dll);
    if (!module) return 2;
    auto command = reinterpret_cast<ARC_COMMAND>(norvex::ModuleSymbol(module, prefix.c_str()));
    if (!command) return 3;
    char output[4096];
    for (const std::string& a : archives) {
        std::string line = "-x -o \"" + norvex::ToAnsi(a) + "\" \"" + norvex::ToAnsi(out) + "/\"";
        if (command(nullptr, line.c_str(), output, sizeof output) != 0) return 1;
    }
    return 0;
}

void Report(const std::string& title, const std::map<std::string, Run>& runs, const std::string& ours) {
    std::printf("\n%s\n", title.c_str());
    double fastest = 1e9;
    std::string fastestName;
    for (auto& [name, r] : runs) {
        std::printf("  %-10s %8.3f s  peak %7.1f MiB%s\n", name.c_str(), r.seconds, r.maxRssKb / 1024.0, r.ok ? "" : "  (failed)");
        if (name != ours && r.ok && r.seconds < fastest) fastest = r.seconds, fastestName = name;
    }
    auto it = runs.find(ours);
    if (it != runs.end() && it->second.ok && !fastestName.empty())
        std::printf("  ratio %s / %s (fastest other) = %.2f\n", ours.c_str(), fastestName.c_str(), it->second.seconds / fastest);
}

}  // namespace

int main(int argc, char** argv) {
    norvex::PinLocalTimeZone();  // as the programs do
    if (argc >= 5 && std::string(argv[1]) == "--extract") {
        std::vector<std::string> archives(argv + 5, argv + argc);
        return ExtractWithModule(argv[2], argv[3], archives, argv[4]);
    }
    std::string self = fs::canonical("/proc/self/exe");
    bool ownWork = argc < 2;
    fs::path work = ownWork ? fs::temp_directory_path() / ("norvex-bench-" + std::to_string(getpid())) : fs::path(argv[1]);
    uint64_t mib = argc >= 3 ? std::strtoull(argv[2], nullptr, 10) : 200;
    fs::create_directories(work);
    fs::path out = work / "out";

    std::printf("building inputs in %s (%llu MiB of mixed data) ...\n", work.c_str(), static_cast<unsigned long long>(mib));
    fs::path mixed = work / "mixed";
    if (!fs::exists(mixed)) MakeMixedInput(mixed, mib << 20);
    fs::path bigZip = work / "big.zip";
    if (!fs::exists(bigZip)) Spawn({"sh", "-c", "cd '" + mixed.string() + "' && zip -r -q '" + bigZip.string() + "' ."});
    fs::path cab = work / "big.cab";
    if (!fs::exists(cab) && Have("gcab"))
        Spawn({"sh", "-c", "cd '" + mixed.string() + "' && find usr/include -type f | head -3000 | xargs gcab -c -z '" + cab.string() + "'"});
    fs::path smallDir = work / "small";
    std::vector<std::string> smallZips;
    if (!fs::exists(smallDir)) {
        fs::create_directories(smallDir);
        for (int i = 0; i < 400; ++i) {
            fs::path src = work / "smallsrc" / std::to_string(i);
            for (int k = 0; k < 5; ++k) WriteBytes(src / ("f" + std::to_string(k) + ".txt"), std::string(2000 + 37 * k + i, 'a' + k));
            Spawn({"sh", "-c", "cd '" + src.string() + "' && zip -q -r '" + (smallDir / (std::to_string(i) + ".zip")).string() + "' ."});
        }
    }
    for (auto& e : fs::directory_iterator(smallDir)) smallZips.push_back(e.path());
    std::sort(smallZips.begin(), smallZips.end());

    auto ourCommand = [&](const std::string& dll, const std::string& prefix, const std::vector<std::string>& archives) {
        std::vector<std::string> c{self, "--extract", dll, prefix, out};
        c.insert(c.end(), archives.begin(), archives.end());
        return std::vector<std::vector<std::string>>{c};
    };
    auto perArchive = [&](const std::vector<std::string>& archives, auto make) {
        std::vector<std::vector<std::string>> cs;
        for (const auto& a : archives) cs.push_back(make(a));
        return cs;
    };

    {
        std::map<std::string, Run> runs;
        runs["UNZIP32"] = Best(ourCommand("UNZIP32.DLL", "UnZip", {bigZip}), out);
        if (Have("bsdtar")) runs["bsdtar"] = Best({{"bsdtar", "-xf", bigZip, "-C", out}}, out);
        if (Have("unzip")) runs["unzip"] = Best({{"unzip", "-qo", bigZip, "-d", out}}, out);
        if (Have("7z")) runs["7z"] = Best({{"7z", "x", "-y", "-bd", "-o" + out.string(), bigZip}}, out);
        Report("large ZIP (" + std::to_string(fs::file_size(bigZip) >> 20) + " MiB)", runs, "UNZIP32");
    }
    if (fs::exists(cab)) {
        std::map<std::string, Run> runs;
        runs["CAB32"] = Best(ourCommand("CAB32.DLL", "Cab", {cab}), out);
        if (Have("bsdtar")) runs["bsdtar"] = Best({{"bsdtar", "-xf", cab, "-C", out}}, out);
        if (Have("7z")) runs["7z"] = Best({{"7z", "x", "-y", "-bd", "-o" + out.string(), cab}}, out);
        if (Have("gcab")) runs["gcab"] = Best({{"gcab", "-x", "-C", out, cab}}, out);
        Report("CAB (" + std::to_string(fs::file_size(cab) >> 20) + " MiB)", runs, "CAB32");
    }
    {
        std::map<std::string, Run> runs;
        runs["UNZIP32"] = Best(ourCommand("UNZIP32.DLL", "UnZip", smallZips), out);
        if (Have("bsdtar"))
            runs["bsdtar"] = Best(perArchive(smallZips, [&](const std::string& a) { return std::vector<std::string>{"bsdtar", "-xf", a, "-C", out}; }), out);
        if (Have("unzip"))
            runs["unzip"] = Best(perArchive(smallZips, [&](const std::string& a) { return std::vector<std::string>{"unzip", "-qo", a, "-d", out}; }), out);
        Report(std::to_string(smallZips.size()) + " small ZIPs (the tools start once per archive; the module is loaded once)",
               runs, "UNZIP32");
    }
    if (ownWork) fs::remove_all(work);
    return 0;
}
