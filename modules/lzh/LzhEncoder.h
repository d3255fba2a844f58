// Our LZH compressor: LZ77 over a sliding dictionary with a hash-chain matcher and lazy matching,
// coded in the static-Huffman block format of the methods -lh5- (8 KiB dictionary), -lh6- (32 KiB)
// and -lh7- (64 KiB); -lh4- (4 KiB, the same block format) for reading tests of older archives. Streaming: memory stays bounded whatever the input size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace norvex::lzh {

enum class LzhMethod { Lh4, Lh5, Lh6, Lh7 };

// The method's name as it stands in a header ("-lh5-") and its dictionary size in bits.
const char* MethodName(LzhMethod method);
int DictionaryBits(LzhMethod method);

// Effort of the match finder: 1 fastest .. 9 smallest output.
inline constexpr int kDefaultLevel = 7;

class LzhEncoder {
public:
    // Receives compressed bytes in order; returning false aborts the encoding (Write and Finish
    // then return false).
    using Sink = std::function<bool(const uint8_t* data, std::size_t size)>;

    LzhEncoder(LzhMethod method, Sink sink, int level = kDefaultLevel);
    ~LzhEncoder();
    LzhEncoder(const LzhEncoder&) = delete;
    LzhEncoder& operator=(const LzhEncoder&) = delete;

    bool Write(const void* data, std::size_t size);
    // Codes what is pending and pads the last byte; call once.
    bool Finish();

    uint64_t bytesIn() const;
    uint64_t bytesOut() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace norvex::lzh
