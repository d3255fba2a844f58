// TRE_NFAStateSet: a set of NFA states, one bit each; a DFA state is one such set.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvex {

class TRE_NFAStateSet {
public:
    explicit TRE_NFAStateSet(std::size_t stateCount) : FBits(stateCount / 64 + 1, 0) {}

    bool Has(int state) const { return (FBits[Word(state)] >> Bit(state)) & 1u; }
    void Include(int state) { FBits[Word(state)] |= std::uint64_t(1) << Bit(state); }
    bool IsEmpty() const;
    bool operator==(const TRE_NFAStateSet& other) const { return FBits == other.FBits; }
    std::size_t Hash() const;
    std::size_t ByteSize() const { return FBits.size() * sizeof(std::uint64_t); }

    // Calls f(state) for every member, in ascending order.
    template <class F>
    void ForEach(F&& f) const {
        for (std::size_t w = 0; w < FBits.size(); ++w)
            for (std::uint64_t bits = FBits[w]; bits != 0; bits &= bits - 1)
                f(static_cast<int>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))));
    }

private:
    static std::size_t Word(int state) { return static_cast<std::size_t>(state) / 64; }
    static unsigned Bit(int state) { return static_cast<unsigned>(state) % 64; }

    std::vector<std::uint64_t> FBits;
};

}  // namespace norvex
