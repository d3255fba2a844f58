// Reading an archive by content: a fifo or a device never blocks a module, and an archive behind a
// self-extracting stub of up to 1 MiB is found in every format that has stubs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RarWriter.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

struct Module {
    const char* dll;
    const char* prefix;
};
const Module kModules[] = {{"UNZIP32.DLL", "UnZip"}, {"UNRAR32.DLL", "Unrar"}, {"CAB32.DLL", "Cab"},
                           {"UNLHA32.DLL", "Unlha"}, {"TAR32.DLL", "Tar"}};

// Runs f on a thread; when it is not done in time, a writer opens the fifo (so that a reader stuck
// in open or read gets its end) and the call counts as blocked.
bool EndsInTime(const std::string& fifo, const std::function<void()>& f) {
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
    const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) ::close(w);
    done.wait();
    return false;
}

}  // namespace

TEST(ModuleDetection, FifosAndDevicesNeverBlockAndAreNoArchives) {
    TempDir td;
    const std::string fifo = td / "x.zip";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const Module& mod : kModules) {
        LoadedModule m(mod.dll, mod.prefix);
        if (!m.ok()) continue;
        SCOPED_TRACE(mod.dll);
        for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
            const AnsiString ansi = ToAnsi(path);
            EXPECT_TRUE(EndsInTime(fifo, [&] { EXPECT_EQ(m.checkArchive(ansi.c_str(), 0), 0); })) << path;
            EXPECT_TRUE(EndsInTime(fifo, [&] {
                HARC h = m.openArchive(nullptr, ansi.c_str(), 0);
                EXPECT_EQ(h, nullptr);
                if (h) m.closeArchive(h);
            })) << path;
            EXPECT_TRUE(EndsInTime(fifo, [&] { EXPECT_GE(m.run(nullptr, "x \"" + path + "\" \"" + td / "out/\""), ARC_ERROR_FIRST); }))
                << path;
            if (m.getArchiveType) {
                EXPECT_TRUE(EndsInTime(fifo, [&] { EXPECT_EQ(m.getArchiveType(ansi.c_str()), 0); })) << path;
            }
        }
    }
}

TEST(ModuleDetection, ArchivesBehindAStubAreFoundUpTo1MiB) {
    struct Sample {
        const char* label;
        Module module;
        std::function<std::string(const TempDir&)> build;  // empty: the tool is missing
    };
    const std::vector<Sample> samples = {
        {"rar4", kModules[1], [](const TempDir&) { return BuildRar4({{"inner.txt", "inner"}})[0]; }},
        {"rar5", kModules[1], [](const TempDir&) { return BuildRar5({{{"inner.txt", "inner"}}})[0]; }},
        {"cab", kModules[2],
         [](const TempDir& td) {
             WriteFile(td / "src/inner.txt", "inner");
             if (!HaveTool("gcab") || RunTool({"gcab", "-c", td / "c.cab", "inner.txt"}, td / "src").exitCode != 0)
                 return std::string();
             return ReadFile(td / "c.cab");
         }},
        {"zip", kModules[0],
         [](const TempDir& td) {
             WriteFile(td / "src/inner.txt", "inner");
             if (!HaveTool("zip") || RunTool({"zip", "-q", td / "z.zip", "inner.txt"}, td / "src").exitCode != 0)
                 return std::string();
             return ReadFile(td / "z.zip");
         }},
        {"lzh", kModules[3],
         [](const TempDir& td) {
             WriteFile(td / "src/inner.txt", "inner");
             LoadedModule lha("UNLHA32.DLL", "Unlha");
             if (lha.run(nullptr, "a \"" + td / "l.lzh" + "\" \"" + td / "src/" + "\" \"inner.txt\"") != 0) return std::string();
             return ReadFile(td / "l.lzh");
         }},
    };
    for (const Sample& s : samples) {
        LoadedModule m(s.module.dll, s.module.prefix);
        if (!m.ok()) continue;
        TempDir td;
        const std::string archive = s.build(td);
        if (archive.empty()) continue;
        for (std::size_t stubSize : {std::size_t(2000), std::size_t(300000), std::size_t((1 << 20) - 100)}) {
            SCOPED_TRACE(std::string(s.label) + " behind " + std::to_string(stubSize) + " bytes");
            std::string stub = "MZ";
            while (stub.size() < stubSize) stub += "stub code of a self-extracting program. ";
            stub.resize(stubSize);
            const std::string exe = td / "x.exe";
            WriteFile(exe, stub + archive);
            EXPECT_NE(m.checkArchive(ToAnsi(exe).c_str(), 0), 0);
            EXPECT_EQ(ListAll(m, exe), std::vector<std::string>{"inner.txt"});
            fs::remove_all(td / "out");
            EXPECT_EQ(m.run(nullptr, "x \"" + exe + "\" \"" + td / "out/\""), 0);
            EXPECT_EQ(ReadFile(td / "out/inner.txt"), "inner");
        }
    }
}
