// libFuzzer target: arbitrary command lines, masks and names through the modules' command-line reader.
#include <cstdio>
#include <cstdlib>

#include "fuzz/modules/FuzzCommandLineInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = norvex::fuzz::RunCommandLineFuzzInput(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz_cmdline: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
