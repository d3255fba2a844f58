// libFuzzer target: arbitrary bytes through the codec in both directions and the separator searches.
#include <cstdio>
#include <cstdlib>

#include "fuzz/platform/FuzzCodecInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = norvex::fuzz::RunCodecFuzzInput(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_codec: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
