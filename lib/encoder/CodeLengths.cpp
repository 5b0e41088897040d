#include "encoder/CodeLengths.h"

#include <algorithm>
#include <numeric>

namespace qk {

// Package-merge: at each of maxLength levels the list is the symbols' leaves
// merged with the pairs ("packages") of the level below. The 2n-2 lightest
// items of the top list make the code; a symbol's length is the number of
// times its leaf occurs inside them.
std::vector<std::uint8_t> ChooseCodeLengths(const std::vector<std::uint64_t>& counts,
                                            int maxLength) {
    const int n = static_cast<int>(counts.size());
    // Unused symbols must still get a codeword; a weight of 1 against used
    // weights scaled far above keeps them out of the way of the used ones.
    constexpr std::uint64_t kScale = 1u << 16;
    struct Item {
        std::uint64_t weight;
        int symbol;       // >= 0 for a leaf
        int left, right;  // children in the arena for a package
    };
    std::vector<Item> arena;
    arena.reserve(static_cast<std::size_t>(n) * (2 * maxLength + 2));

    std::vector<int> leaves(static_cast<std::size_t>(n));
    std::iota(leaves.begin(), leaves.end(), 0);
    std::stable_sort(leaves.begin(), leaves.end(),
                     [&](int a, int b) { return counts[a] < counts[b]; });
    std::vector<int> leafItems;
    for (int s : leaves) {
        arena.push_back({counts[s] * kScale + 1, s, -1, -1});
        leafItems.push_back(static_cast<int>(arena.size()) - 1);
    }

    std::vector<int> list = leafItems;
    for (int level = 1; level < maxLength; ++level) {
        std::vector<int> packages;
        for (std::size_t i = 0; i + 1 < list.size(); i += 2) {
            arena.push_back(
                {arena[list[i]].weight + arena[list[i + 1]].weight, -1, list[i], list[i + 1]});
            packages.push_back(static_cast<int>(arena.size()) - 1);
        }
        std::vector<int> merged;
        merged.reserve(leafItems.size() + packages.size());
        std::merge(leafItems.begin(), leafItems.end(), packages.begin(), packages.end(),
                   std::back_inserter(merged),
                   [&](int a, int b) { return arena[a].weight < arena[b].weight; });
        list = std::move(merged);
    }

    std::vector<std::uint8_t> lengths(static_cast<std::size_t>(n), 0);
    std::vector<int> stack;
    for (int i = 0; i < 2 * n - 2; ++i) stack.push_back(list[static_cast<std::size_t>(i)]);
    while (!stack.empty()) {
        const Item& item = arena[stack.back()];
        stack.pop_back();
        if (item.symbol >= 0) {
            ++lengths[item.symbol];
        } else {
            stack.push_back(item.left);
            stack.push_back(item.right);
        }
    }
    return lengths;
}

}  // namespace qk
