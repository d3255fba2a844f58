// Extraction on every core, seen from the host: one ZIP of many entries with an overwrite question, a
// broken entry and a cancel in the middle. The host must see what a one-thread extraction shows, in
// archive order, and nothing partial may be left on the disk.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

std::string Text(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += "line " + std::to_string(rng() % 100000) + " 解凍 extract\n";
    s.resize(n);
    return s;
}

std::string Name(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "f%02d.txt", i);
    return buf;
}

void Put32(std::string& bytes, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// Changes the CRC that both headers of an entry give.
void BreakCrc(std::string& bytes, const std::string& name) {
    for (std::size_t at = bytes.find(name); at != std::string::npos; at = bytes.find(name, at + 1)) {
        if (at >= 30 && bytes.compare(at - 30, 4, "PK\3\4") == 0) Put32(bytes, at - 30 + 14, 0xDEADBEEF);
        if (at >= 46 && bytes.compare(at - 46, 4, "PK\1\2") == 0) Put32(bytes, at - 46 + 16, 0xDEADBEEF);
    }
}

// Long contents by size and hash, so that a failed comparison prints a few lines (a line diff of
// megabyte files costs gigabytes).
std::map<std::string, std::string> Digest(std::map<std::string, std::string> tree) {
    for (auto& [name, value] : tree)
        if (value.size() > 64) value = std::to_string(value.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(value));
    return tree;
}

}  // namespace

TEST(ParallelExtraction, QuestionBrokenEntryAndCancelInTheMiddle) {
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
    if (!HaveTool("zip")) GTEST_SKIP();
    TempDir dir;
    constexpr int kCount = 60, kBroken = 10, kAskedYes = 20, kAskedNo = 25, kCancelAt = 38;
    std::vector<std::string> args{"zip", "-q", dir / "a.zip"};
    std::map<std::string, std::string> content;
    for (int i = 0; i < kCount; ++i) {
        // Sizes from a few bytes to over a MiB, so that workers finish out of order.
        std::size_t size = (i % 7 == 3) ? 1500000 : 100 + (i * 7919) % 90000;
        content[Name(i)] = Text(size, i);
        WriteFile(dir / ("src/" + Name(i)), content[Name(i)]);
        args.push_back(Name(i));
    }
    ASSERT_EQ(RunTool(args, dir / "src").exitCode, 0);
    std::string bytes = ReadFile(dir / "a.zip");
    BreakCrc(bytes, Name(kBroken));
    WriteFile(dir / "a.zip", bytes);

    std::string out = dir / "out";
    WriteFile(out + "/" + Name(kAskedYes), "old yes");
    WriteFile(out + "/" + Name(kAskedNo), "old no");
    TestWindow window;
    window.overwriteAnswers = {ARC_ANSWER_YES, ARC_ANSWER_NO};
    // The host stops at the first progress of f38 (1.5 MB) that carries data. Usually that is in the
    // middle of its data; when the worker outran the walk it may already be the whole size, but the
    // file is still unnamed then, so a stop must leave nothing of it either way.
    window.stopWhen = [&](const TestWindow::Progress& p) { return p.source == Name(kCancelAt) && p.written > 0; };
    std::string log;
    EXPECT_EQ(module.run(&window, "-x " + Q(dir / "a.zip") + " " + Q(out + "/"), &log), ARC_ERROR_USER_CANCEL);

    // The questions, one at a time, in archive order.
    EXPECT_EQ(window.overwriteQuestions,
              (std::vector<std::string>{ToAnsi(out + "/" + Name(kAskedYes)), ToAnsi(out + "/" + Name(kAskedNo))}));
    // The broken entry's line is in the log; the cancel is the last word.
    EXPECT_NE(log.find(Name(kBroken)), std::string::npos) << log;
    EXPECT_NE(log.find("中止しました"), std::string::npos) << log;

    // On disk: every entry before the cancel except the broken one, the "no" file untouched, nothing
    // from the cancelled entry on, and no temporary.
    std::map<std::string, std::string> expected;
    for (int i = 0; i < kCancelAt; ++i) {
        if (i == kBroken) continue;
        expected[Name(i)] = "f:" + (i == kAskedNo ? std::string("old no") : content[Name(i)]);
    }
    EXPECT_EQ(Digest(SnapshotTree(out)), Digest(expected));

    // Progress: entry by entry in archive order, each entry's records together, from 0 to its size.
    int current = -1;
    uint64_t last = 0;
    for (const auto& p : window.progress) {
        int index = std::stoi(p.source.substr(1, 2));
        if (index != current) {
            ASSERT_GT(index, current) << "progress went back to " << p.source;
            if (current >= 0 && current != kBroken) {
                EXPECT_EQ(last, content[Name(current)].size()) << Name(current);
            }
            current = index;
            EXPECT_EQ(p.written, 0u) << p.source;
        } else {
            EXPECT_GE(p.written, last) << p.source;
        }
        last = p.written;
    }
    EXPECT_EQ(current, kCancelAt);
}

