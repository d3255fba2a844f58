// libFuzzer target: arbitrary date-bound texts and default times through the pack options' parser.
#include <cstdio>
#include <cstdlib>

#include "fuzz/util/FuzzDateBoundInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = norvex::fuzz::RunDateBoundFuzzInput(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_datebound: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
