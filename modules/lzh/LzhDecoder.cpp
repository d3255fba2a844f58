// The LZH decoder.
//
// Bits: a 64-bit buffer holds the next bits with the first one at the top. While eight input bytes
// are at hand it is refilled with one unaligned big-endian load (the bytes past the counted bits are
// the true next bits, so loading them again later changes nothing); near the end of an input chunk
// it is refilled a byte at a time, and past the end of the entry's data with zero bytes that are
// counted as padding. A table may look at bits in the padding before it knows how long a code is,
// but a symbol that consumes padding means the data ended early. One refill covers a whole symbol:
// a literal/length code, a position code and its extra bits take at most 16 + 16 + 15 bits.
//
// Tables: the code lengths of a block make canonical codes (shorter first, then by symbol). A code
// must be complete (Kraft sum exactly one); a table whose lengths are all zero is accepted but every
// look-up in it fails, and the single-symbol form maps every look-up to its symbol with no bits.
// Look-up is one level for codes up to the root size, and a second level of 16 - root bits below
// each root entry that has longer codes.
//
// Output: one flat buffer, the dictionary's worth of history followed by the piece being decoded.
// A piece ends at the first symbol boundary past the chunk size (a match may run up to 255 bytes
// into the slack); the next call moves the last dictionary's worth to the front. Distances are
// checked against the history really there, which is all of the output when less than a dictionary
// has been produced. Tested by LzhDecoderTest.
#include "modules/lzh/LzhDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace norvex::lzh {

int DecoderDictionaryBits(std::string_view method) {
    if (method == "-lh5-") return 13;
    if (method == "-lh6-") return 15;
    if (method == "-lh7-") return 16;
    return 0;
}

namespace {

constexpr int kMaxBits = 16;
constexpr int kNC = 510;   // literal/length symbols
constexpr int kNT = 19;    // the code-length code
constexpr int kTBits = 5;
constexpr int kCBits = 9;
constexpr int kMaxNP = 17;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kSlack = kMaxMatch + 16;  // a match started before the chunk's end, plus the 8-byte copy
constexpr std::size_t kInputChunk = 64 * 1024;

constexpr uint32_t kLengthMask = 0x1F;
constexpr int kSymbolShift = 5;
constexpr uint32_t kInvalidSymbol = 0x1FF;  // above every symbol of every table
constexpr uint16_t kLinkFlag = 0x8000;

inline uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// A canonical Huffman table with a root of Root bits. An entry holds the code length (bits 0-4) and
// the symbol (bits 5-13), or the link flag (bit 15) and the start of its second-level table. Two
// bytes an entry keep the literal table's root within 8 KiB: half the stores for each block's
// table, and half the cache it takes while decoding.
template <int Root, int MaxSymbols>
class HuffmanTable {
public:
    static constexpr int kSubBits = kMaxBits - Root;
    // A complete code has at least two codes below every root entry that links, so at most half the
    // symbols make second-level tables.
    static constexpr int kSize = (1 << Root) + (MaxSymbols / 2) * (1 << kSubBits);
    static_assert(kSize <= kLinkFlag && MaxSymbols <= static_cast<int>(kInvalidSymbol));

    // The codes of lengths[0..n) (0: unused symbol); count[len] is how many symbols have length len,
    // counted by the caller as it reads them (a count over the table here would be a chain of
    // increments of count[0]). False for lengths that over- or under-fill the code space (an all-zero
    // table is accepted).
    bool build(const uint8_t* lengths, int n, const int* count) {
        int32_t left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = (left << 1) - count[len];
            if (left < 0) return false;
        }
        if (left == static_cast<int32_t>(1 << kMaxBits)) {  // no codes at all
            std::fill(entries_, entries_ + (1 << Root), static_cast<uint16_t>(kInvalidSymbol << kSymbolShift));
            return true;
        }
        if (left != 0) return false;