TEST(ParallelExtraction, ManyEntriesLandWholeInFoldersMadeOnTheWay) {
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
    if (!HaveTool("zip")) GTEST_SKIP();
    TempDir dir;
    for (int i = 0; i < 400; ++i) {
        std::string folder = "d" + std::to_string(i % 13) + "/e" + std::to_string(i % 5);
        WriteFile(dir / ("src/" + folder + "/" + std::to_string(i) + Name(i % 100)), Text(50 + (i * 131) % 5000, i));
    }
    ASSERT_EQ(RunTool({"zip", "-q", "-r", dir / "a.zip", "."}, dir / "src").exitCode, 0);
    TestWindow window;
    ASSERT_EQ(module.run(&window, "-x " + Q(dir / "a.zip") + " " + Q(dir / "out/")), 0);
    EXPECT_EQ(Digest(SnapshotTree(dir / "out")), Digest(SnapshotTree(dir / "src")));
    // A second run over the same files, every question answered "no to all": one question, nothing
    // changed.
    window.overwriteAnswers = {ARC_ANSWER_NO_ALL};
    window.overwriteQuestions.clear();
    ASSERT_EQ(module.run(&window, "-x " + Q(dir / "a.zip") + " " + Q(dir / "out/")), 0);
    EXPECT_EQ(window.overwriteQuestions.size(), 1u);
    EXPECT_EQ(Digest(SnapshotTree(dir / "out")), Digest(SnapshotTree(dir / "src")));
}

TEST(ParallelExtraction, ALowDescriptorLimitSlowsTheWorkersInsteadOfFailing) {
    // Files written ahead hold descriptors; under a limit that leaves a dozen free, a one-thread
    // extraction fits, so the workers must too.
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
    if (!HaveTool("python3")) GTEST_SKIP();
    TempDir dir;
    ASSERT_EQ(RunTool({"python3", "-c",
                       "import sys, zipfile\n"
                       "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                       "    for i in range(300):\n"
                       "        info = zipfile.ZipInfo('d/f%03d.txt' % i, (2021, 1, 1, 0, 0, 0))\n"
                       "        info.create_system, info.external_attr = 3, 0o100644 << 16\n"
                       "        info.compress_type = zipfile.ZIP_DEFLATED\n"
                       "        z.writestr(info, ('x%d ' % i) * 2000)\n",
                       dir / "a.zip"})
                  .exitCode,
              0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::size_t open = 0;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            while (const dirent* e = ::readdir(d)) open += e->d_name[0] != '.';
            ::closedir(d);
        }
        const rlim_t low = static_cast<rlim_t>(open + 10);
        struct rlimit limit {low, low};
        if (open == 0 || ::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(2);
        TestWindow window;
        ::_exit(module.run(&window, "-x " + Q(dir / "a.zip") + " " + Q(dir / "out/")) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto tree = SnapshotTree(dir / "out");
    EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [](const auto& f) { return f.first.rfind("d/f", 0) == 0; }), 300);
}
