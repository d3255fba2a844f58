// The reference matcher. For a node, a start position and the node's place in the pattern it
// computes every position where the node can end, as a bit mask over character positions. The
// place decides the anchors: `^` is a line head only where nothing can precede it in the pattern
// (through unions and left sides of concatenations), `$` a line tail only where nothing can follow
// it; elsewhere, and inside any repetition, they are the characters themselves.
#include "tests/regexp/Backtrack.h"

#include <cstdint>
#include <vector>

namespace norvex::test {
namespace {

struct Subject {
    std::vector<REChar> codes;    // one per character
    std::vector<int> offsets;     // byte offset of each character, plus the end
    unsigned char separator;
    std::vector<unsigned char> bytes;
};

using Ends = std::uint32_t;

Ends Run(const Subject& s, const TRENode* n, int i, bool atEntry, bool atExit);

Ends Literal(const Subject& s, REChar lo, REChar hi, int i) {
    const int count = static_cast<int>(s.codes.size());
    if (i < count && s.codes[i] >= lo && s.codes[i] <= hi) return Ends(1) << (i + 1);
    return 0;
}

Ends Run(const Subject& s, const TRENode* n, int i, bool atEntry, bool atExit) {
    const int count = static_cast<int>(s.codes.size());
    switch (n->Op) {
        case TREOperator::Char: return Literal(s, n->Lo, n->Hi, i);
        case TREOperator::LHead:
            if (!atEntry) return Literal(s, n->Lo, n->Lo, i);
            return i == 0 || s.bytes[s.offsets[i] - 1] == '\n' ? Ends(1) << i : 0;
        case TREOperator::LTail:
            if (!atExit) return Literal(s, n->Lo, n->Lo, i);
            return i == count || s.bytes[s.offsets[i]] == s.separator ? Ends(1) << i : 0;
        case TREOperator::Empty: return Ends(1) << i;
        case TREOperator::Nothing: return 0;
        case TREOperator::Union: return Run(s, n->Left, i, atEntry, atExit) | Run(s, n->Right, i, atEntry, atExit);
        case TREOperator::Concat: {
            const Ends middle = Run(s, n->Left, i, atEntry, false);
            Ends out = 0;
            for (int j = 0; j <= count; ++j)
                if (middle >> j & 1) out |= Run(s, n->Right, j, false, atExit);
            return out;
        }
        case TREOperator::Closure: {
            Ends reached = Ends(1) << i;
            Ends done = 0;
            while (reached != done) {
                const Ends todo = reached & ~done;
                done = reached;
                for (int j = 0; j <= count; ++j)
                    if (todo >> j & 1) reached |= Run(s, n->Left, j, false, false);
            }
            return reached;
        }
    }
    return 0;
}

}  // namespace

Backtracker::Backtracker(const std::string& pattern) : FParser(pattern) { FParser.Parse(); }

RefMatch Backtracker::Match(const std::string& subject, TMatchCORE_LineSeparator separator) const {
    Subject s;
    s.separator = separator == mcls_LF ? 10 : 13;
    const std::string text = subject.substr(0, subject.find('\0'));
    s.bytes.assign(text.begin(), text.end());
    s.bytes.push_back(0);
    for (std::size_t p = 0; p < text.size();) {
        const auto b = static_cast<unsigned char>(text[p]);
        s.offsets.push_back(static_cast<int>(p));
        if (IsReLeadByte(b) && p + 1 < text.size()) {
            s.codes.push_back(static_cast<REChar>(b << 8 | static_cast<unsigned char>(text[p + 1])));
            p += 2;
        } else {
            s.codes.push_back(b);
            p += 1;
        }
    }
    s.offsets.push_back(static_cast<int>(text.size()));

    const int count = static_cast<int>(s.codes.size());
    for (int i = 0; i <= count; ++i) {
        const Ends ends = Run(s, FParser.ParseTree().HeadNode, i, true, true);
        if (ends == 0) continue;
        int last = count;
        while (!(ends >> last & 1)) --last;
        return {s.offsets[i] + 1, s.offsets[last] - s.offsets[i]};
    }
    return {0, 0};
}

}  // namespace norvex::test
