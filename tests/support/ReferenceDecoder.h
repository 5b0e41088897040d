// The plain, step-by-step form of every decoding step, kept as the reference
// that the production decoder is checked against. It follows the format rule
// by rule: the bit step with its byte-wise masks, the sorted-code search for
// every symbol, the linear search for every length, rings cleared in full at
// each block and emptiness marked by position 0. Nothing here is fast.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "qk1/Archive.h"

#include "codec/InputStream.h"
#include "codec/PrefixDecoder.h"

namespace qk::test {

// A prefix code built from its lengths the plain way: a list of groups
// sorted by (length, symbol); the last two are merged again and again (0
// before the first group's codewords, 1 before the second's) and the merged
// group, one shorter than the first, goes back in front of every group of
// equal length. A length of 0 wraps and sorts last. A codeword keeps its
// first 32 bits; `lengths` holds the whole length.
struct PlainCode {
    int count = 0;
    std::vector<std::uint32_t> codes;
    std::vector<std::uint16_t> lengths;
};
PlainCode BuildPlainCode(const std::vector<std::uint32_t>& lengths);

class ReferencePrefixDecoder {
  public:
    ReferencePrefixDecoder(InputStream* input, bool largeModel);

    void ConsumeBits(unsigned k);
    std::uint16_t DecodeSymbol();
    std::uint32_t DecodeLength();

    PlainCode symbolModel;
    PlainCode lengthModel;
    std::vector<SortedCode> sortedCodes;
    InputStream* input;
    std::uint32_t bitBuffer = 0;
    std::uint8_t bitsLeft = 0;
    std::uint32_t window = 0;
    std::uint8_t inBuf[512] = {};
    std::uint16_t inCount = 0;
    std::uint16_t inPos = 0;
    std::uint16_t firstIndex[4096];
    std::uint32_t failed = 0;

  private:
    std::uint8_t NextByte();
    void Step(unsigned s);
    void LoadCodeTables();
    bool Matches(std::uint32_t code, unsigned length) const;
};

class ReferenceLzDecoder {
  public:
    ReferenceLzDecoder(InputStream* input, bool insertInner, bool largeModel);
    void Reset(std::uint8_t* output, std::int32_t size);
    int Decode(std::int32_t target);

    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> filled;
    std::vector<std::uint32_t> slotPositions;
    std::vector<std::uint32_t> slotLengths;
    std::uint8_t* output = nullptr;
    std::int32_t outputSize = 0;
    std::int32_t outputPos = 0;
    std::int32_t insertPos = 0;
    ReferencePrefixDecoder decoder;
    bool insertInner;
    std::uint32_t slotCount;
};

// A whole archive decoded by the plain form: the entry table's block, then
// every batch's block by the batch rule, up to the first that fails.
struct PlainArchive {
    int result = 0;  // the Decode result of the first failing block, or 0
    std::vector<std::uint8_t> table;
    EntryTable entries;
    std::vector<std::vector<std::uint8_t>> batches;
};
// `archive` is a plain archive (no self-extracting program in front); a
// scrambled one is undone with `password`.
PlainArchive DecodeWithPlainForm(const std::vector<std::uint8_t>& archive,
                                 std::string_view password = {});

}  // namespace qk::test
