// Cutting a block into literals, candidate references and repeat references,
// with the context rings kept exactly as the decoder keeps them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "format/ContextRings.h"

namespace qk {

// One coded step: a main-alphabet symbol and, for a candidate reference, the
// reference length less 2 (the value the length code carries).
struct Token {
    std::uint16_t symbol;
    std::uint32_t lengthValue;
};

// The tokens of one block, packed so that a whole large block's parse can be
// kept for the emission: one 16-bit word per token, the symbol (below 2048)
// in its low 11 bits and a reference's length value in the top 5 when it is
// below 31; a larger value is 31 there and follows in two more words, low
// half first.
class TokenList {
  public:
    void reserve(std::size_t tokens) { words_.reserve(tokens); }
    void push_back(Token t) {
        if (t.lengthValue < kLongLength) {
            words_.push_back(static_cast<std::uint16_t>(t.symbol | t.lengthValue << 11));
        } else {
            words_.push_back(static_cast<std::uint16_t>(t.symbol | kLongLength << 11));
            words_.push_back(static_cast<std::uint16_t>(t.lengthValue));
            words_.push_back(static_cast<std::uint16_t>(t.lengthValue >> 16));
        }
    }
    std::size_t bytes() const { return words_.size() * sizeof(std::uint16_t); }
    // Calls visit(Token) for every token in order.
    template <class Visit>
    void ForEach(const Visit& visit) const {
        const std::uint16_t* w = words_.data();
        const std::uint16_t* const end = w + words_.size();
        while (w < end) {
            Token t{static_cast<std::uint16_t>(*w & 0x7FF), static_cast<std::uint32_t>(*w >> 11)};
            ++w;
            if (t.lengthValue == kLongLength) {
                t.lengthValue = w[0] | static_cast<std::uint32_t>(w[1]) << 16;
                w += 2;
            }
            visit(t);
        }
    }

  private:
    static constexpr std::uint32_t kLongLength = 31;
    std::vector<std::uint16_t> words_;
};

// What each coded item is expected to cost, in 1/16 bit, for ranking the
// choices of a parse: from the code lengths of an earlier parse, or from a
// rough default shape when none has been made.
struct PriceTable {
    static constexpr int kUnit = 16;

    std::uint32_t symbol[1280];
    std::uint32_t length[128];
    std::uint32_t averageLiteral;  // literal cost weighted by how often each occurs

    // Default shape: literals near 6.5 bits, references dearer for older slots.
    static PriceTable Default(bool largeModel);
    // From the code lengths of both alphabets and the literal counts behind them.
    static PriceTable FromCodeLengths(bool largeModel, const std::vector<std::uint8_t>& symbolBits,
                                      const std::vector<std::uint8_t>& lengthBits,
                                      const std::vector<std::uint64_t>& symbolCounts);

    std::uint32_t Length(std::uint32_t value) const;
};

// How hard the parser looks.
struct ParserSettings {
    bool largeModel = false;
    bool insertInner = false;
    // Newest slots of a ring that the search looks at (0: all of them).
    std::uint32_t searchDepth = 0;
    // Steps the parse looks ahead before taking a reference: 0 takes the best
    // reference at once (greedy), 1 or 2 first try a literal in front of it.
    int lazySteps = 0;
    // A match this long ends the search at its position.
    std::uint32_t niceLength = 256;
    // Also weigh repeat references of one byte against the literal.
    bool oneByteRepeats = false;
    // Slots whose first bytes agree with the position's in fewer than this
    // many bytes (2 or 3) are passed over without a closer look.
    std::uint32_t minMatch = 2;
    // Chooses steps by the prices of everything that follows them instead of
    // one step ahead (OptimalParser.cpp); lazySteps is then not used.
    bool optimal = false;
    // Rounds of the optimal parse per chunk: each after the first gathers
    // the ways along the steps the round before took.
    int optimalRounds = 1;
};

class LzParser {
  public:
    // searchDepth: how many slots of a ring to look at, newest first (0: all).
    LzParser(bool largeModel, bool insertInner, int searchDepth);
    explicit LzParser(const ParserSettings& settings);

