// One fuzz input for the settings store, shared by the libFuzzer target and the test that replays
// kept inputs: the bytes are an ini file. Loading must take anything; saving what was loaded (over
// the same bytes, so unknown lines are carried along) must give valid UTF-8 that loads back to the
// same settings, and saving that again must change nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/IniDocument.h"
#include "settings/uIniControl.h"

namespace norvex {

inline constexpr std::size_t kSettingsFuzzMaxInput = 64 * 1024;

inline void RunSettingsFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size > kSettingsFuzzMaxInput) return;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TWindowMetrics metrics{1920, 1080, 640, 480};

    SettingsBlock first;
    TIniControl::LoadFromBytes(bytes, first, metrics);
    const std::string saved = TIniControl::SaveToBytes(first, bytes);
    if (!IsValidUtf8(saved)) std::abort();

    SettingsBlock second;
    TIniControl::LoadFromBytes(saved, second, metrics);
    // Compared through a fresh file: equal settings write equal bytes.
    if (TIniControl::SaveToBytes(first) != TIniControl::SaveToBytes(second)) std::abort();
    if (TIniControl::SaveToBytes(second, saved) != saved) std::abort();
}

}  // namespace norvex
