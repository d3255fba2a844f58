// The LZH compressor.
//
// Matching follows the classic lazy scheme: at each position the longest match within the
// dictionary is looked up through hash chains of three-byte prefixes; a match is taken only when
// the match at the next position is not longer, otherwise the current byte goes out as a literal.
// The input lives in a buffer of twice the dictionary plus the look-ahead; when it fills, the
// oldest dictionary-size part is dropped. The chains hold absolute positions (modulo 2^32), so the
// tables never need rewriting; every candidate is checked against the buffer, so a stale entry can
// cost time but never produce a wrong match.
//
// Coding: symbols collect into blocks. A block starts with its symbol count (16 bits), then the
// code lengths of the literal/length alphabet (510 symbols) coded with a small 19-symbol code, then
// the code lengths of the position alphabet, then the symbols. A match of length 3..256 is the
// symbol 253 + length; its distance d (1..dictionary size) is sent as the bit length p of d - 1
// (Huffman-coded) and the p - 1 bits below the leading one. Tested by LzhEncoderTest.
#include "modules/lzh/LzhEncoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "modules/lzh/LzhHuffman.h"

namespace norvex::lzh {

const char* MethodName(LzhMethod method) {
    switch (method) {
    case LzhMethod::Lh4: return "-lh4-";
    case LzhMethod::Lh5: return "-lh5-";
    case LzhMethod::Lh6: return "-lh6-";
    case LzhMethod::Lh7: return "-lh7-";
    }
    return "-lh5-";
}

int DictionaryBits(LzhMethod method) {
    switch (method) {
    case LzhMethod::Lh4: return 12;
    case LzhMethod::Lh5: return 13;
    case LzhMethod::Lh6: return 15;
    case LzhMethod::Lh7: return 16;
    }
    return 13;
}

namespace {

constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // 510 literal/length symbols
constexpr int kNT = 19;                                // the code-length code
constexpr int kTBits = 5;
constexpr int kCBits = 9;
constexpr int kMaxNP = 17;
constexpr std::size_t kBlockSymbols = 0x8000;  // symbols per block (the header field holds 16 bits)
constexpr std::size_t kOutChunk = 1 << 16;

struct Effort {
    int maxChain;  // candidates examined per position
    int goodLen;   // examine a quarter as many once the previous match is this long
    int niceLen;   // stop searching at a match this long
    int maxLazy;   // do not look for a better match after one this long
};

constexpr std::array<Effort, 10> kEfforts = {{
    {4, 4, 8, 4},   // 0 (treated as 1)
    {4, 4, 8, 4},
    {8, 4, 16, 8},
    {16, 8, 32, 16},
    {32, 8, 64, 32},
    {64, 16, 128, 64},
    {128, 16, 128, 128},
    {256, 32, 256, 256},
    {1024, 64, 256, 256},
    {4096, 256, 256, 256},
}};

class BitWriter {
public:
    void Put(int n, uint32_t v) {
        if (n == 0) return;
        acc_ = (acc_ << n) | (v & (n == 32 ? 0xFFFFFFFFu : ((1u << n) - 1)));
        bits_ += n;
        if (bits_ >= 32) {
            bits_ -= 32;
            const auto w = static_cast<uint32_t>(acc_ >> bits_);
            const uint8_t bytes[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                                      static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
            out_.insert(out_.end(), bytes, bytes + 4);
        }
    }
    // Zero bits that the next Align will add to fill the last byte.
    int alignBits() const { return (8 - bits_ % 8) % 8; }
    // A point to go back to, as long as nothing has been taken out of bytes() since.
    struct Mark {
        uint64_t acc;
        int bits;
        std::size_t size;
    };
    Mark mark() const { return {acc_, bits_, out_.size()}; }
    void rewind(const Mark& m) {
        acc_ = m.acc;
        bits_ = m.bits;
        out_.resize(m.size);
    }
    // Pads the last partial byte with zero bits.
    void Align() {
        while (bits_ >= 8) {
            bits_ -= 8;
            out_.push_back(static_cast<uint8_t>(acc_ >> bits_));
        }
        if (bits_ > 0) {
            out_.push_back(static_cast<uint8_t>(acc_ << (8 - bits_)));
            bits_ = 0;
        }
    }
    std::vector<uint8_t>& bytes() { return out_; }
    std::size_t pending() const { return out_.size(); }

private:
    uint64_t acc_ = 0;
    int bits_ = 0;
    std::vector<uint8_t> out_;
};

inline int BitLength(uint32_t v) { return v == 0 ? 0 : 32 - __builtin_clz(v); }

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Length of the common prefix of a and b, at most limit.
inline int MatchLength(const uint8_t* a, const uint8_t* b, int limit) {
    int len = 0;
    while (len + 8 <= limit) {
        const uint64_t diff = Load64(a + len) ^ Load64(b + len);
        if (diff != 0) return len + (__builtin_ctzll(diff) >> 3);
        len += 8;
    }
    while (len < limit && a[len] == b[len]) ++len;
    return len;
}

}  // namespace

class LzhEncoder::Impl {
public:
    Impl(LzhMethod method, Sink sink, int level)
        : sink_(std::move(sink)),
          dictBits_(DictionaryBits(method)),
          dictSize_(1u << dictBits_),
          np_(std::max(dictBits_ + 1, 14)),  // -lh4- shares the position code of -lh5-
          pBits_(dictBits_ <= 13 ? 4 : 5),
          hashBits_(dictBits_ + 2),
          // The larger dictionaries have longer chains: one step less effort keeps their speed.
          effort_(kEfforts[std::clamp(dictBits_ >= 15 ? level - 1 : level, 1, 9)]) {
        buf_.resize(2 * dictSize_ + 2 * kMaxMatch);
        head_.assign(std::size_t{1} << hashBits_, 0);
        prev_.assign(dictSize_, 0);
        syms_.reserve(kBlockSymbols);
        offsets_.reserve(kBlockSymbols);
    }

