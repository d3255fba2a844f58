// What the modules refuse and how they talk to the host: malicious archives (absolute paths, "../",
// links pointing out, a file through a link) in ZIP, TAR and RAR; the overwrite question answered
// each way; progress records, cancel, and files that must survive a failed extraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <utime.h>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RarWriter.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

// Everything under root except the destination folder: what an extraction must never change.
std::map<std::string, std::string> Outside(const std::string& root) {
    auto all = SnapshotTree(root);
    std::map<std::string, std::string> out;
    for (auto& [k, v] : all)
        if (k != "dest" && k.rfind("dest/", 0) != 0) out[k] = v;
    return out;
}

void SetMtime(const std::string& path, time_t t) {
    struct utimbuf times {t, t};
    ::utime(path.c_str(), &times);
}

}  // namespace

TEST(ModuleSafety, MaliciousZipAndTarFromBsdtar) {
    if (!HaveTool("bsdtar")) GTEST_SKIP();
    LoadedModule zip("UNZIP32.DLL", "UnZip"), tar("TAR32.DLL", "Tar");
    if (!zip.ok() || !tar.ok()) GTEST_SKIP();
    TempDir dir;
    std::string outside = dir / "outside";
    std::filesystem::create_directories(outside);
    WriteFile(dir / "payload.txt", "evil\n");
    WriteFile(dir / "dest/keep.txt", "keep\n");
    // Each spec is one attack plus one honest file, which must still land.
    std::map<std::string, std::string> specs = {
        {"dotdot", "./../up.txt type=file contents=" + dir / "payload.txt" + "\n"},
        {"deepdotdot", "./a/../../up2.txt type=file contents=" + dir / "payload.txt" + "\n"},
        {"linkout", "./link type=link link=" + outside + "\n"},
        {"through", "./link type=link link=" + outside + "\n./link/evil.txt type=file contents=" + dir / "payload.txt" + "\n"},
        {"relout", "./rel type=link link=../../outside\n./rel/evil2.txt type=file contents=" + dir / "payload.txt" + "\n"},
    };
    auto before = Outside(dir.path());
    for (auto& [name, spec] : specs) {
        WriteFile(dir / (name + ".mtree"), "#mtree\n" + spec + "./honest.txt type=file contents=" + dir / "payload.txt" + "\n");
        for (const char* format : {"zip", "ustar"}) {
            std::string archive = dir / (name + "." + format);
            ASSERT_EQ(RunTool({"bsdtar", "-P", "--format", format, "-cf", archive, "@" + dir / (name + ".mtree")}).exitCode, 0);
            const LoadedModule& m = std::string(format) == "zip" ? zip : tar;
            TestWindow window;
            std::string log;
            int32_t r = m.run(&window, "-x -o " + Q(archive) + " " + Q(dir / "dest/"), &log);
            EXPECT_GE(r, ARC_ERROR_FIRST) << name << " " << format << ": " << log;
            EXPECT_EQ(ReadFile(dir / "dest/honest.txt"), "evil\n") << name << " " << format;
            std::filesystem::remove(dir / "dest/honest.txt");
        }
    }
    // Absolute names land inside, under their stripped path.
    ASSERT_EQ(RunTool({"bsdtar", "-P", "-cf", dir / "abs.tar", dir / "payload.txt"}).exitCode, 0);
    TestWindow window;
    EXPECT_EQ(tar.run(&window, "-x " + Q(dir / "abs.tar") + " " + Q(dir / "dest/")), 0);
    EXPECT_EQ(ReadFile(dir / ("dest" + dir.path() + "/payload.txt")), "evil\n");
    auto after = Outside(dir.path());
    for (auto& [k, v] : after) {
        if (k.size() > 6 && (k.substr(k.size() - 6) == ".mtree" || k.find(".zip") != std::string::npos ||
                             k.find(".ustar") != std::string::npos || k == "abs.tar"))
            continue;
        EXPECT_TRUE(before.count(k)) << "written outside the destination: " << k;
    }
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    EXPECT_EQ(ReadFile(dir / "dest/keep.txt"), "keep\n");
}