        uint32_t next[kMaxBits + 1];
        uint32_t code = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code = (code + static_cast<uint32_t>(len > 1 ? count[len - 1] : 0)) << 1;
            next[len] = code;
        }
        // Canonical codes put every code longer than the root after the shorter ones, so only the
        // root entries from the first long code on can link; 0 marks one not yet linked.
        const uint32_t firstLong = next[Root + 1] >> 1;
        std::fill(entries_ + firstLong, entries_ + (1 << Root), uint16_t{0});
        uint32_t used = 1u << Root;
        for (int sym = 0; sym < n; ++sym) {
            const int len = lengths[sym];
            if (len == 0) continue;
            const uint32_t c = next[len]++;
            const auto entry = static_cast<uint16_t>((sym << kSymbolShift) | len);
            if (len <= Root) {
                const uint32_t first = c << (Root - len);
                std::fill(entries_ + first, entries_ + first + (1u << (Root - len)), entry);
                continue;
            }
            const uint32_t prefix = c >> (len - Root);
            if (entries_[prefix] == 0) {
                if (used + (1u << kSubBits) > kSize) return false;  // cannot happen for a complete code
                entries_[prefix] = static_cast<uint16_t>(kLinkFlag | used);
                used += 1u << kSubBits;
            }
            const uint32_t sub = entries_[prefix] & (kLinkFlag - 1u);
            const int below = len - Root;
            const uint32_t first = (c & ((1u << below) - 1)) << (kSubBits - below);
            std::fill(entries_ + sub + first, entries_ + sub + first + (1u << (kSubBits - below)), entry);
        }
        return true;
    }

    // Every look-up gives sym and consumes no bits.
    void single(int sym) { std::fill(entries_, entries_ + (1 << Root), static_cast<uint16_t>(sym << kSymbolShift)); }

    // The entry for the code at the top of bits (which must hold at least kMaxBits valid bits).
    uint32_t lookup(uint64_t bits) const {
        uint32_t e = entries_[bits >> (64 - Root)];
        if (e & kLinkFlag) e = entries_[(e & (kLinkFlag - 1u)) + static_cast<uint32_t>((bits << Root) >> (64 - kSubBits))];
        return e;
    }

private:
    uint16_t entries_[kSize];  // filled by build or single before any look-up
};

using LiteralTable = HuffmanTable<12, kNC>;
using SmallTable = HuffmanTable<8, kNT>;

}  // namespace

class LzhDecoder::Impl {
public:
    Impl(int dictBits, uint64_t compressedSize, uint64_t originalSize, Source source)
        : source_(std::move(source)),
          dictSize_(std::size_t{1} << dictBits),
          np_(dictBits + 1),
          pBits_(dictBits <= 13 ? 4 : 5),
          originalSize_(originalSize),
          inputCapacity_(static_cast<std::size_t>(std::clamp<uint64_t>(compressedSize, 8, kInputChunk))) {}

    int64_t next(const uint8_t*& data) {
        data = nullptr;
        if (status_ != DecodeStatus::Ok) return -1;
        const uint64_t remaining = originalSize_ - produced_;
        if (remaining == 0) return 0;
        if (window_.empty()) {
            window_.resize(static_cast<std::size_t>(std::min<uint64_t>(dictSize_, originalSize_) +
                                                    std::min<uint64_t>(kChunk, originalSize_)) + kSlack);
            input_.resize(inputCapacity_);
        } else {
            const std::size_t keep = std::min(dictSize_, pos_);
            std::memmove(window_.data(), window_.data() + pos_ - keep, keep);
            pos_ = keep;
        }
        const std::size_t start = pos_;
        if (!decode(pos_ + static_cast<std::size_t>(std::min<uint64_t>(kChunk, remaining)),
                    pos_ + static_cast<std::size_t>(std::min<uint64_t>(remaining, kChunk + kMaxMatch))))
            return -1;
        produced_ += pos_ - start;
        data = window_.data() + start;
        return static_cast<int64_t>(pos_ - start);
    }

    DecodeStatus status() const { return status_; }
    uint64_t produced() const { return produced_; }

private:
    // A failure after the data ran out (or could not be read) is reported as that, whatever the
    // padding then decoded to.
    bool fail(DecodeStatus s) {
        status_ = readFailed_ ? DecodeStatus::ReadFailed : count_ < pad_ ? DecodeStatus::Truncated : s;
        return false;
    }

    // Next input chunk into input_; false at the end of the data or on a read error.
    bool loadInput() {
        if (inputEnded_) return false;
        const int64_t got = source_(input_.data(), input_.size());
        if (got <= 0 || static_cast<uint64_t>(got) > input_.size()) {
            inputEnded_ = true;
            if (got != 0) readFailed_ = true;
            return false;
        }
        in_ = input_.data();
        inEnd_ = in_ + got;
        return true;
    }

    // Leaves 49 to 56 bits (a fast refill leaves 56 to 63).
    void refillSlow() {
        while (count_ <= 48) {
            if (in_ == inEnd_ && !loadInput()) {
                pad_ += 8;
                count_ += 8;
                continue;
            }
            bits_ |= static_cast<uint64_t>(*in_++) << (56 - count_);
            count_ += 8;
        }
    }