    bool Write(const uint8_t* data, std::size_t size) {
        if (failed_) return false;
        bytesIn_ += size;
        while (size > 0) {
            if (fill_ == buf_.size()) Slide();
            const std::size_t n = std::min(size, buf_.size() - fill_);
            std::memcpy(buf_.data() + fill_, data, n);
            fill_ += n;
            data += n;
            size -= n;
            if (!Process(false)) return false;
        }
        return true;
    }

    bool Finish() {
        if (failed_) return false;
        if (!Process(true)) return false;
        if (matchAvailable_) {
            if (syms_.size() >= kBlockSymbols) SendBlock();
            PutLiteral(buf_[pos_ - 1]);
            matchAvailable_ = false;
        }
        if (!syms_.empty()) SendLastBlock();
        bits_.Align();
        return Flush(true);
    }

    uint64_t bytesIn() const { return bytesIn_; }
    uint64_t bytesOut() const { return bytesOut_ + bits_.pending(); }

private:
    // Drops the part of the buffer that has fallen out of the dictionary.
    void Slide() {
        if (pos_ <= dictSize_) return;
        const std::size_t shift = pos_ - dictSize_;
        std::memmove(buf_.data(), buf_.data() + shift, fill_ - shift);
        fill_ -= shift;
        pos_ -= shift;
        bufStart_ += shift;
    }

    uint32_t Hash(std::size_t at) const {
        const uint32_t v = (uint32_t{buf_[at]} << 16) | (uint32_t{buf_[at + 1]} << 8) | buf_[at + 2];
        return (v * 0x9E3779B1u) >> (32 - hashBits_);
    }

    // Enters position at into the chains; returns the previous head of its chain.
    uint32_t Insert(std::size_t at) {
        const auto abs = static_cast<uint32_t>(bufStart_ + at);
        const uint32_t h = Hash(at);
        const uint32_t cand = head_[h];
        prev_[abs & (dictSize_ - 1)] = cand;
        head_[h] = abs;
        return cand;
    }

    // Longest match at pos_ longer than beat, following the chain from cand; 0 if none.
    int LongestMatch(uint32_t cand, int beat, uint32_t& bestDist) const {
        const int maxLen = static_cast<int>(std::min<std::size_t>(kMaxMatch, fill_ - pos_));
        if (maxLen <= beat) return 0;
        const uint8_t* s = buf_.data() + pos_;
        const auto cur = static_cast<uint32_t>(bufStart_ + pos_);
        int chain = effort_.maxChain;
        if (beat >= effort_.goodLen) chain >>= 2;
        int best = beat;
        uint32_t lastDist = 0;
        while (chain-- > 0) {
            const uint32_t dist = cur - cand;
            if (dist <= lastDist || dist >= dictSize_ || dist > pos_) break;
            lastDist = dist;
            const uint8_t* m = s - dist;
            if (m[best] == s[best] && m[0] == s[0] && m[1] == s[1]) {
                const int len = MatchLength(m, s, maxLen);
                if (len > best) {
                    best = len;
                    bestDist = dist;
                    if (len >= effort_.niceLen || len >= maxLen) break;
                }
            }
            cand = prev_[cand & (dictSize_ - 1)];
        }
        return best > beat ? best : 0;
    }

