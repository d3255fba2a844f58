// TREParseTree: the parse tree of a pattern. It owns every node it makes; leaves are unique by their
// bounds and sub-trees are shared, so the "tree" is a directed acyclic graph.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "regexp/RECommon.h"

namespace norvex {

struct TRENode {
    TREOperator Op;
    REChar Lo = 0;  // leaf: the range; anchors: their own character in both bounds
    REChar Hi = 0;
    TRENode* Left = nullptr;  // closure: the operand
    TRENode* Right = nullptr;
};

class TREParseTree {
public:
    TREParseTree() = default;
    TREParseTree(const TREParseTree&) = delete;
    TREParseTree& operator=(const TREParseTree&) = delete;

    void Clear();

    TRENode* MakeInternalNode(TREOperator op, TRENode* left = nullptr, TRENode* right = nullptr);
    TRENode* MakeAnchorNode(TREOperator op, REChar code);
    // The leaf [lo..hi]: the existing one with these bounds, else a new one; none when hi < lo.
    TRENode* MakeLeaf(REChar lo, REChar hi);
    // Every code except 0, line feed, carriage return and codes above 0xFCFC.
    TRENode* MakeAnyCharsNode();
    // Turns a leaf into union(left, right) in place, so every node that refers to it sees the union.
    void ChangeLeaftoNode(TRENode* leaf, TRENode* left, TRENode* right);
    // Splits overlapping leaves until the leaf list holds pairwise disjoint ranges.
    void ForceCharClassDisjoint();

    TRENode* HeadNode = nullptr;
    const std::vector<TRENode*>& LeafList() const { return FLeafList; }
    const std::vector<TRENode*>& NodeList() const { return FNodeList; }

private:
    TRENode* NewNode(TREOperator op);
    static std::uint32_t LeafKey(REChar lo, REChar hi) { return std::uint32_t(lo) << 16 | hi; }

    std::vector<std::unique_ptr<TRENode>> FStorage;
    std::vector<TRENode*> FNodeList;  // operators and anchors
    std::vector<TRENode*> FLeafList;  // leaves, in creation order
    std::unordered_map<std::uint32_t, TRENode*> FLeafIndex;
};

}  // namespace norvex