    void refill() {
        if (inEnd_ - in_ >= 8) {
            bits_ |= LoadBigEndian64(in_) >> count_;
            in_ += (63 - count_) >> 3;
            count_ |= 56;
        } else {
            refillSlow();
        }
    }

    uint32_t getBits(int n) {  // 1..16
        if (count_ < n) refill();
        const auto v = static_cast<uint32_t>(bits_ >> (64 - n));
        bits_ <<= n;
        count_ -= n;
        return v;
    }

    template <typename Table>
    uint32_t decodeSymbol(const Table& table) {
        if (count_ < kMaxBits) refill();
        const uint32_t e = table.lookup(bits_);
        const int len = static_cast<int>(e & kLengthMask);
        bits_ <<= len;
        count_ -= len;
        return e >> kSymbolShift;
    }

    // The code lengths of the length code (special = 3) or the position code (special = -1).
    bool readSmallLengths(int nn, int nBits, int special, SmallTable& table) {
        const int n = static_cast<int>(getBits(nBits));
        if (n == 0) {
            const int sym = static_cast<int>(getBits(nBits));
            if (sym >= nn) return fail(DecodeStatus::BadCode);
            table.single(sym);
            return true;
        }
        if (n > nn) return fail(DecodeStatus::BadCode);
        uint8_t lengths[kNT] = {};
        int count[kMaxBits + 1] = {};
        int i = 0;
        while (i < n) {
            if (count_ < kMaxBits) refill();
            int len = static_cast<int>(bits_ >> 61);
            bits_ <<= 3;
            count_ -= 3;
            // 111, then one 1 per length above seven, then a 0.
            if (len == 7)
                while (getBits(1) == 1)
                    if (++len > kMaxBits) return fail(DecodeStatus::BadCode);
            lengths[i++] = static_cast<uint8_t>(len);
            ++count[len];
            if (i == special) {
                int zeros = static_cast<int>(getBits(2));
                while (zeros-- > 0 && i < nn) lengths[i++] = 0;
            }
        }
        if (!table.build(lengths, i, count)) return fail(DecodeStatus::BadCode);
        return true;
    }

    bool readLiteralLengths() {
        const int n = static_cast<int>(getBits(kCBits));
        if (n == 0) {
            const int sym = static_cast<int>(getBits(kCBits));
            if (sym >= kNC) return fail(DecodeStatus::BadCode);
            literals_.single(sym);
            return true;
        }
        if (n > kNC) return fail(DecodeStatus::BadCode);
        uint8_t lengths[kNC] = {};
        int count[kMaxBits + 1] = {};
        int i = 0;
        while (i < n) {
            const uint32_t c = decodeSymbol(lengthCode_);
            if (c >= kNT) return fail(DecodeStatus::BadCode);
            if (c > 2) {
                lengths[i++] = static_cast<uint8_t>(c - 2);
                ++count[c - 2];
                continue;
            }
            const int zeros = c == 0 ? 1 : c == 1 ? static_cast<int>(getBits(4)) + 3 : static_cast<int>(getBits(kCBits)) + 20;
            if (zeros > n - i) return fail(DecodeStatus::BadCode);
            i += zeros;
        }
        if (!literals_.build(lengths, n, count)) return fail(DecodeStatus::BadCode);
        return true;
    }

    bool readBlockHeader() {
        blockLeft_ = getBits(16);
        if (blockLeft_ == 0) return fail(DecodeStatus::BadCode);
        if (!readSmallLengths(kNT, kTBits, 3, lengthCode_) || !readLiteralLengths() ||
            !readSmallLengths(np_, pBits_, -1, positions_))
            return false;
        if (readFailed_) return fail(DecodeStatus::ReadFailed);
        if (count_ < pad_) return fail(DecodeStatus::Truncated);
        return true;
    }