    // Codes positions while the look-ahead is full (or, when finishing, to the end).
    bool Process(bool finishing) {
        while (fill_ - pos_ > static_cast<std::size_t>(kMaxMatch) || (finishing && pos_ < fill_)) {
            // A full block goes out only once more input is known to follow it, so that the last
            // block of the stream is always sent by Finish.
            if (syms_.size() >= kBlockSymbols) {
                SendBlock();
                if (!Flush(false)) return false;
            }
            const int prevLen = curLen_;
            const uint32_t prevDist = curDist_;
            curLen_ = kMinMatch - 1;
            if (fill_ - pos_ >= static_cast<std::size_t>(kMinMatch)) {
                const uint32_t cand = Insert(pos_);
                if (prevLen < effort_.maxLazy) {
                    uint32_t dist = 0;
                    const int len = LongestMatch(cand, std::max(prevLen, kMinMatch - 1), dist);
                    // A three-byte match far away costs more than three literals.
                    if (len > 0 && !(len == kMinMatch && dist > 4096)) {
                        curLen_ = len;
                        curDist_ = dist;
                    }
                }
            }
            if (prevLen >= kMinMatch && curLen_ <= prevLen) {
                PutMatch(prevLen, prevDist);
                const std::size_t end = pos_ - 1 + prevLen;
                for (std::size_t at = pos_ + 1; at < end; ++at)
                    if (fill_ - at >= static_cast<std::size_t>(kMinMatch)) Insert(at);
                pos_ = end;
                matchAvailable_ = false;
                curLen_ = kMinMatch - 1;
            } else {
                if (matchAvailable_) PutLiteral(buf_[pos_ - 1]);
                matchAvailable_ = true;
                ++pos_;
            }
        }
        return true;
    }

    // The last block. A table-driven decoder may look at as many bits as the longest code of its
    // table before it knows how long the code is, and some readers fail when those bits lie past
    // the end of the entry's data; others fail on data left after the last block, so the stream
    // cannot simply be padded. When the look-ahead after the last code would pass the final byte,
    // the block is sent again without its last symbol, and that symbol goes out in a block of its
    // own, whose one-bit codes need no look-ahead (about nine bytes more).
    void SendLastBlock() {
        const BitWriter::Mark mark = bits_.mark();
        const std::vector<uint16_t> syms = syms_;
        const std::vector<uint16_t> offsets = offsets_;
        uint32_t cFreq[kNC], pFreq[kMaxNP];
        std::copy(std::begin(cFreq_), std::end(cFreq_), cFreq);
        std::copy(std::begin(pFreq_), std::end(pFreq_), pFreq);
        SendBlock();
        if (tailLookahead_ <= bits_.alignBits() || syms.size() < 2) return;

        bits_.rewind(mark);
        syms_.assign(syms.begin(), syms.end() - 1);
        offsets_ = offsets;
        std::copy(std::begin(cFreq), std::end(cFreq), cFreq_);
        std::copy(std::begin(pFreq), std::end(pFreq), pFreq_);
        const uint16_t last = syms.back();
        --cFreq_[last];
        uint32_t lastOffset = 0;
        if (last >= 256) {
            lastOffset = offsets_.back();
            offsets_.pop_back();
            --pFreq_[BitLength(lastOffset)];
        }
        SendBlock();
        syms_.push_back(last);
        ++cFreq_[last];
        if (last >= 256) {
            offsets_.push_back(static_cast<uint16_t>(lastOffset));
            ++pFreq_[BitLength(lastOffset)];
        }
        SendBlock();
    }

    void PutLiteral(uint8_t c) {
        syms_.push_back(c);
        ++cFreq_[c];
    }

    void PutMatch(int len, uint32_t dist) {
        const auto sym = static_cast<uint16_t>(256 + len - kMinMatch);
        syms_.push_back(sym);
        ++cFreq_[sym];
        const uint32_t offset = dist - 1;
        offsets_.push_back(static_cast<uint16_t>(offset));
        ++pFreq_[BitLength(offset)];
    }

