// Replays every input the fuzzer kept (tests/fixtures/fuzz/fuzz_regexp/): each must go through
// pattern setting and matching without a crash or a sanitizer report.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/regexp/FuzzRegexpInput.h"

namespace norvex::test {
namespace {

TEST(FuzzRegressionTest, EveryKeptInputRuns) {
    const std::filesystem::path dir = NORVEX_FUZZ_FIXTURES;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        RunRegexpFuzzInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        ++count;
    }
    EXPECT_GT(count, 0);
}

}  // namespace
}  // namespace norvex::test
