// Every kept fuzz input (tests/fixtures/fuzz/<target>/: seeds and the findings of the fuzzers) run
// through the same code the fuzz targets call. The module inputs go to the built modules, loaded as
// the host loads them; the others to the reader, the codec and the date bounds directly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/modules/FuzzArchiveInput.h"
#include "fuzz/modules/FuzzCommandLineInput.h"
#include "fuzz/platform/FuzzCodecInput.h"
#include "fuzz/util/FuzzDateBoundInput.h"
#include "tests/modules/ModuleTestSupport.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::pair<std::string, std::string>> Inputs(const std::string& target) {
    std::vector<std::pair<std::string, std::string>> inputs;
    const fs::path folder = fs::path(NORVEX_FUZZ_FIXTURES) / target;
    if (!fs::is_directory(folder)) return inputs;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        inputs.emplace_back(e.path().filename().string(),
                            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

struct ModuleCase {
    const char* target;
    const char* dll;
    const char* prefix;
    const char* extension;
    const char* switches;
};

// The same names, extensions and switches as fuzz/modules/CMakeLists.txt.
const ModuleCase kModules[] = {
    {"fuzz_unzip32", "UNZIP32.DLL", "UnZip", ".zip", "-o"},
    {"fuzz_unrar32", "UNRAR32.DLL", "Unrar", ".rar", "-o"},
    {"fuzz_cab32", "CAB32.DLL", "Cab", ".cab", "-o"},
    {"fuzz_tar32", "TAR32.DLL", "Tar", ".tar", "-o"},
    {"fuzz_unlha32", "UNLHA32.DLL", "Unlha", ".lzh", "-u0 -x1"},
};

class ModuleFuzzReplay : public ::testing::TestWithParam<ModuleCase> {};

}  // namespace

TEST_P(ModuleFuzzReplay, KeptInputsWriteNothingOutsideAndLeaveNoResidue) {
    const ModuleCase& c = GetParam();
    norvex::test::LoadedModule module(c.dll, c.prefix);
    if (!module.ok()) GTEST_SKIP() << "module " << c.dll << " is not built";
    norvex::fuzz::ModuleEntries m;
    m.command = module.command;
    m.openArchive = module.openArchive;
    m.closeArchive = module.closeArchive;
    m.findFirst = module.findFirst;
    m.findNext = module.findNext;
    m.getArcOriginalSize = module.getArcOriginalSize;
    m.checkArchive = module.checkArchive;
    m.getOriginalSizeEx = module.getOriginalSizeEx;
    m.getWriteTimeEx = module.getWriteTimeEx;
    m.extension = c.extension;
    m.extractSwitches = c.switches;
    norvex::fuzz::ArchiveFuzzScratch scratch(c.extension + 1);
    ASSERT_FALSE(scratch.root.empty());
    const auto inputs = Inputs(c.target);
    EXPECT_FALSE(inputs.empty()) << "no kept inputs for " << c.target;
    for (const auto& [name, bytes] : inputs)
        EXPECT_EQ(norvex::fuzz::RunArchiveFuzzInput(m, scratch, Bytes(bytes), bytes.size()), "") << name;
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleFuzzReplay, ::testing::ValuesIn(kModules),
                         [](const auto& info) { return std::string(info.param.target + 5); });

TEST(FuzzReplay, CommandLineCodecAndDateBoundInputs) {
    struct Target {
        const char* name;
        std::string (*run)(const std::uint8_t*, std::size_t);
    };
    const Target targets[] = {{"fuzz_cmdline", norvex::fuzz::RunCommandLineFuzzInput},
                              {"fuzz_codec", norvex::fuzz::RunCodecFuzzInput},
                              {"fuzz_datebound", norvex::fuzz::RunDateBoundFuzzInput}};
    for (const Target& t : targets) {
        const auto inputs = Inputs(t.name);
        EXPECT_FALSE(inputs.empty()) << "no kept inputs for " << t.name;
        for (const auto& [name, bytes] : inputs) EXPECT_EQ(t.run(Bytes(bytes), bytes.size()), "") << t.name << "/" << name;
    }
}
