// The bit set of NFA states.
#include "regexp/RENFAStateSet.h"

namespace norvex {

bool TRE_NFAStateSet::IsEmpty() const {
    for (std::uint64_t w : FBits)
        if (w != 0) return false;
    return true;
}

std::size_t TRE_NFAStateSet::Hash() const {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint64_t w : FBits) {
        h ^= w;
        h *= 0x100000001b3ull;
        h ^= h >> 29;
    }
    return static_cast<std::size_t>(h);
}

}  // namespace norvex
