// The plain form of every decoding step, which the production decoder is
// checked against: codes built by merging lists of groups, the window read at
// a bit position, a search of the sorted codes for every symbol and of all
// lengths for every length, rings of plain arrays. Nothing is fast, and
// nothing is shared with the production decoder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/InputStream.h"

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
    ReferencePrefixDecoder(InputStream* input, bool largeModel) : input_(input) {
        ConsumeBits(0);
        std::vector<std::uint32_t> symbolLengths(largeModel ? 1280 : 768), lengthLengths(128);
        for (std::uint32_t& l : symbolLengths) l = window >> 27, ConsumeBits(5);
        for (std::uint32_t& l : lengthLengths) l = window >> 27, ConsumeBits(5);
        const PlainCode symbols = BuildPlainCode(symbolLengths);
        lengthCode_ = BuildPlainCode(lengthLengths);
        for (std::size_t i = 0; i < symbolLengths.size(); ++i)
            sorted_.push_back(
                {symbols.codes[i], symbols.lengths[i], static_cast<std::uint16_t>(i)});
        std::sort(sorted_.begin(), sorted_.end(), [](const Sorted& a, const Sorted& b) {
            return a.code != b.code ? a.code < b.code : a.symbol < b.symbol;
        });
        // Per 12-bit prefix, the first position other than 0 whose codeword starts
        // with it; 0 for prefix 0; a prefix no codeword starts with takes the one below.
        firstIndex_.assign(4096, 65535);
        for (std::size_t i = sorted_.size() - 1; i >= 1; --i)
            firstIndex_[sorted_[i].code >> 20] = static_cast<std::uint16_t>(i);
        firstIndex_[0] = 0;
        for (int p = 1; p < 4096; ++p)
            if (firstIndex_[p] == 65535) firstIndex_[p] = firstIndex_[p - 1];
    }

    void ConsumeBits(unsigned k) {
        position_ += k;
        std::uint64_t bits = 0;
        for (std::uint64_t b = position_ / 8; b < position_ / 8 + 5; ++b)
            bits = bits << 8 | ByteAt(b);
        window = static_cast<std::uint32_t>(bits >> (8 - position_ % 8));
    }

    // The 12-bit prefix names a position of the sorted codes; a codeword there
    // shorter than 12 bits is taken as it is, else the search goes on from it.
    std::uint16_t DecodeSymbol() {
        const std::size_t first = firstIndex_[window >> 20];
        for (std::size_t i = first; i < sorted_.size(); ++i) {
            if ((i == first && sorted_[i].length < 12) ||
                Matches(sorted_[i].code, sorted_[i].length)) {
                ConsumeBits(sorted_[i].length);
                return sorted_[i].symbol;
            }
        }
        failed = true;
        return 0;
    }

    // A length symbol 0..126, or after the escape 127 a 5-bit size n-1 and n bits.
    std::uint32_t DecodeLength() {
        for (unsigned i = 0; i < 128; ++i) {
            if (!Matches(lengthCode_.codes[i], lengthCode_.lengths[i])) continue;
            ConsumeBits(lengthCode_.lengths[i]);
            if (i < 127) return i;
            const unsigned n = (window >> 27) + 1;
            ConsumeBits(5);
            const std::uint32_t v = window;
            ConsumeBits(n);
            return n == 32 ? v : v >> (32 - n);
        }
        failed = true;
        return 0;
    }

    std::uint32_t window = 0;  // the 32 stream bits from the current position
    bool failed = false;       // set when no codeword matches

  private:
    struct Sorted {
        std::uint32_t code;
        std::uint16_t length, symbol;
    };
    // Byte i of the stream. Past the end of the data every byte is the first
    // byte of the last read that gave any; reads are of 512 bytes.
    std::uint8_t ByteAt(std::uint64_t i) {
        while (i >= bytes_.size() && !ended_) {
            std::uint8_t chunk[512];
            const int n = input_->Read(chunk, 512);
            ended_ = n == 0;
            if (n > 0) filler_ = chunk[0];
            bytes_.insert(bytes_.end(), chunk, chunk + n);
        }
        return i < bytes_.size() ? bytes_[i] : filler_;
    }
    bool Matches(std::uint32_t code, unsigned length) const {
        return length <= 32 && (length == 0 || (code ^ window) >> (32 - length) == 0);
    }

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
    ReferenceLzDecoder(InputStream* input, bool inner, bool largeModel)
        : decoder_(input, largeModel), insertInner_(inner), slotCount_(largeModel ? 512 : 256) {}
    void Reset(std::uint8_t* output, std::int32_t size) {
        positions_.assign(256 * slotCount_, 0);
        lengths_.assign(256 * slotCount_, 0);
        head_.assign(256, 0);
        filled_.assign(256, 0);
        output_ = output;
        outputSize_ = size;
        outputPos = insertPos_ = 0;
    }

    // Each step: a literal, or a copy through a ring slot of the context byte
    // (the byte before the step; none before the first). A candidate reference
    // (symbol below n) reads its length; a repeat reference takes the slot's
    // length and, in a full ring, moves the head's entry into the slot used.
    // Then the step's first position enters its ring, and with insertInner the
    // positions inside it enter rings that have never been full.
    int Decode(std::int32_t target) {
        const std::uint32_t n = slotCount_;
        while (outputPos < std::min(target, outputSize_)) {
            const std::uint32_t s = decoder_.DecodeSymbol();
            std::uint64_t length = 1;
            if (s >= 2 * n) {
                output_[outputPos] = static_cast<std::uint8_t>(s - 2 * n);
            } else {
                const std::uint32_t base = n * (outputPos > 0 ? output_[insertPos_] : 0);
                const std::uint32_t head = base + head_[base / n];
                const std::uint32_t slot = base + (head - base + s) % n;
                const std::uint32_t source = positions_[slot];
                if (s < n) {
                    length = decoder_.DecodeLength() + std::uint64_t{2};
                } else {
                    length = lengths_[slot];
                    if (positions_[head] != 0) {
                        positions_[slot] = positions_[head];
                        lengths_[slot] = lengths_[head];
                    }
                }
                if (outputPos + length > std::uint64_t(outputSize_)) return 1;
                if (source == 0 || source >= static_cast<std::uint32_t>(outputSize_)) return 2;
                for (std::uint64_t k = 0; k < length; ++k)
                    output_[outputPos + k] = output_[source + k];
            }
            outputPos += static_cast<std::int32_t>(length);
            if (outputPos - 1 <= insertPos_) continue;
            Enter(output_[insertPos_], insertPos_ + 1, static_cast<std::uint32_t>(length));
            for (auto left = static_cast<std::uint32_t>(length - 1); outputPos - 1 > ++insertPos_;
                 --left) {
                const std::uint8_t c = output_[insertPos_];
                if (insertInner_ && filled_[c] <= head_[c]) Enter(c, insertPos_ + 1, left);
            }
        }
        return decoder_.failed ? 2 : 0;
    }
    std::int32_t outputPos = 0;

    // The rings, for a comparison with another decoder's.
    struct Rings {
        std::uint32_t slotCount;
        const std::vector<std::uint32_t>&positions, &lengths;
        const std::vector<std::uint16_t>&head, &filled;
    };
    Rings rings() const { return {slotCount_, positions_, lengths_, head_, filled_}; }

  private:
    void Enter(std::uint8_t context, std::int32_t position, std::uint32_t length) {
        const std::uint32_t slot = slotCount_ * context + head_[context];
        positions_[slot] = static_cast<std::uint32_t>(position);
        lengths_[slot] = length;
        filled_[context] = std::max<std::uint16_t>(filled_[context], ++head_[context]);
        head_[context] = static_cast<std::uint16_t>(head_[context] % slotCount_);
    }

    ReferencePrefixDecoder decoder_;
    bool insertInner_;
    std::uint32_t slotCount_;
    std::vector<std::uint32_t> positions_, lengths_;  // per context, per slot; position 0 is empty
    std::vector<std::uint16_t> head_, filled_;
    std::uint8_t* output_ = nullptr;
    std::int32_t outputSize_ = 0, insertPos_ = 0;
};

// An archive decoded block by block (the table, then each batch, up to the
// first that fails) by the production decoder, fed in reads of `chunk` bytes
// and Decode steps of 1 to `maxStep` bytes (0: whole blocks), and the plain
// form side by side; only the header, key and batch rule come from
// lib/format. Another result, position or bytes at any step, a write past a
// block, or an archive decoded whole that used a bit past its end or fetched
// more filler than the look-ahead of 8 bytes fails the test.
struct Feed {
    std::string password;
    std::size_t offset = 0;  // where the archive starts in the file
    int chunk = 512;
    std::uint32_t maxStep = 0;
};
struct Decoded {
    int result = 0;                                 // the failing block's result, or 0
    std::vector<std::vector<std::uint8_t>> blocks;  // the table, then each batch decoded
};
Decoded DecodeBothForms(const std::vector<std::uint8_t>& file, const Feed& feed = {});

}  // namespace qk::test
