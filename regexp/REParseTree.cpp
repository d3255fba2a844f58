// The parse tree and its disjoint-leaf step. Tested by tests/regexp/ParserTest.cpp and, for
// meaning, by the differential test in tests/regexp/DifferentialTest.cpp.
#include "regexp/REParseTree.h"

#include <algorithm>

namespace norvex {

void TREParseTree::Clear() {
    FLeafIndex.clear();
    FLeafList.clear();
    FNodeList.clear();
    FStorage.clear();
    HeadNode = nullptr;
}

TRENode* TREParseTree::NewNode(TREOperator op) {
    FStorage.push_back(std::make_unique<TRENode>());
    TRENode* node = FStorage.back().get();
    node->Op = op;
    return node;
}

TRENode* TREParseTree::MakeInternalNode(TREOperator op, TRENode* left, TRENode* right) {
    TRENode* node = NewNode(op);
    node->Left = left;
    node->Right = right;
    FNodeList.push_back(node);
    return node;
}

TRENode* TREParseTree::MakeAnchorNode(TREOperator op, REChar code) {
    TRENode* node = MakeInternalNode(op);
    node->Lo = node->Hi = code;
    return node;
}

TRENode* TREParseTree::MakeLeaf(REChar lo, REChar hi) {
    if (hi < lo) return nullptr;
    auto [it, inserted] = FLeafIndex.try_emplace(LeafKey(lo, hi), nullptr);
    if (!inserted) return it->second;
    TRENode* leaf = NewNode(TREOperator::Char);
    leaf->Lo = lo;
    leaf->Hi = hi;
    FLeafList.push_back(leaf);
    it->second = leaf;
    return leaf;
}

TRENode* TREParseTree::MakeAnyCharsNode() {
    TRENode* low = MakeInternalNode(TREOperator::Union, MakeLeaf(1, 9), MakeLeaf(11, 12));
    return MakeInternalNode(TREOperator::Union, low, MakeLeaf(14, CONST_MAXANYCHAR));
}

void TREParseTree::ChangeLeaftoNode(TRENode* leaf, TRENode* left, TRENode* right) {
    if (leaf == nullptr || left == nullptr || right == nullptr) throw std::runtime_error(remsg::TreeFatal);
    FLeafIndex.erase(LeafKey(leaf->Lo, leaf->Hi));
    FLeafList.erase(std::find(FLeafList.begin(), FLeafList.end(), leaf));
    leaf->Op = TREOperator::Union;
    leaf->Left = left;
    leaf->Right = right;
    FNodeList.push_back(leaf);
}

// Later stages use each leaf range as one input symbol, so ranges must not overlap. Every bound
// of every leaf (lo, and hi + 1) cuts the code space into elementary pieces; a leaf that spans
// more than one piece becomes, in place, the union of its pieces, which are leaves of their own
// (shared with any equal leaf). Afterwards the leaf list holds exactly the pieces that are used,
// and they are pairwise disjoint. The cost is linear in the pieces each leaf covers, where a
// pairwise split-and-restart scan would be cubic in the number of leaves.
void TREParseTree::ForceCharClassDisjoint() {
    std::vector<std::uint32_t> bounds;
    bounds.reserve(FLeafList.size() * 2);
    for (const TRENode* leaf : FLeafList) {
        bounds.push_back(leaf->Lo);
        bounds.push_back(std::uint32_t(leaf->Hi) + 1);
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

    const std::vector<TRENode*> before = FLeafList;
    for (TRENode* leaf : before) {
        auto k = std::lower_bound(bounds.begin(), bounds.end(), std::uint32_t(leaf->Lo));
        const std::uint32_t end = std::uint32_t(leaf->Hi) + 1;
        if (*(k + 1) == end) continue;  // already one piece
        TRENode* joined = nullptr;
        TRENode* last = nullptr;
        for (; *k < end; ++k) {
            TRENode* piece = MakeLeaf(REChar(*k), REChar(*(k + 1) - 1));
            if (last != nullptr)
                joined = joined == nullptr ? last : MakeInternalNode(TREOperator::Union, joined, last);
            last = piece;
        }
        ChangeLeaftoNode(leaf, joined, last);
    }
}

}  // namespace norvex
