// Times per name of TAWKStr, RE2 (longest match) and std::regex (ECMAScript and POSIX) on the same one
// million file names, for the three patterns Norvex itself uses and one search a user might type;
// then the cost of compiling a pattern and of setting a cached one again.
//
//   bench_regexp [NAMES]      (default 1000000)
#include <re2/re2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "regexp/bmRegExp.h"

namespace {

using Clock = std::chrono::steady_clock;
using norvex::TAWKStr;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Names as they turn up in download and archive folders.
std::vector<std::string> MakeNames(std::size_t count, bool cp932, std::mt19937& rng) {
    static const char* const stems[] = {"IMG_", "DSC", "report", "backup", "Project Files ", "setup-", "photos",
                                        "archive_v", "music", "movie.part", "data.part", "readme", "budget_",
                                        "invoice-", "scan", "thesis_final_", "holiday ", "driver_"};
    // 写真_, 資料, 新しいフォルダ, 議事録_, 音楽
    static const char* const stemsJ[] = {"\x8E\xCA\x90^_", "\x8E\x91\x97\xBF",
                                         "\x90V\x82\xB5\x82\xA2\x83t\x83H\x83\x8B\x83_", "\x8B" "c\x8E\x96\x98^_",
                                         "\x89\xB9\x8Ay"};
    static const char* const exts[] = {".jpg", ".JPG", ".png", ".txt", ".docx", ".doc", ".rar", ".zip", ".lzh",
                                       ".pdf", "", "", ".tar.gz", ".mp3"};
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string name;
        if (cp932 && rng() % 2 == 0) {
            name = stemsJ[rng() % std::size(stemsJ)];
        } else {
            name = stems[rng() % std::size(stems)];
        }
        switch (rng() % 6) {
            case 0: name += std::to_string(rng() % 10000); break;
            case 1: name += std::to_string(2000 + rng() % 25) + "-" + std::to_string(1 + rng() % 12); break;
            case 2: name += std::to_string(rng() % 4) + "." + std::to_string(rng() % 10) + char('a' + rng() % 3); break;
            case 3: name += "_0" + std::to_string(1 + rng() % 9); break;
            case 4: name += std::string(rng() % 3, '0') + std::to_string(1 + rng() % 3); break;
            default: break;
        }
        if (name.find("part") != std::string::npos) name += ".rar";
        else name += exts[rng() % std::size(exts)];
        names.push_back(std::move(name));
    }
    return names;
}

struct Timing {
    double perName;  // seconds
    std::size_t hits;
};

template <class F>
Timing Time(const std::vector<std::string>& names, int rounds, F&& matchOne) {
    double best = 1e9;
    std::size_t hits = 0;
    for (int r = 0; r < rounds; ++r) {
        hits = 0;
        const auto t0 = Clock::now();
        for (const std::string& name : names) hits += matchOne(name) ? 1 : 0;
        best = std::min(best, Seconds(Clock::now() - t0));
    }
    return {best / static_cast<double>(names.size()), hits};
}

void Line(const char* what, const Timing& t, const Timing* base) {
    std::printf("    %-24s %9.1f ns/name  %8zu hits", what, t.perName * 1e9, t.hits);
    if (base != nullptr) std::printf("   ours is %5.2fx faster", t.perName / base->perName);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    std::mt19937 rng(12345);
    const auto ascii = MakeNames(count, false, rng);
    const auto mixed = MakeNames(count, true, rng);

    const char* const patterns[] = {"[_ \\.0-9]+[a-z]?$", "part[0-9]+\\..*$", "part[0]*1\\..*$",
                                    "(IMG|DSC)_?[0-9]+\\.(jpg|JPG|png)$"};
    std::printf("%zu names; time per name, best of 3 (std::regex: 1 round)\n", count);
    for (const char* pattern : patterns) {
        std::printf("\n  %s\n", pattern);
        TAWKStr ours;
        ours.SetRegExp(pattern);
        int start = 0, length = 0;
        const Timing tOurs = Time(ascii, 3, [&](const std::string& n) { return ours.Match(n, start, length) != 0; });
        const Timing tOursJ = Time(mixed, 3, [&](const std::string& n) { return ours.Match(n, start, length) != 0; });

        RE2::Options options;
        options.set_longest_match(true);
        RE2 re2(pattern, options);
        re2::StringPiece whole;
        const Timing tRe2 = Time(ascii, 3, [&](const std::string& n) {
            return re2.Match(n, 0, n.size(), RE2::UNANCHORED, &whole, 1);
        });

        const std::regex stdre(pattern);
        std::smatch m;
        const Timing tStd = Time(ascii, 1, [&](const std::string& n) { return std::regex_search(n, m, stdre); });
        // POSIX extended syntax asks std::regex for leftmost-longest, the semantics of the others.
        const std::regex stdPosix(pattern, std::regex::extended);
        const Timing tPosix = Time(ascii, 1, [&](const std::string& n) { return std::regex_search(n, m, stdPosix); });

        Line("TAWKStr, ASCII names", tOurs, nullptr);
        Line("TAWKStr, cp932 names", tOursJ, nullptr);
        Line("RE2 longest, ASCII", tRe2, &tOurs);
        Line("std::regex, ASCII", tStd, &tOurs);
        Line("std::regex POSIX, ASCII", tPosix, &tOurs);
    }

    // Compiling: each object is fresh, so every SetRegExp builds the automata.
    {
        const int n = 20000;
        std::vector<TAWKStr> objects(n);
        const auto t0 = Clock::now();
        for (TAWKStr& re : objects) re.SetRegExp("[_ \\.0-9]+[a-z]?$");
        std::printf("\ncompile \"[_ \\.0-9]+[a-z]?$\": %.2f us\n", Seconds(Clock::now() - t0) / n * 1e6);
    }
    {
        TAWKStr re;
        re.SetRegExp("part[0-9]+\\..*$");
        re.SetRegExp("part[0]*1\\..*$");
        const int n = 2000000;
        const std::string a = "part[0-9]+\\..*$", b = "part[0]*1\\..*$";
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) re.SetRegExp(i % 2 ? a : b);
        std::printf("set a cached pattern again: %.3f us\n", Seconds(Clock::now() - t0) / n * 1e6);
    }
    return 0;
}
