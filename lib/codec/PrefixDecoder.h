// Bit input and static prefix-code decoding of the qk1 stream.
//
// The compressed data is one bit stream, most significant bit of each byte
// first. It begins with the 5-bit code lengths of two codes, the main alphabet
// (literals and references, 768 or 1280 symbols) and the length alphabet (128
// symbols), and then carries the coded entry table and every batch without any
// realignment. Nothing adapts: both codes are fixed for the whole archive.
//
// Why this is fast: the 32-bit window callers look at is the top half of a
// 64-bit look-ahead word that is refilled only when fewer than 32 bits remain,
// with one 8-byte read from the input buffer (byte by byte only near the end
// of a 512-byte chunk), so a refill happens about once per four bytes consumed. Every
// codeword of up to kSymbolTableBits (14) bits is decided by one table read; longer
// ones walk a short run of the code-sorted table.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "format/CodeModel.h"
#include "codec/InputStream.h"

namespace qk {

// One entry of the main alphabet's codewords sorted by codeword.
struct SortedCode {
    std::uint32_t code;  // left-aligned codeword
    std::uint16_t length;
    std::uint16_t symbol;
};

class PrefixDecoder {
  public:
    static constexpr int kInputChunk = 512;
    static constexpr int kLengthSymbols = 128;
    static constexpr int kFirstIndexBits = 12;
    static constexpr int kSymbolTableBits = 14;
    static constexpr int kLengthTableBits = 12;

    // Reads the first chunk from `input` and builds both codes from the length
    // block at the head of the stream. Check valid() for failed allocations.
    PrefixDecoder(InputStream* input, bool largeModel);

    PrefixDecoder(const PrefixDecoder&) = delete;
    PrefixDecoder& operator=(const PrefixDecoder&) = delete;

    bool valid() const { return valid_; }

    // The next 32 bits of the stream not yet consumed, the first in bit 31.
    std::uint32_t window() const { return window_; }

    // Moves the window on by k bits, 0 <= k <= 32.
    void ConsumeBits(unsigned k) {
        ahead_ <<= k;
        aheadBits_ -= k;
        if (aheadBits_ < 32) {
            if (inCount_ >= inPos_ + 8) {
                RefillWord();
            } else {
                Refill();
            }
        }
        window_ = static_cast<std::uint32_t>(ahead_ >> 32);
    }

    // Next main-alphabet symbol; 0 with failed() set when no codeword matches.
    std::uint16_t DecodeSymbol() {
        const SymbolEntry& e = symbolTable_[window_ >> (32 - kSymbolTableBits)];
        if (e.length != 0) {
            ConsumeBits(e.length);
            return e.symbol;
        }
        return SearchSymbol(e.symbol);
    }

    // Next reference length less 2: a length symbol 0..126, or the value that
    // follows the escape symbol 127 (5-bit size field n-1, then n bits).
    std::uint32_t DecodeLength() {
        const LengthEntry e = lengthTable_[window_ >> (32 - kLengthTableBits)];
        if (e.length != 0) {
            ConsumeBits(e.length);
            return e.symbol != kLengthSymbols - 1 ? e.symbol : ReadEscapedLength();
        }
        return DecodeLongLength();
    }

    bool failed() const { return failed_ != 0; }

    // True once bits past the end of the data have been consumed, that is,
    // decoded as part of a symbol: a well-formed stream only ever pulls the
    // filler bytes into the look-ahead, so the file has been cut short.
    bool ConsumedPastEnd() const { return inCount_ == 0 && aheadBits_ < 8u * inPos_; }
    // Bits read from the input and not yet consumed (the window's among
    // them); 0 once the stream has run into its filler bytes.
    std::int64_t unusedBits() const {
        const std::int64_t buffered = inCount_ > inPos_ ? inCount_ - inPos_ : 0;
        const std::int64_t filler = inCount_ == 0 ? inPos_ : 0;
        return std::max<std::int64_t>(0, (buffered - filler) * 8 + aheadBits_);
    }
    int symbolCount() const { return symbolModel_.count; }

    // The code tables, for tests and tools.
    const CodeModel& symbolModel() const { return symbolModel_; }
    const CodeModel& lengthModel() const { return lengthModel_; }
    const SortedCode* sortedCodes() const { return sortedCodes_.get(); }
    const std::uint16_t* firstIndex() const { return firstIndex_; }

  private:
    // Per 14-bit window prefix: a codeword of up to 14 bits decided by the
    // prefix alone (length != 0), or the position in sortedCodes_ at which the
    // search for a longer codeword starts (length == 0, position in `symbol`).
    struct SymbolEntry {
        std::uint16_t symbol;
        std::uint8_t length;
    };
    // Per 12-bit prefix: the length symbol whose codeword fits in 12 bits,
    // with that codeword's length; length 0 for prefixes of longer codewords,
    // which DecodeLongLength handles.
    struct LengthEntry {
        std::uint8_t symbol;
        std::uint8_t length;
    };

    std::uint8_t NextByte();
    void Refill();
    // Tops the look-ahead up with whole bytes of one 8-byte read from the
    // input buffer, which holds at least eight more bytes. The read's last
    // partial byte also lands below the counted bits; the next refill puts the
    // same bits of the same byte there again, so they do no harm.
    void RefillWord() {
        const std::uint8_t* p = inBuf_ + inPos_;
        const std::uint64_t word = (std::uint64_t{p[0]} << 56) | (std::uint64_t{p[1]} << 48) |
                                   (std::uint64_t{p[2]} << 40) | (std::uint64_t{p[3]} << 32) |
                                   (std::uint64_t{p[4]} << 24) | (std::uint64_t{p[5]} << 16) |
                                   (std::uint64_t{p[6]} << 8) | std::uint64_t{p[7]};
        ahead_ |= word >> aheadBits_;
        const unsigned bytes = (63 - aheadBits_) >> 3;
        inPos_ = static_cast<std::uint16_t>(inPos_ + bytes);
        aheadBits_ += bytes * 8;
    }
    void LoadCodeTables();
    void BuildSymbolTables();
    void BuildLengthTable();
    std::uint16_t SearchSymbol(std::uint16_t start);
    std::uint32_t DecodeLongLength();
    std::uint32_t ReadEscapedLength();
    bool Matches(std::uint32_t code, unsigned length) const;

    CodeModel symbolModel_;
    CodeModel lengthModel_;
    std::unique_ptr<SortedCode[]> sortedCodes_;
    InputStream* input_;

    // Look-ahead: the unconsumed stream bits, left-aligned; aheadBits_ of them
    // are real. After priming aheadBits_ >= 32, so the window is its top half.
    std::uint64_t ahead_ = 0;
    unsigned aheadBits_ = 0;
    std::uint32_t window_ = 0;

    std::uint8_t inBuf_[kInputChunk] = {};
    std::uint16_t inCount_ = 0;
    std::uint16_t inPos_ = 0;

    std::uint16_t firstIndex_[1 << kFirstIndexBits];
    SymbolEntry symbolTable_[1 << kSymbolTableBits];
    LengthEntry lengthTable_[1 << kLengthTableBits];
    std::uint32_t failed_ = 0;
    bool valid_ = false;
};

}  // namespace qk
