#include "format/CodeModel.h"

#include <algorithm>
#include <new>

namespace qk {

CodeModel::CodeModel(int count)
    : nodes(new (std::nothrow) CodeNode[count]()),
      codes(new (std::nothrow) std::uint32_t[count]),
      lengths(new (std::nothrow) std::uint16_t[count]),
      count(count) {}

namespace {

// Order of the construction list: by depth, then by symbol. `next` is always
// kNoNode when the sort runs, so (depth, symbol) is the whole key.
bool NodeBefore(const CodeNode& a, const CodeNode& b) {
    if (a.depth != b.depth) return a.depth < b.depth;
    return a.symbol < b.symbol;
}

}  // namespace

void BuildCode(CodeModel& model) {
    const int n = model.count;
    CodeNode* nodes = model.nodes.get();
    std::uint32_t* codes = model.codes.get();
    std::uint16_t* lengths = model.lengths.get();

    for (int i = 0; i < n; ++i) {
        nodes[i].symbol = static_cast<std::uint16_t>(i);
        nodes[i].next = kNoNode;
        codes[i] = 0;
        lengths[i] = 0;
    }
    std::sort(nodes, nodes + n, NodeBefore);

    // Before the merge for i the live list is positions 0..i+1, ascending by
    // depth; the merge joins its last two entries. Links made so far point at
    // positions above i, which no later merge moves.
    for (int i = n - 2; i >= 0; --i) {
        for (std::uint16_t p = static_cast<std::uint16_t>(i); p != kNoNode; p = nodes[p].next) {
            const std::uint16_t s = nodes[p].symbol;
            ++lengths[s];
            codes[s] >>= 1;
        }
        for (std::uint16_t p = static_cast<std::uint16_t>(i + 1); p != kNoNode; p = nodes[p].next) {
            const std::uint16_t s = nodes[p].symbol;
            ++lengths[s];
            codes[s] = (codes[s] >> 1) | 0x80000000u;
        }
        // A depth of 0 wraps to the largest value and sorts after everything.
        --nodes[i].depth;

        int tail = i;
        while (nodes[tail].next != kNoNode) tail = nodes[tail].next;
        nodes[tail].next = static_cast<std::uint16_t>(i + 1);

        const CodeNode merged = nodes[i];
        int pos = i;
        while (pos > 0 && nodes[pos - 1].depth >= merged.depth) {
            nodes[pos] = nodes[pos - 1];
            --pos;
        }
        nodes[pos] = merged;
    }
}

bool BuildCodeFromLengths(const std::uint8_t* lengths, int count, std::uint32_t* codes,
                          std::uint16_t* codeLengths) {
    CodeModel model(count);
    if (!model.valid()) return false;
    for (int i = 0; i < count; ++i) model.nodes[i].depth = lengths[i];
    BuildCode(model);
    std::copy(model.codes.get(), model.codes.get() + count, codes);
    std::copy(model.lengths.get(), model.lengths.get() + count, codeLengths);
    return true;
}

}  // namespace qk