    // Code lengths of a small table (the length code or the position code): a count, then each
    // length in three bits, lengths of 7 and up as 111 followed by one 1 per extra unit and a 0.
    // After the third length of the length code, two bits skip up to three zero lengths.
    void WriteSmallLengths(const uint8_t* len, int n, int nBits, int special) {
        while (n > 0 && len[n - 1] == 0) --n;
        bits_.Put(nBits, static_cast<uint32_t>(n));
        int i = 0;
        while (i < n) {
            const int k = len[i++];
            if (k <= 6)
                bits_.Put(3, static_cast<uint32_t>(k));
            else
                bits_.Put(k - 3, (1u << (k - 3)) - 2);
            if (i == special) {
                while (i < 6 && i < n && len[i] == 0) ++i;
                bits_.Put(2, static_cast<uint32_t>(i - special));
            }
        }
    }

    void CountLengthCodeFreq(const uint8_t* cLen, int n, uint32_t* tFreq) const {
        int i = 0;
        while (i < n) {
            const int k = cLen[i++];
            if (k != 0) {
                ++tFreq[k + 2];
                continue;
            }
            int count = 1;
            while (i < n && cLen[i] == 0) {
                ++i;
                ++count;
            }
            if (count <= 2)
                tFreq[0] += static_cast<uint32_t>(count);
            else if (count <= 18)
                ++tFreq[1];
            else if (count == 19) {
                ++tFreq[0];
                ++tFreq[1];
            } else
                ++tFreq[2];
        }
    }

    void WriteLiteralLengths(const uint8_t* cLen, int n, const uint8_t* tLen, const uint16_t* tCode) {
        bits_.Put(kCBits, static_cast<uint32_t>(n));
        int i = 0;
        while (i < n) {
            const int k = cLen[i++];
            if (k != 0) {
                bits_.Put(tLen[k + 2], tCode[k + 2]);
                continue;
            }
            int count = 1;
            while (i < n && cLen[i] == 0) {
                ++i;
                ++count;
            }
            if (count <= 2) {
                for (int j = 0; j < count; ++j) bits_.Put(tLen[0], tCode[0]);
            } else if (count <= 18) {
                bits_.Put(tLen[1], tCode[1]);
                bits_.Put(4, static_cast<uint32_t>(count - 3));
            } else if (count == 19) {
                bits_.Put(tLen[0], tCode[0]);
                bits_.Put(tLen[1], tCode[1]);
                bits_.Put(4, 15);
            } else {
                bits_.Put(tLen[2], tCode[2]);
                bits_.Put(kCBits, static_cast<uint32_t>(count - 20));
            }
        }
    }

    static int SingleSymbol(const uint32_t* freq, int n) {
        for (int i = 0; i < n; ++i)
            if (freq[i] != 0) return i;
        return 0;
    }

