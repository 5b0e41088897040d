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
// ones walk a short run of the code-sorted table. Where a literal's codeword
// and the next literal's fit in those 14 bits together, the same read decides
// both (a pair entry). A hot loop takes the bit state out into a Cursor held in
// registers (Take), decodes through it, and puts it back (Put); the refill at
// the end of a chunk and the filler past the end of the data stay here, in
// Refill and NextByte, for both forms.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "codec/InputStream.h"
#include "format/CodeModel.h"

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

    // The bit state of a hot loop, kept in registers between Take() and Put().
    // While a Cursor is out, only the Cursor forms below may touch the stream.
    struct Cursor {
        std::uint64_t ahead;  // as ahead_
        unsigned aheadBits;   // as aheadBits_
        int inPos;            // as inPos_
        int wordEnd;          // inCount_ - 8: a whole word may be read while inPos <= wordEnd
    };
    Cursor Take() const { return {ahead_, aheadBits_, inPos_, int{inCount_} - 8}; }
    void Put(const Cursor& c) {
        ahead_ = c.ahead;
        aheadBits_ = c.aheadBits;
        inPos_ = static_cast<std::uint16_t>(c.inPos);
        window_ = static_cast<std::uint32_t>(ahead_ >> 32);
    }
    static std::uint32_t Window(const Cursor& c) {
        return static_cast<std::uint32_t>(c.ahead >> 32);
    }

    // Moves the window on by k bits, 0 <= k <= 32. After it at least 32 bits
    // are real again: a refill tops the look-ahead up to 57 or more.
    void ConsumeBits(Cursor& c, unsigned k) {
        c.ahead <<= k;
        c.aheadBits -= k;
        if (c.aheadBits < 32) {
            if (c.inPos <= c.wordEnd) {
                RefillWord(c);
            } else {
                c = RefillFrom(c);
            }
        }
    }

    // One entry of the symbol table, for a loop that decodes through it:
    // length 0 sends the window to SearchSymbol. An entry with symbol >=
    // kPairFlag decides two literals: the first is 2 * slots + (symbol & 0xFF)
    // with a codeword of (symbol >> 8) & 15 bits, the second 2 * slots +
    // `second`; `length` is then both codewords together.
    struct SymbolEntry {
        std::uint16_t symbol;
        std::uint8_t length;
        std::uint8_t second;
    };
    static constexpr std::uint16_t kPairFlag = 0x8000;
    const SymbolEntry& Entry(const Cursor& c) const {
        return symbolTable_[Window(c) >> (32 - kSymbolTableBits)];
    }

    // Next main-alphabet symbol; 0 with failed() set when no codeword matches.
    std::uint16_t DecodeSymbol(Cursor& c) {
        const SymbolEntry& e = Entry(c);
        if (e.length != 0) {
            if (e.symbol >= kPairFlag) {
                ConsumeBits(c, (e.symbol >> 8) & 15);
                return static_cast<std::uint16_t>(symbolModel_.count - 256 + (e.symbol & 0xFF));
            }
            ConsumeBits(c, e.length);
            return e.symbol;
        }
        Put(c);
        const std::uint16_t s = SearchSymbol(e.symbol);
        c = Take();
        return s;
    }

    // Next reference length less 2: a length symbol 0..126, or the value that
    // follows the escape symbol 127 (5-bit size field n-1, then n bits).
    std::uint32_t DecodeLength(Cursor& c) {
        const LengthEntry e = lengthTable_[Window(c) >> (32 - kLengthTableBits)];
        if (e.length != 0) {
            ConsumeBits(c, e.length);
            if (e.symbol != kLengthSymbols - 1) return e.symbol;
            Put(c);
            const std::uint32_t value = ReadEscapedLength();
            c = Take();
            return value;
        }
        Put(c);
        const std::uint32_t value = DecodeLongLength();
        c = Take();
        return value;
    }

    // The same steps on the decoder's own state.
    std::uint32_t window() const { return window_; }
    void ConsumeBits(unsigned k) {
        Cursor c = Take();
        ConsumeBits(c, k);
        Put(c);
    }
    std::uint16_t DecodeSymbol() {
        Cursor c = Take();
        const std::uint16_t s = DecodeSymbol(c);
        Put(c);
        return s;
    }
    std::uint32_t DecodeLength() {
        Cursor c = Take();
        const std::uint32_t v = DecodeLength(c);
        Put(c);
        return v;
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
    void RefillWord(Cursor& c) const {
        const std::uint8_t* p = inBuf_ + c.inPos;
        const std::uint64_t word = (std::uint64_t{p[0]} << 56) | (std::uint64_t{p[1]} << 48) |
                                   (std::uint64_t{p[2]} << 40) | (std::uint64_t{p[3]} << 32) |
                                   (std::uint64_t{p[4]} << 24) | (std::uint64_t{p[5]} << 16) |
                                   (std::uint64_t{p[6]} << 8) | std::uint64_t{p[7]};
        c.ahead |= word >> c.aheadBits;
        const unsigned bytes = (63 - c.aheadBits) >> 3;
        c.inPos += static_cast<int>(bytes);
        c.aheadBits += bytes * 8;
    }
    // The slow paths work on the decoder's own state: the cursor is put back
    // before them and taken out again after them, by value, so that a loop's
    // cursor never has to leave its registers.
    Cursor RefillFrom(Cursor c) {
        Put(c);
        Refill();
        return Take();
    }
    void LoadCodeTables();
    void BuildSymbolTables();
    void BuildLengthTable();
    void BuildPairs();
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
