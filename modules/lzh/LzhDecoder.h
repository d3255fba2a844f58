// Our decoder of the static-Huffman block format of -lh5-, -lh6- and -lh7- (the format our encoder
// writes; see LzhEncoder.h). It pulls the compressed bytes of one entry through a callback and hands
// out the decoded bytes in pieces from its own window, so nothing is copied on the way out. Any input
// that does not describe exactly originalSize bytes fails with a status, never reads or writes out of
// its buffers. Tested by LzhDecoderTest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace norvex::lzh {

enum class DecodeStatus {
    Ok,
    BadCode,      // a table that is no prefix code, a size out of range, a symbol outside its table
    BadDistance,  // a match reaching before the start of the output
    TooLong,      // the data describes more than the entry's original size
    Truncated,    // the data ends (compressed size reached) before the entry is complete
    ReadFailed,   // the callback reported a read error
};

// The dictionary bits of a method name: 13 for "-lh5-", 15 for "-lh6-", 16 for "-lh7-"; 0 for any
// other (those are not this decoder's).
int DecoderDictionaryBits(std::string_view method);

class LzhDecoder {
public:
    // Fills buf with up to n compressed bytes, in order: the count, 0 at the end of the entry's data,
    // or -1 on a read error.
    using Source = std::function<int64_t(uint8_t* buf, std::size_t n)>;

    // dictionaryBits as DecoderDictionaryBits gives it; compressedSize only sizes the input buffer.
    LzhDecoder(int dictionaryBits, uint64_t compressedSize, uint64_t originalSize, Source source);
    ~LzhDecoder();
    LzhDecoder(const LzhDecoder&) = delete;
    LzhDecoder& operator=(const LzhDecoder&) = delete;

    // The next piece of output (at most a few hundred KiB); data stays valid until the next call.
    // Returns its size, 0 once originalSize bytes were produced, or -1 after a failure (status()).
    int64_t next(const uint8_t*& data);

    DecodeStatus status() const;
    uint64_t produced() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace norvex::lzh