    void SendBlock() {
        uint8_t cLen[kNC];
        uint16_t cCode[kNC];
        // A block of one repeated literal could be sent as a single-symbol table, but libarchive
        // rejects that form; a second, unused symbol makes an ordinary one-bit code instead.
        if (std::count_if(std::begin(cFreq_), std::end(cFreq_), [](uint32_t f) { return f != 0; }) == 1)
            ++cFreq_[cFreq_[0] == 0 ? 0 : 1];
        const int cUsed = MakeCodeLengths({cFreq_, kNC}, {cLen, kNC});
        MakeCanonicalCodes({cLen, kNC}, {cCode, kNC});
        bits_.Put(16, static_cast<uint32_t>(syms_.size()));

        if (cUsed >= 2) {
            int n = kNC;
            while (n > 0 && cLen[n - 1] == 0) --n;
            uint32_t tFreq[kNT] = {};
            CountLengthCodeFreq(cLen, n, tFreq);
            uint8_t tLen[kNT];
            uint16_t tCode[kNT];
            if (MakeCodeLengths({tFreq, kNT}, {tLen, kNT}) >= 2) {
                MakeCanonicalCodes({tLen, kNT}, {tCode, kNT});
                WriteSmallLengths(tLen, kNT, kTBits, 3);
            } else {
                std::fill(tLen, tLen + kNT, uint8_t{0});
                std::fill(tCode, tCode + kNT, uint16_t{0});
                bits_.Put(kTBits, 0);
                bits_.Put(kTBits, static_cast<uint32_t>(SingleSymbol(tFreq, kNT)));
            }
            WriteLiteralLengths(cLen, n, tLen, tCode);
        } else {
            bits_.Put(kTBits, 0);
            bits_.Put(kTBits, 0);
            bits_.Put(kCBits, 0);
            bits_.Put(kCBits, static_cast<uint32_t>(SingleSymbol(cFreq_, kNC)));
        }

        uint8_t pLen[kMaxNP];
        uint16_t pCode[kMaxNP];
        if (MakeCodeLengths({pFreq_, static_cast<std::size_t>(np_)}, {pLen, static_cast<std::size_t>(np_)}) >= 2) {
            MakeCanonicalCodes({pLen, static_cast<std::size_t>(np_)}, {pCode, static_cast<std::size_t>(np_)});
            WriteSmallLengths(pLen, np_, pBits_, -1);
        } else {
            std::fill(pLen, pLen + kMaxNP, uint8_t{0});
            std::fill(pCode, pCode + kMaxNP, uint16_t{0});
            bits_.Put(pBits_, 0);
            bits_.Put(pBits_, static_cast<uint32_t>(SingleSymbol(pFreq_, np_)));
        }

        tailLookahead_ = TailLookahead(cLen, pLen);
        std::size_t o = 0;
        for (const uint16_t sym : syms_) {
            bits_.Put(cLen[sym], cCode[sym]);
            if (sym >= 256) {
                const uint32_t offset = offsets_[o++];
                const int p = BitLength(offset);
                bits_.Put(pLen[p], pCode[p]);
                if (p > 1) bits_.Put(p - 1, offset);
            }
        }
        syms_.clear();
        offsets_.clear();
        std::fill(std::begin(cFreq_), std::end(cFreq_), 0u);
        std::fill(std::begin(pFreq_), std::end(pFreq_), 0u);
    }

    // Bits a table-driven decoder may look at past the end of this block's last symbol: for each
    // code of the symbol, the longest code of its table less that code and what follows it.
    int TailLookahead(const uint8_t* cLen, const uint8_t* pLen) const {
        const uint16_t last = syms_.back();
        const int maxC = *std::max_element(cLen, cLen + kNC);
        if (last < 256) return maxC - cLen[last];
        const int p = BitLength(offsets_.back());
        const int extra = p > 1 ? p - 1 : 0;
        int need = maxC - (cLen[last] + pLen[p] + extra);
        // A one-symbol position table has no code to read.
        if (pLen[p] != 0) need = std::max(need, *std::max_element(pLen, pLen + np_) - (pLen[p] + extra));
        return std::max(need, 0);
    }

    bool Flush(bool all) {
        auto& out = bits_.bytes();
        if (out.empty() || (!all && out.size() < kOutChunk)) return true;
        if (!sink_(out.data(), out.size())) {
            failed_ = true;
            return false;
        }
        bytesOut_ += out.size();
        out.clear();
        return true;
    }

    Sink sink_;
    const int dictBits_;
    const uint32_t dictSize_;
    const int np_;
    const int pBits_;
    const int hashBits_;
    const Effort effort_;

    std::vector<uint8_t> buf_;
    std::size_t fill_ = 0;
    std::size_t pos_ = 0;
    uint64_t bufStart_ = 0;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> prev_;

    int curLen_ = kMinMatch - 1;
    uint32_t curDist_ = 0;
    bool matchAvailable_ = false;

    std::vector<uint16_t> syms_;
    std::vector<uint16_t> offsets_;
    uint32_t cFreq_[kNC] = {};
    uint32_t pFreq_[kMaxNP] = {};
    BitWriter bits_;
    int tailLookahead_ = 0;  // of the last block sent

    uint64_t bytesIn_ = 0;
    uint64_t bytesOut_ = 0;
    bool failed_ = false;
};

LzhEncoder::LzhEncoder(LzhMethod method, Sink sink, int level)
    : impl_(std::make_unique<Impl>(method, std::move(sink), level)) {}
LzhEncoder::~LzhEncoder() = default;
bool LzhEncoder::Write(const void* data, std::size_t size) {
    return impl_->Write(static_cast<const uint8_t*>(data), size);
}
bool LzhEncoder::Finish() { return impl_->Finish(); }
uint64_t LzhEncoder::bytesIn() const { return impl_->bytesIn(); }
uint64_t LzhEncoder::bytesOut() const { return impl_->bytesOut(); }

}  // namespace norvex::lzh