TEST(ModuleSafety, MaliciousRar) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP();
    TempDir dir;
    std::filesystem::create_directories(dir / "outside");
    std::vector<std::vector<RarEntry>> attacks = {
        {{"..\\up.txt", "evil"}},
        {{"a/../../up.txt", "evil"}},
        {{"C:\\..\\up.txt", "evil"}},
        {{"link", dir / "outside", RarEntry::Symlink}, {"link\\evil.txt", "evil"}},
        {{"rel", "../outside", RarEntry::Symlink}},
    };
    for (std::size_t i = 0; i < attacks.size(); ++i) {
        auto entries = attacks[i];
        entries.push_back({"honest.txt", "fine"});
        WriteFile(dir / "bad.rar", BuildRar4(entries)[0]);
        TestWindow window;
        std::string log;
        EXPECT_GE(rar.run(&window, "-x -o " + Q(dir / "bad.rar") + " " + Q(dir / "dest/"), &log), ARC_ERROR_FIRST) << i << log;
        EXPECT_EQ(ReadFile(dir / "dest/honest.txt"), "fine") << i;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "up.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "outside"));
    // An absolute name and a drive letter are stripped, not refused; a link inside is kept.
    WriteFile(dir / "ok.rar", BuildRar4({{"\\abs\\a.txt", "A"}, {"D:\\b.txt", "B"}, {"to-a", "abs/a.txt", RarEntry::Symlink}})[0]);
    TestWindow window;
    EXPECT_EQ(rar.run(&window, "-x " + Q(dir / "ok.rar") + " " + Q(dir / "ok/")), 0);
    EXPECT_EQ(SnapshotTree(dir / "ok"), (std::map<std::string, std::string>{
                                            {"abs", "d"}, {"abs/a.txt", "f:A"}, {"b.txt", "f:B"}, {"to-a", "l:abs/a.txt"}}));
}

TEST(ModuleSafety, OverwriteQuestionAnsweredEachWay) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP();
    TempDir dir;
    std::vector<RarEntry> entries = {{"a.txt", "new-a"}, {"b.txt", "new-b"}, {"c.txt", "new-c"}};
    WriteFile(dir / "x.rar", BuildRar4(entries)[0]);  // entries dated 2020-05-06
    auto reset = [&] {
        for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(dir / "d" + std::string("/") + n, std::string("old-") + n[0]);
    };
    auto contents = [&] {
        return ReadFile(dir / "d/a.txt").substr(0, 3) + ReadFile(dir / "d/b.txt").substr(0, 3) + ReadFile(dir / "d/c.txt").substr(0, 3);
    };
    std::string cmd = "-x " + Q(dir / "x.rar") + " " + Q(dir / "d/");
    struct Case {
        std::deque<int32_t> answers;
        int32_t result;
        std::string after;
        std::size_t questions;
    } cases[] = {
        {{ARC_ANSWER_YES, ARC_ANSWER_NO, ARC_ANSWER_YES}, 0, "newoldnew", 3},
        {{ARC_ANSWER_NO, ARC_ANSWER_YES_ALL}, 0, "oldnewnew", 2},
        {{ARC_ANSWER_NO_ALL}, 0, "oldoldold", 1},
        {{ARC_ANSWER_YES, ARC_ANSWER_CANCEL}, ARC_ERROR_USER_CANCEL, "newoldold", 2},
    };
    for (const Case& c : cases) {
        reset();
        TestWindow window;
        window.overwriteAnswers = c.answers;
        EXPECT_EQ(rar.run(&window, cmd), c.result);
        EXPECT_EQ(contents(), c.after);
        EXPECT_EQ(window.overwriteQuestions.size(), c.questions);
        if (!window.overwriteQuestions.empty()) {
            EXPECT_EQ(FromAnsi(window.overwriteQuestions[0]), dir / "d/a.txt");
        }
    }
    // Switches: always, never, if newer (a.txt is older than the entry, b.txt newer).
    reset();
    TestWindow quiet;
    EXPECT_EQ(rar.run(&quiet, "-x -o " + Q(dir / "x.rar") + " " + Q(dir / "d/")), 0);
    EXPECT_EQ(contents(), "newnewnew");
    reset();
    EXPECT_EQ(rar.run(&quiet, "-x -o- " + Q(dir / "x.rar") + " " + Q(dir / "d/")), 0);
    EXPECT_EQ(contents(), "oldoldold");
    reset();
    SetMtime(dir / "d/a.txt", 1000000000);  // 2001
    EXPECT_EQ(rar.run(&quiet, "-x -u " + Q(dir / "x.rar") + " " + Q(dir / "d/")), 0);
    EXPECT_EQ(contents(), "newoldold");
    EXPECT_TRUE(quiet.overwriteQuestions.empty());
    // Nobody to ask: the existing file stays and the result says the entry did not land.
    reset();
    EXPECT_EQ(rar.run(nullptr, cmd), ARC_ERROR_ALREADY_EXIST);
    EXPECT_EQ(contents(), "oldoldold");
}

