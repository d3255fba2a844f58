// libFuzzer target: arbitrary bytes as the settings file.
#include "fuzz/settings/FuzzSettingsInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    norvex::RunSettingsFuzzInput(data, size);
    return 0;
}
