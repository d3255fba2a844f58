// libFuzzer target: arbitrary pattern and subject bytes through TAWKStr.
#include "fuzz/regexp/FuzzRegexpInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    norvex::RunRegexpFuzzInput(data, size);
    return 0;
}
