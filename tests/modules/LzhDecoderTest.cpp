// Our -lh5-/-lh6-/-lh7- decoder: what our encoder makes decodes to the original bytes whatever the
// shape of the data and however the input arrives, and hand-made streams that break the format's
// rules fail with the status that names the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "modules/lzh/LzhDecoder.h"
#include "modules/lzh/LzhEncoder.h"
#include "tests/modules/LhaTestSupport.h"

namespace norvex::test {
namespace {

using lzh::DecodeStatus;
using lzh::LzhMethod;

std::string Encode(const std::string& data, LzhMethod method) {
    std::string out;
    lzh::LzhEncoder encoder(method, [&](const uint8_t* p, std::size_t n) {
        out.append(reinterpret_cast<const char*>(p), n);
        return true;
    });
    EXPECT_TRUE(encoder.Write(data.data(), data.size()));
    EXPECT_TRUE(encoder.Finish());
    return out;
}

struct Decoded {
    std::string data;
    DecodeStatus status = DecodeStatus::Ok;
    bool ok = false;
};

// Decodes coded with the source handing out at most feed bytes a call.
Decoded Decode(const std::string& coded, uint64_t originalSize, int dictBits = 13, std::size_t feed = 1 << 20) {
    std::size_t at = 0;
    lzh::LzhDecoder decoder(dictBits, coded.size(), originalSize, [&](uint8_t* buf, std::size_t n) -> int64_t {
        n = std::min({n, feed, coded.size() - at});
        std::memcpy(buf, coded.data() + at, n);
        at += n;
        return static_cast<int64_t>(n);
    });
    Decoded d;
    for (;;) {
        const uint8_t* p = nullptr;
        const int64_t n = decoder.next(p);
        if (n < 0) {
            d.status = decoder.status();
            return d;
        }
        if (n == 0) break;
        d.data.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    }
    d.ok = true;
    return d;
}

int Bits(LzhMethod m) { return lzh::DictionaryBits(m); }

// Shapes that reach the decoder's corners: one byte, sizes at the dictionary and the output chunk,
// matches of the longest length at distance one, distances of the whole dictionary, several blocks
// of literals (incompressible data), and text over more than one output piece.
TEST(LzhDecoder, DecodesOurEncoderOutputOfEveryShape) {
    for (const LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh6, LzhMethod::Lh7}) {
        const std::size_t dict = std::size_t{1} << Bits(method);
        std::string farRepeat = RandomBytes(dict - 3, 5);
        farRepeat += farRepeat.substr(0, 2000);  // matches at (nearly) the whole dictionary
        const std::pair<std::string, std::string> shapes[] = {
            {"one byte", "x"},
            {"window", TextLike(dict, 3)},
            {"window+1", TextLike(dict + 1, 4)},
            {"far repeat", farRepeat},
            {"long run", std::string(700000, 'a') + "b" + std::string(300, 'a')},
            {"random blocks", RandomBytes(150000, 6)},
            {"text", TextLike(600000, 8)},
        };
        for (const auto& [name, data] : shapes) {
            SCOPED_TRACE(std::string(lzh::MethodName(method)) + " " + name);
            const std::string coded = Encode(data, method);
            for (const std::size_t feed : {std::size_t{1} << 20, std::size_t{7}}) {
                if (feed == 7 && data.size() > 200000) continue;
                const Decoded d = Decode(coded, data.size(), Bits(method), feed);
                ASSERT_TRUE(d.ok) << static_cast<int>(d.status);
                EXPECT_TRUE(d.data == data) << "feed " << feed;
            }
        }
    }
}

// Every cut of the data fails as truncated, and so does a claimed size past what the data holds.
TEST(LzhDecoder, DataEndingEarlyIsTruncated) {
    const std::string data = TextLike(3000, 11);
    const std::string coded = Encode(data, LzhMethod::Lh5);
    for (std::size_t cut = 0; cut < coded.size(); ++cut) {
        const Decoded d = Decode(coded.substr(0, cut), data.size());
        ASSERT_FALSE(d.ok) << cut;
        EXPECT_EQ(d.status, DecodeStatus::Truncated) << cut;
    }
    EXPECT_EQ(Decode(coded, data.size() + 1).status, DecodeStatus::Truncated);

}

// Hand-made -lh5- streams, most fields as their single-symbol forms.
class Stream {
public:
    Stream& put(int n, uint32_t v) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(((v >> i) & 1) != 0);
        return *this;
    }
    // A block whose three tables are single symbols: count symbols of c, each match at distance 1.
    Stream& singleBlock(uint32_t count, uint32_t c, uint32_t p = 0) {
        return put(16, count).put(5, 0).put(5, 0).put(9, 0).put(9, c).put(4, 0).put(4, p);
    }
    std::string bytes() const {
        std::string out((bits_.size() + 7) / 8, '\0');
        for (std::size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
        return out;
    }

private:
    std::vector<bool> bits_;
};

TEST(LzhDecoder, HandMadeStreamsFailWithTheirFault) {
    // Sound streams first, so the faults below are the only difference: literals, then a match of
    // eight at distance one in a second block.
    Decoded d = Decode(Stream().singleBlock(5, 'A').bytes(), 5);
    EXPECT_EQ(d.data, "AAAAA");
    d = Decode(Stream().singleBlock(1, 'A').singleBlock(1, 256 + 5).bytes(), 9);
    EXPECT_EQ(d.data, "AAAAAAAAA");

    // Three lengths of one bit in the length code: not a prefix code.
    const std::string overfull = Stream().put(16, 1).put(5, 3).put(3, 1).put(3, 1).put(3, 1).put(2, 0).bytes() + "....";
    // One length of one bit: an incomplete code.
    const std::string underfull = Stream().put(16, 1).put(5, 1).put(3, 1).bytes() + "....";
    // A length of 17 (111, ten 1s, 0).
    const std::string tooLongCode = Stream().put(16, 1).put(5, 1).put(3, 7).put(10, 0x3FF).put(1, 0).bytes() + "....";
    // A length code {0: "0", 1: "1"}, then a run of 18 zero lengths in a table of 5.
    const std::string zeroRunPastEnd =
        Stream().put(16, 1).put(5, 2).put(3, 1).put(3, 1).put(9, 5).put(1, 1).put(4, 15).bytes() + "....";

    const struct {
        const char* name;
        std::string coded;
        uint64_t size;
        DecodeStatus status;
    } faults[] = {
        {"block of no symbols", Stream().singleBlock(0, 'A').bytes() + "....", 5, DecodeStatus::BadCode},
        {"length code over 19", Stream().put(16, 1).put(5, 20).bytes() + "....", 1, DecodeStatus::BadCode},
        {"length code symbol 19", Stream().put(16, 1).put(5, 0).put(5, 19).bytes() + "....", 1, DecodeStatus::BadCode},
        {"literal symbol 510", Stream().singleBlock(1, 510).bytes(), 1, DecodeStatus::BadCode},
        {"position code over 14", Stream().put(16, 1).put(5, 0).put(5, 0).put(9, 0).put(9, 'A').put(4, 15).bytes() + "....",
         1, DecodeStatus::BadCode},
        {"position symbol 14", Stream().singleBlock(1, 256, 14).bytes(), 3, DecodeStatus::BadCode},
        {"over-full code", overfull, 1, DecodeStatus::BadCode},
        {"incomplete code", underfull, 1, DecodeStatus::BadCode},
        {"code length 17", tooLongCode, 1, DecodeStatus::BadCode},
        {"zero run past the table", zeroRunPastEnd, 1, DecodeStatus::BadCode},
        {"match before the output", Stream().singleBlock(1, 256).bytes(), 3, DecodeStatus::BadDistance},
        {"match past the size", Stream().singleBlock(1, 'A').singleBlock(1, 256 + 5).bytes(), 8, DecodeStatus::TooLong},
        {"symbols run out", Stream().singleBlock(5, 'A').bytes(), 6, DecodeStatus::Truncated},
    };
    for (const auto& f : faults) {
        d = Decode(f.coded, f.size);
        EXPECT_FALSE(d.ok) << f.name;
        EXPECT_EQ(d.status, f.status) << f.name;
    }
}

// A read error of the source is reported as one, not as damaged data.
TEST(LzhDecoder, ReadErrorIsReported) {
    lzh::LzhDecoder decoder(13, 100, 100, [](uint8_t*, std::size_t) -> int64_t { return -1; });
    const uint8_t* p = nullptr;
    EXPECT_EQ(decoder.next(p), -1);
    EXPECT_EQ(decoder.status(), DecodeStatus::ReadFailed);
}

}  // namespace
}  // namespace norvex::test
