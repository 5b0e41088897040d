// The plain form of every decoding step, which the production decoder is
// checked against: codes built by merging lists of groups, the window read at
// a bit position, a search of the sorted codes for every symbol and of all
// lengths for every length, rings of plain arrays. Nothing is fast, and
// nothing is shared with the production decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/InputStream.h"
#include "qk1/Archive.h"

namespace qk::test {

// Groups sorted by (length, symbol), the last two merged again and again (0
// before the first's codewords, 1 before the second's) and the merged one, a
// length shorter, put back before every group of equal length; a length 0
// wraps and sorts last. Codewords keep their first 32 bits.
struct PlainCode {
    std::vector<std::uint32_t> codes;
    std::vector<std::uint16_t> lengths;
};
PlainCode BuildPlainCode(const std::vector<std::uint32_t>& lengths);

class ReferencePrefixDecoder {
  public:
    ReferencePrefixDecoder(InputStream* input, bool largeModel);
    void ConsumeBits(unsigned k);
    std::uint16_t DecodeSymbol();  // 0 with `failed` set when nothing matches
    std::uint32_t DecodeLength();

    std::uint32_t window = 0;  // the 32 stream bits from the current position
    bool failed = false;

  private:
    struct Sorted {
        std::uint32_t code;
        std::uint16_t length, symbol;
    };
    std::uint8_t ByteAt(std::uint64_t i);
    bool Matches(std::uint32_t code, unsigned length) const;

    InputStream* input_;
    std::vector<std::uint8_t> bytes_;  // all read so far
    std::uint8_t filler_ = 0;          // the first byte of the last read that gave any
    bool ended_ = false;
    std::uint64_t position_ = 0;  // in bits
    PlainCode lengthCode_;
    std::vector<Sorted> sorted_;  // the main alphabet's codewords in code order
    std::vector<std::uint16_t> firstIndex_;
};

class ReferenceLzDecoder {
  public:
    ReferenceLzDecoder(InputStream* input, bool insertInner, bool largeModel);
    void Reset(std::uint8_t* output, std::int32_t size);
    int Decode(std::int32_t target);  // 0 done, 1 overrun, 2 bad reference
    std::int32_t outputPos = 0;

  private:
    void Enter(std::uint8_t context, std::int32_t position, std::uint32_t length);

    ReferencePrefixDecoder decoder_;
    bool insertInner_;
    std::uint32_t slotCount_;
    std::vector<std::uint32_t> positions_, lengths_;  // per context, per slot; position 0 is empty
    std::vector<std::uint16_t> head_, filled_;
    std::uint8_t* output_ = nullptr;
    std::int32_t outputSize_ = 0, insertPos_ = 0;
};

struct Feed {                   // how DecodeBothForms feeds the production decoder
    std::string password;       // of a scrambled archive
    std::size_t offset = 0;     // where the archive starts in the file
    int chunk = 512;            // most bytes one Read delivers
    std::uint32_t maxStep = 0;  // Decode targets advance by 1 to maxStep bytes (0: whole blocks)
    std::uint32_t seed = 1;     // of the step sizes
};

// An archive decoded block by block (the table, then each batch by the batch
// rule, up to the first that fails) by the production decoder and the plain
// form side by side; the header, key and batch rule come from lib/format.
// Any Decode step giving another result, position or bytes, or writing past
// its block, fails the test; so does an archive decoded whole that used a bit
// past its end or fetched more filler than the look-ahead of 8 bytes.
struct Decoded {
    int result = 0;                                 // the failing block's result, or 0
    EntryTable entries;                             // '/' between folders
    std::vector<Batch> batches;                     // of the entries
    std::vector<std::vector<std::uint8_t>> blocks;  // the table, then each batch decoded
};
Decoded DecodeBothForms(const std::vector<std::uint8_t>& file, const Feed& feed = {});

}  // namespace qk::test