    // Decodes symbols from pos_ while pos_ < softEnd; no output may pass hardEnd (the entry's end,
    // or the end of the slack).
    bool decode(std::size_t softEnd, std::size_t hardEnd) {
        uint8_t* const win = window_.data();
        std::size_t pos = pos_;
        // The bit state lives in locals in this loop: stores of output bytes may alias anything, so
        // members would be reloaded after every one.
        uint64_t bits = bits_;
        int count = count_;
        const uint8_t* in = in_;
        const uint8_t* inEnd = inEnd_;
        int pad = pad_;
        uint32_t blockLeft = blockLeft_;
        // Only the slow paths change inEnd and pad (through the members), so they are not saved.
        auto save = [&] {
            bits_ = bits;
            count_ = count;
            in_ = in;
            blockLeft_ = blockLeft;
            pos_ = pos;
        };
        auto load = [&] {
            bits = bits_;
            count = count_;
            in = in_;
            inEnd = inEnd_;
            pad = pad_;
            blockLeft = blockLeft_;
        };

        while (pos < softEnd) {
            if (blockLeft == 0) {
                save();
                if (!readBlockHeader()) return false;
                load();
            }
            --blockLeft;
            if (inEnd - in >= 8) {
                bits |= LoadBigEndian64(in) >> count;
                in += (63 - count) >> 3;
                count |= 56;
            } else {
                save();
                refillSlow();
                if (readFailed_) return fail(DecodeStatus::ReadFailed);
                load();
            }
            uint32_t e = literals_.lookup(bits);
            int len = static_cast<int>(e & kLengthMask);
            bits <<= len;
            count -= len;
            const uint32_t c = e >> kSymbolShift;
            if (c < 256) {
                if (count < pad) return saveAndFail(save, DecodeStatus::Truncated);
                win[pos++] = static_cast<uint8_t>(c);
                continue;
            }
            if (c >= kNC) return saveAndFail(save, DecodeStatus::BadCode);
            e = positions_.lookup(bits);
            len = static_cast<int>(e & kLengthMask);
            bits <<= len;
            count -= len;
            const uint32_t p = e >> kSymbolShift;
            // Built tables hold only symbols below np_; this catches the mark of an empty table.
            if (p >= kMaxNP) return saveAndFail(save, DecodeStatus::BadCode);
            std::size_t dist = p + 1;
            if (p > 1) {
                const int extra = static_cast<int>(p) - 1;
                dist = (std::size_t{1} << extra) + static_cast<std::size_t>(bits >> (64 - extra)) + 1;
                bits <<= extra;
                count -= extra;
            }
            if (count < pad) return saveAndFail(save, DecodeStatus::Truncated);
            const std::size_t length = c - 256 + kMinMatch;
            if (dist > pos) return saveAndFail(save, DecodeStatus::BadDistance);
            if (length > hardEnd - pos) return saveAndFail(save, DecodeStatus::TooLong);
            CopyMatch(win + pos, dist, length);
            pos += length;
        }
        save();
        return true;
    }

    template <typename Save>
    bool saveAndFail(Save& save, DecodeStatus s) {
        save();
        return fail(s);
    }

    // Copies a match of length 3..256 from dist bytes back; may write up to 7 bytes past its end.
    static void CopyMatch(uint8_t* d, std::size_t dist, std::size_t length) {
        const uint8_t* s = d - dist;
        if (dist >= 8) {
            for (std::size_t i = 0; i < length; i += 8) std::memcpy(d + i, s + i, 8);
        } else if (dist == 1) {
            std::memset(d, *s, length);
        } else {
            for (std::size_t i = 0; i < length; ++i) d[i] = s[i];
        }
    }

    Source source_;
    const std::size_t dictSize_;
    const int np_;
    const int pBits_;
    const uint64_t originalSize_;
    const std::size_t inputCapacity_;

    std::vector<uint8_t> input_;
    const uint8_t* in_ = nullptr;
    const uint8_t* inEnd_ = nullptr;
    bool inputEnded_ = false;
    bool readFailed_ = false;
    uint64_t bits_ = 0;
    int count_ = 0;
    int pad_ = 0;  // zero bits past the end of the data among the count_ bits

    uint32_t blockLeft_ = 0;
    SmallTable lengthCode_;
    LiteralTable literals_;
    SmallTable positions_;

    std::vector<uint8_t> window_;
    std::size_t pos_ = 0;
    uint64_t produced_ = 0;
    DecodeStatus status_ = DecodeStatus::Ok;
};

LzhDecoder::LzhDecoder(int dictionaryBits, uint64_t compressedSize, uint64_t originalSize, Source source)
    : impl_(new Impl(dictionaryBits, compressedSize, originalSize, std::move(source))) {}
LzhDecoder::~LzhDecoder() = default;
int64_t LzhDecoder::next(const uint8_t*& data) { return impl_->next(data); }
DecodeStatus LzhDecoder::status() const { return impl_->status(); }
uint64_t LzhDecoder::produced() const { return impl_->produced(); }

}  // namespace norvex::lzh
