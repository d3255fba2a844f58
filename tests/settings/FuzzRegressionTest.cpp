// Replays every input the settings fuzzer kept (tests/fixtures/fuzz/fuzz_settings/): each must load,
// save to valid UTF-8 and load back to the same settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/settings/FuzzSettingsInput.h"

namespace {

TEST(SettingsFuzzRegression, EveryKeptInputRoundTrips) {
    const std::filesystem::path dir = NORVEX_FUZZ_FIXTURES;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        norvex::RunSettingsFuzzInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        ++count;
    }
    EXPECT_GT(count, 0);
}

}  // namespace
