// Static prefix codes of the qk1 stream: the model record and the code
// construction that turns 5-bit code lengths into codewords.
//
// The codewords are never sent; only a length per symbol is. Decoder and writer
// both derive the codewords with BuildCode, so its merge order and tie-breaks
// are part of the stream format.
#pragma once

#include <cstdint>
#include <memory>

namespace qk {

// One entry of the construction list: a group of symbols under one tree node.
struct CodeNode {
    std::uint32_t depth;   // starts as the length read, drops by one per merge
    std::uint16_t symbol;  // first symbol of the group
    std::uint16_t next;    // list position of the next node of the group, kNoNode for none
};

constexpr std::uint16_t kNoNode = 65535;

// One prefix code: per symbol a left-aligned codeword and its length.
class CodeModel {
  public:
    // Allocates the three arrays for `count` symbols (count >= 2); check valid().
    explicit CodeModel(int count);

    bool valid() const { return nodes && codes && lengths; }

    std::unique_ptr<CodeNode[]> nodes;         // construction work space
    std::unique_ptr<std::uint32_t[]> codes;    // codeword, first bit in bit 31
    std::unique_ptr<std::uint16_t[]> lengths;  // codeword length in bits (may exceed 32)
    int count;
};

// Builds the codewords of `model` from the lengths stored in nodes[i].depth.
//
// The nodes are sorted by (depth, symbol); then the last two live entries are
// merged again and again, prepending 0 to the first group's codewords and 1 to
// the second's, and the merged node is re-inserted in front of every node of
// equal depth. For a complete set of lengths this gives the canonical code that
// orders symbols longest first, then by symbol. Any other set still yields a
// complete code (lengths may then differ from those read). A codeword longer
// than 32 bits keeps only its first 32 bits in `codes`; `lengths` holds its full
// length.
void BuildCode(CodeModel& model);

// Convenience for writers and tests: fills a model from `lengths` and builds it.
// Returns false when memory could not be had.
bool BuildCodeFromLengths(const std::uint8_t* lengths, int count, std::uint32_t* codes,
                          std::uint16_t* codeLengths);

}  // namespace qk
