// The installed program: `cmake --install` of this build into a scratch prefix gives a tree whose
// programs find their codec and archiver modules from their own folder, wherever the tree lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

const char* const kModules[] = {"unzip32.so", "unlha32.so", "cab32.so", "unrar32.so", "tar32.so", "7-zip32.so"};

// One install for the whole suite (a copy of some megabytes), moved between the tests' checks.
class InstalledTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new TempDir;
        prefix_ = *scratch_ / "prefix";
        const ToolResult r = RunTool({NORVEX_CMAKE_COMMAND, "--install", NORVEX_BUILD_DIR, "--prefix", prefix_});
        installOutput_ = r.output;
        installed_ = r.exitCode == 0;
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << installOutput_; }

    // The shared libraries a file needs, as the dynamic loader resolves them ("name => path").
    static std::string Resolved(const std::string& file) {
        return RunTool({"env", "-u", "LD_LIBRARY_PATH", "ldd", file}).output;
    }
    // Where the loader takes library from for file (canonical), or "" when it is not resolved.
    static std::string ResolvedPath(const std::string& deps, const std::string& library) {
        const std::string key = library + " => ";
        const std::size_t at = deps.find(key);
        if (at == std::string::npos) return {};
        const std::size_t from = at + key.size();
        const std::size_t to = deps.find(" (", from);
        std::error_code ec;
        const fs::path p = fs::canonical(deps.substr(from, to - from), ec);
        return ec ? std::string() : p.string();
    }

    static TempDir* scratch_;
    static std::string prefix_;
    static std::string installOutput_;
    static bool installed_;
};
TempDir* InstalledTree::scratch_ = nullptr;
std::string InstalledTree::prefix_;
std::string InstalledTree::installOutput_;
bool InstalledTree::installed_ = false;

// The layout the loader and the RPATHs expect, whatever GNUInstallDirs would call the library
// folder; each installed binary takes the codec from the prefix, never from the build tree.
TEST_F(InstalledTree, ProgramsAndModulesResolveTheCodecInsideThePrefix) {
    const std::string codec = prefix_ + "/lib/norvex/lib/libnorvex_codec.so.0";
    ASSERT_TRUE(fs::exists(codec));
    std::vector<std::string> binaries{prefix_ + "/bin/norvex-cli"};
    if (NORVEX_WITH_GUI) binaries.push_back(prefix_ + "/bin/norvex");
    for (const char* m : kModules) binaries.push_back(prefix_ + "/lib/norvex/modules/" + m);
    for (const std::string& b : binaries) {
        ASSERT_TRUE(fs::exists(b)) << b;
        const std::string deps = Resolved(b);
        EXPECT_EQ(ResolvedPath(deps, "libnorvex_codec.so.0"), fs::canonical(codec).string()) << b << "\n" << deps;
        EXPECT_EQ(deps.find("not found"), std::string::npos) << b << "\n" << deps;
        EXPECT_EQ(deps.find(NORVEX_BUILD_DIR), std::string::npos) << b << "\n" << deps;
    }
    for (const char* page : {"norvex-cli.1.gz", "norvex.1.gz"}) {
        if (std::string(page) == "norvex.1.gz" && !NORVEX_WITH_GUI) continue;
        EXPECT_TRUE(fs::exists(prefix_ + "/share/man/man1/" + page)) << page;
    }
}

TEST_F(InstalledTree, DesktopFilesOfTheWindowAreInstalledAndValid) {
    if (!NORVEX_WITH_GUI) GTEST_SKIP() << "built without the window";
    EXPECT_TRUE(fs::exists(prefix_ + "/share/norvex/help/index.html"));
    EXPECT_TRUE(fs::exists(prefix_ + "/share/icons/hicolor/scalable/apps/norvex.svg"));
    const std::string entry = prefix_ + "/share/applications/norvex.desktop";
    ASSERT_TRUE(fs::exists(entry));
    if (HaveTool("desktop-file-validate")) {
        const ToolResult r = RunTool({"desktop-file-validate", entry});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output, "");
    }
}

// The installed norvex-cli extracts a ZIP with a raw cp932 name (the ZIP module and the codec at
// work) after the whole tree has moved: nothing it uses may come from the build tree or the old place.
TEST_F(InstalledTree, InstalledCliExtractsAfterTheTreeMoved) {
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    const std::string moved = *scratch_ / "moved";
    fs::rename(prefix_, moved);
    prefix_ = moved;

    // "ソフト表.txt" in cp932: two of its characters end in the byte 0x5C.
    const std::string rawName = "\x83\x5c\x83\x74\x83\x67\x95\x5c.txt";
    TempDir work;
    fs::create_directories(work / "src");
    std::ofstream(work / ("src/" + rawName), std::ios::binary) << "installed\n";
    ASSERT_EQ(RunTool({"zip", "-q", "../t.zip", rawName}, work / "src").exitCode, 0);
    WriteFile(work / "empty.ini", "");

    const ToolResult r = RunTool({"env", "-u", "LD_LIBRARY_PATH", moved + "/bin/norvex-cli", "--ini", work / "empty.ini",
                                  "--to", work / "out", "-k", work / "t.zip"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ReadFile(work / "out/ソフト表.txt"), "installed\n") << r.output;
    EXPECT_TRUE(fs::exists(work / "t.zip")) << "-k keeps the archive";
}

}  // namespace