    bool valid() const {
        return rings_.valid() && keys_ && shortKeys_ &&
               (!settings_.optimal || (work_ && work_->valid()));
    }

    // Prices for ranking choices; without a call, PriceTable::Default.
    void SetPrices(const PriceTable& prices) { prices_ = prices; }

    // Parses one block with fresh rings and appends its tokens.
    void ParseBlock(const std::uint8_t* data, std::int32_t size, TokenList& tokens);

    // The parse of ParseBlock when settings.optimal is set (OptimalParser.cpp).
    void ParseBlockOptimal(const std::uint8_t* data, std::int32_t size, TokenList& tokens);

    // Ways to code the bytes at one position, as the optimal parse weighs
    // them: candidate references that no other beats in both length and
    // price (the longest first), and repeat references.
    struct Option {
        std::uint32_t length;  // the longest match through the slot; a repeat's own length
        std::uint16_t price;   // the symbol's price (without a candidate's length)
        std::uint16_t offset;  // the slot's offset from the ring head
    };
    struct Options {
        static constexpr int kCandidates = 6;
        static constexpr int kRepeats = 3;
        std::uint8_t candidates = 0;
        std::uint8_t repeats = 0;
        bool forced = false;  // candidate 0 reaches the nice length: take it
        Option candidate[kCandidates];
        Option repeat[kRepeats];
    };

  private:
    // Work space of the optimal parse: the ways at each position of a chunk
    // and the margin after it, the prices from there to its end, and a copy
    // of the rings (with their keys) to start the chunk's exact pass from.
    // A chunk costs that copy to and fro, a few bytes per byte parsed.
    static constexpr std::int32_t kChunk = 1 << 17;
    static constexpr std::int32_t kMargin = 1 << 12;
    // A way to code the bytes at a position with its price from there on:
    // kind 0 literal, 1 candidate reference, 2 repeat reference.
    struct Way {
        std::uint32_t cost;
        std::uint32_t length;
        std::uint16_t offset;
        std::uint8_t kind;
    };
    struct OptimalWork {
        explicit OptimalWork(std::uint32_t slotCount);
        bool valid() const { return options && toEnd && entries && keys && shortKeys && path; }
        std::unique_ptr<Options[]> options;
        std::unique_ptr<std::uint32_t[]> toEnd;
        std::unique_ptr<ContextRings::Entry[]> entries;
        std::unique_ptr<std::uint32_t[]> keys;
        std::unique_ptr<std::uint16_t[]> shortKeys;
        std::unique_ptr<Way[]> path;  // the steps of a chunk's round, for the next
        std::size_t pathSteps = 0;
    };

    void Collect(std::int32_t pos, std::uint8_t context, std::uint32_t depth, bool oneByte,
                 Options& out) const;
    std::uint32_t RepeatSlot(std::uint8_t context, std::uint32_t offset) const;

    // One way to code the bytes at a position.
    struct Choice {
        std::uint32_t length = 1;
        std::int64_t gain = 0;  // literal cost of the bytes covered less the choice's cost
        Token token{0, 0};
        bool repeat = false;
        std::uint32_t slot = 0;  // ring slot of a repeat reference
    };

    std::uint32_t KeyAt(std::uint32_t position) const;
    void EnterStep(std::int32_t& insertPos, std::int32_t outputPos, std::uint32_t length);
    Choice Best(std::int32_t pos, std::uint8_t context) const;
    std::uint32_t Extend(std::uint32_t from, std::uint32_t at, std::uint32_t matched,
                         std::uint32_t limit) const;

    ParserSettings settings_;
    ContextRings rings_;
    // Per slot, the first four bytes at the slot's position (little-endian),
    // so that a ring is searched with word compares. Sixteen spare entries at
    // the end let the search read whole groups of sixteen.
    std::unique_ptr<std::uint32_t[]> keys_;
    // The first two bytes of each key again, for the two-byte search.
    std::unique_ptr<std::uint16_t[]> shortKeys_;
    std::unique_ptr<OptimalWork> work_;
    PriceTable prices_;
    const std::uint8_t* data_ = nullptr;
    std::uint32_t size_ = 0;
};

}  // namespace qk