TEST(ModuleSafety, ProgressRecordsAndCancel) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP();
    TempDir dir;
    std::string big(1000000, 'b');
    WriteFile(dir / "p.rar", BuildRar4({{"small.txt", "s"}, {"big.bin", big}, {"after.txt", "a"}})[0]);
    TestWindow window;
    ASSERT_EQ(rar.run(&window, "-x " + Q(dir / "p.rar") + " " + Q(dir / "out/")), 0);
    std::vector<TestWindow::Progress> bigRecords;
    for (auto& p : window.progress) {
        EXPECT_EQ(p.state, static_cast<uint32_t>(ARCEXTRACT_INPROCESS));
        if (p.source == "big.bin") bigRecords.push_back(p);
    }
    ASSERT_GE(bigRecords.size(), 1000000u / 65536u);
    EXPECT_EQ(bigRecords.front().written, 0u);
    EXPECT_EQ(bigRecords.back().written, big.size());
    EXPECT_EQ(bigRecords.back().size, big.size());
    EXPECT_EQ(bigRecords.back().size32, big.size());
    EXPECT_EQ(FromAnsi(bigRecords.back().dest), dir / "out/big.bin");
    for (std::size_t i = 1; i < bigRecords.size(); ++i) EXPECT_LE(bigRecords[i].written - bigRecords[i - 1].written, 65536u * 4);

    // A stop in the middle of big.bin: nothing half-written, nothing after it, an existing file kept.
    TestWindow stopper;
    stopper.stopWhen = [](const TestWindow::Progress& p) { return p.source == "big.bin" && p.written > 200000; };
    WriteFile(dir / "c/big.bin", "previous");
    EXPECT_EQ(rar.run(&stopper, "-x -o " + Q(dir / "p.rar") + " " + Q(dir / "c/")), ARC_ERROR_USER_CANCEL);
    EXPECT_EQ(SnapshotTree(dir / "c"), (std::map<std::string, std::string>{{"small.txt", "f:s"}, {"big.bin", "f:previous"}}));
}

TEST(ModuleSafety, OwnerWindowCarriesProgressWhenTheCallHasNone) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP();
    TempDir dir;
    WriteFile(dir / "p.rar", BuildRar4({{"a.txt", "a"}})[0]);
    TestWindow owner;
    ASSERT_TRUE(rar.setOwnerWindowEx(&owner, nullptr));
    EXPECT_EQ(rar.run(nullptr, "-x " + Q(dir / "p.rar") + " " + Q(dir / "o/")), 0);
    EXPECT_FALSE(owner.progress.empty());
    EXPECT_TRUE(rar.killOwnerWindowEx(&owner));
    std::size_t seen = owner.progress.size();
    EXPECT_EQ(rar.run(nullptr, "-x -o " + Q(dir / "p.rar") + " " + Q(dir / "o/")), 0);
    EXPECT_EQ(owner.progress.size(), seen);
}

TEST(ModuleSafety, UnwritableDestinationIsAFailure) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP();
    TempDir dir;
    WriteFile(dir / "p.rar", BuildRar4({{"sub\\a.txt", "a"}})[0]);
    std::filesystem::create_directories(dir / "ro");
    ::chmod((dir / "ro").c_str(), 0555);
    EXPECT_GE(rar.run(nullptr, "-x " + Q(dir / "p.rar") + " " + Q(dir / "ro/")), ARC_ERROR_FIRST);
}

TEST(ModuleSafety, AFileInTheWayOfAFolderIsAFailure) {
    LoadedModule rar("UNRAR32.DLL", "Unrar");
    if (!rar.ok()) GTEST_SKIP();
    TempDir dir;
    WriteFile(dir / "p.rar", BuildRar4({{"sub\\a.txt", "a"}, {"b.txt", "b"}})[0]);
    WriteFile(dir / "d/sub", "a file, not a folder");
    std::string log;
    EXPECT_EQ(rar.run(nullptr, "-x -o " + Q(dir / "p.rar") + " " + Q(dir / "d/"), &log), ARC_ERROR_MAKEDIRECTORY);
    EXPECT_NE(log.find("sub"), std::string::npos);
    EXPECT_EQ(SnapshotTree(dir / "d"), (std::map<std::string, std::string>{{"sub", "f:a file, not a folder"}, {"b.txt", "f:b"}}));
}
