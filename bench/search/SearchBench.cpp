// Searching 200 ZIP archives of 50 entries each for a regular expression, in process through the
// archiver modules, against what a user would type in a shell: a loop of `bsdtar -tf` piped to
// `grep -E` over the same archives with the same pattern. Wall-clock times, median of the runs.
//
//   bench_search [runs]        (default 7 runs; needs zip, bsdtar and grep on PATH)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/AnsiCodec.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "ui/ArchiveSearch.h"

using namespace norvex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kArchives = 200;
constexpr int kEntries = 50;
// Matches file names only (never a folder part, never a folder entry), so both sides count the same.
constexpr const char* kPattern = "_[0-9]*7\\.jpg$";

std::vector<std::string> MakeArchives(const std::string& root) {
    static const char* kKinds[] = {"photo", "scan", "memo", "track", "page"};
    static const char* kExts[] = {".jpg", ".png", ".txt", ".mp3", ".html"};
    std::vector<std::string> archives;
    for (int a = 0; a < kArchives; ++a) {
        const std::string src = root + "/src" + std::to_string(a);
        std::vector<std::string> argv{"zip", "-q", "-r", root + "/set" + std::to_string(a) + ".zip"};
        for (int e = 0; e < kEntries; ++e) {
            const int k = (a + e) % 5;
            // Every fifth entry lies in a folder, as archives of photos and documents often do.
            std::string name = std::string(e % 5 == 0 ? "folder/" : "") + kKinds[k] + "_" + std::to_string(a * kEntries + e) + kExts[(k + e) % 5];
            test::WriteFile(src + "/" + name, "content of " + name + "\n");
            argv.push_back(name);
        }
        if (test::RunTool(argv, src).exitCode != 0) {
            std::fprintf(stderr, "zip failed\n");
            std::exit(1);
        }
        std::filesystem::remove_all(src);
        archives.push_back(root + "/set" + std::to_string(a) + ".zip");
    }
    return archives;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    for (const char* tool : {"zip", "bsdtar", "grep"})
        if (!test::HaveTool(tool)) {
            std::fprintf(stderr, "%s is missing\n", tool);
            return 1;
        }
    test::TempDir dir;
    std::printf("making %d archives of %d entries ...\n", kArchives, kEntries);
    const std::vector<std::string> archives = MakeArchives(dir.path());
    std::vector<AnsiString> list;
    for (const std::string& a : archives) list.push_back(ToAnsi(a));

    // Ours: one TArchiveSearch, as the search window makes it.
    const TArchiveSearch search = TArchiveSearch::RegExp(kPattern, false);
    int ourHits = 0;
    std::vector<double> ours;
    double first = 0;
    for (int r = 0; r <= runs; ++r) {
        int hits = 0;
        const auto t0 = Clock::now();
        const TSearchSummary s = search.Run(list, [&](const TSearchHit&) { ++hits; });
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (!s.failures.empty()) {
            std::fprintf(stderr, "%zu archives failed\n", s.failures.size());
            return 1;
        }
        if (r == 0)
            first = ms;  // includes loading the module
        else
            ours.push_back(ms);
        ourHits = hits;
    }

    // The shell loop, started once per run through /bin/sh.
    const std::string script = "for f in \"$0\"/set*.zip; do bsdtar -tf \"$f\" | grep -E '" + std::string(kPattern) +
                               "'; done | wc -l";
    int loopHits = 0;
    std::vector<double> loop;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        const test::ToolResult res = test::RunTool({"sh", "-c", script, dir.path()});
        loop.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        loopHits = std::atoi(res.output.c_str());
    }

    const double o = Median(ours), l = Median(loop);
    std::printf("pattern %s over %d archives x %d entries, median of %d runs\n", kPattern, kArchives, kEntries, runs);
    std::printf("  norvex search (in process)    %8.1f ms   %d hits   (first run with module load %.1f ms)\n", o,
                ourHits, first);
    std::printf("  bsdtar -tf | grep -E loop     %8.1f ms   %d hits\n", l, loopHits);
    std::printf("  ratio ours / loop             %8.3f   (goal: at most 0.5)\n", o / l);
    if (ourHits != loopHits) {
        std::fprintf(stderr, "the hit counts differ\n");
        return 1;
    }
    return o / l <= 0.5 ? 0 : 2;
}
