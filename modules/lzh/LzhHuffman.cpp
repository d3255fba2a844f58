// Length-limited Huffman code lengths.
//
// Lengths come from the in-place minimum-redundancy algorithm of Moffat and Katajainen on the
// frequencies sorted in ascending order. If a length passes 16 bits, the per-length counts are
// repaired the usual way (shorten the overlong codes, then lengthen the deepest shorter ones until
// the Kraft sum is 1 again), and the lengths are handed back out in frequency order, so the most
// frequent symbols keep the shortest codes. Tested by LzhEncoderTest (skewed distributions).
#include "modules/lzh/LzhHuffman.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace norvex::lzh {
namespace {

// a holds n >= 2 frequencies in ascending order; on return a[i] is the length of the i-th.
void MinimumRedundancy(std::vector<uint32_t>& a) {
    const int n = static_cast<int>(a.size());
    int root = 0, leaf = 2;
    a[0] += a[1];
    for (int next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = static_cast<uint32_t>(next);
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = static_cast<uint32_t>(next);
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    int avail = 1, used = 0, depth = 0;
    root = n - 2;
    int next = n - 1;
    while (avail > 0) {
        while (root >= 0 && static_cast<int>(a[root]) == depth) {
            ++used;
            --root;
        }
        while (avail > used) {
            a[next--] = static_cast<uint32_t>(depth);
            --avail;
        }
        avail = 2 * used;
        ++depth;
        used = 0;
    }
}

}  // namespace

int MakeCodeLengths(std::span<const uint32_t> freq, std::span<uint8_t> lengths) {
    std::fill(lengths.begin(), lengths.end(), uint8_t{0});
    std::vector<int> symbols;
    for (std::size_t i = 0; i < freq.size(); ++i)
        if (freq[i] != 0) symbols.push_back(static_cast<int>(i));
    const int used = static_cast<int>(symbols.size());
    if (used < 2) return used;

    // Ascending by frequency; ties by symbol so that the result does not depend on the sort.
    std::stable_sort(symbols.begin(), symbols.end(), [&](int x, int y) { return freq[x] < freq[y]; });
    std::vector<uint32_t> a(used);
    for (int i = 0; i < used; ++i) a[i] = freq[symbols[i]];
    MinimumRedundancy(a);

    int count[64] = {};
    for (uint32_t len : a) ++count[std::min<uint32_t>(len, kMaxCodeLength)];
    // Kraft sum in units of 2^-16; repair if clamping made it exceed one.
    uint32_t kraft = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) kraft += static_cast<uint32_t>(count[len]) << (kMaxCodeLength - len);
    while (kraft > (1u << kMaxCodeLength)) {
        // Move one leaf from the deepest level above 16 bits down: take a code of length k < 16,
        // split it into two of length k+1, one of which replaces a 16-bit code.
        --count[kMaxCodeLength];
        for (int len = kMaxCodeLength - 1; len > 0; --len) {
            if (count[len] != 0) {
                --count[len];
                count[len + 1] += 2;
                break;
            }
        }
        --kraft;
    }
    // Longest codes to the least frequent symbols (a[] is in ascending frequency order).
    int len = kMaxCodeLength;
    for (int i = 0; i < used; ++i) {
        while (count[len] == 0) --len;
        lengths[symbols[i]] = static_cast<uint8_t>(len);
        --count[len];
    }
    return used;
}

void MakeCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes) {
    uint32_t count[kMaxCodeLength + 1] = {};
    for (uint8_t len : lengths) ++count[len];
    count[0] = 0;
    uint32_t start[kMaxCodeLength + 2] = {};
    for (int len = 1; len <= kMaxCodeLength; ++len) start[len + 1] = (start[len] + count[len]) << 1;
    for (std::size_t i = 0; i < lengths.size(); ++i)
        codes[i] = lengths[i] ? static_cast<uint16_t>(start[lengths[i]]++) : 0;
}

}  // namespace norvex::lzh
