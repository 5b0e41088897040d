#include "codec/PrefixDecoder.h"

#include <algorithm>
#include <new>

namespace qk {

namespace {

// Past the end of its data the stream runs on with invented filler bytes (see
// NextByte). A well-formed stream never consumes one: they only fill the
// look-ahead, which reaches at most 8 bytes beyond the last consumed bit. A
// stream that has needed more than this many has been decoding bytes the
// archive does not hold for at least 56 of them; the decoder then gives up
// instead of running on, for as long as a header's claimed size asks, over a
// stream that can only repeat one byte.
constexpr std::uint16_t kFillerAllowance = 64;

// What DecodeSymbol returns once the stream has ended: a value outside every
// alphabet (at most 1280 symbols), with failed() set.
constexpr std::uint16_t kStreamEnded = 0xFFFF;

// True once more filler bytes than the allowance have been handed out: the
// input counters hold no data (count 0) and the position has counted past it.
bool StreamEnded(std::uint16_t inCount, std::uint16_t inPos) {
    return inCount == 0 && inPos > kFillerAllowance;
}

// Sends every window prefix of the symbol table to the search, which then
// fails at once. The decoding path itself stays as it is, so the end of the
// stream costs nothing per symbol.
template <typename Entry, std::size_t N>
void SendAllToSearch(Entry (&table)[N]) {
    for (Entry& e : table) e.length = 0;
}

}  // namespace

PrefixDecoder::PrefixDecoder(InputStream* input, bool largeModel)
    : symbolModel_(largeModel ? 1280 : 768),
      lengthModel_(kLengthSymbols),
      sortedCodes_(new (std::nothrow) SortedCode[largeModel ? 1280 : 768]),
      input_(input) {
    const int n = input_->Read(inBuf_, kInputChunk);
    inCount_ = static_cast<std::uint16_t>(n);
    inPos_ = 0;
    valid_ = symbolModel_.valid() && lengthModel_.valid() && sortedCodes_;
    if (valid_) LoadCodeTables();
}

// The next byte of the stream. Past the end of the data the stream does not
// fail: each further byte is the first byte of the last chunk that held data
// (Read is asked again every time). Well-formed streams only ever pull such
// bytes into the look-ahead, never consume them.
//
// While inCount_ is 0, inPos_ counts the filler bytes handed out since the data
// ended. Past the allowance the stream has ended for good: Read is no longer
// asked, and every symbol-table entry is sent to SearchSymbol, which fails.
// Only the lengths of the entries change, so a DecodeSymbol whose own
// ConsumeBits gets here still returns the symbol it has just matched.
std::uint8_t PrefixDecoder::NextByte() {
    if (inCount_ <= inPos_) {
        if (StreamEnded(inCount_, inPos_)) return inBuf_[0];
        const bool hadData = inCount_ != 0;
        inCount_ = static_cast<std::uint16_t>(input_->Read(inBuf_, kInputChunk));
        if (inCount_ == 0) {
            if (hadData) inPos_ = 0;
            ++inPos_;
            if (StreamEnded(inCount_, inPos_)) SendAllToSearch(symbolTable_);
            return inBuf_[0];
        }
        inPos_ = 0;
    }
    return inBuf_[inPos_++];
}

// Tops the look-ahead up to at least 57 bits, so that any ConsumeBits(k <= 32)
// that follows still leaves 32 real bits for the window.
void PrefixDecoder::Refill() {
    while (aheadBits_ <= 56) {
        ahead_ |= static_cast<std::uint64_t>(NextByte()) << (56 - aheadBits_);
        aheadBits_ += 8;
    }
}

// Reads the 5-bit lengths of both alphabets and builds the codes. The block is
// 896 (or 1408) fields, a whole number of bytes, so coded data starts aligned.
void PrefixDecoder::LoadCodeTables() {
    Refill();
    window_ = static_cast<std::uint32_t>(ahead_ >> 32);
    for (int i = 0; i < symbolModel_.count; ++i) {
        symbolModel_.nodes[i].depth = window_ >> 27;
        ConsumeBits(5);
    }
    for (int i = 0; i < kLengthSymbols; ++i) {
        lengthModel_.nodes[i].depth = window_ >> 27;
        ConsumeBits(5);
    }
    BuildCode(symbolModel_);
    BuildCode(lengthModel_);
    BuildSymbolTables();
    BuildPairs();
    BuildLengthTable();
    // A stream too short for its own code block may have ended already.
    if (StreamEnded(inCount_, inPos_)) SendAllToSearch(symbolTable_);
}

void PrefixDecoder::BuildSymbolTables() {
    const int n = symbolModel_.count;
    SortedCode* sorted = sortedCodes_.get();
    for (int i = 0; i < n; ++i) {
        sorted[i] = {symbolModel_.codes[i], symbolModel_.lengths[i], static_cast<std::uint16_t>(i)};
    }
    // Codewords cut to 32 bits may be equal; the symbol breaks the tie.
    std::sort(sorted, sorted + n, [](const SortedCode& a, const SortedCode& b) {
        if (a.code != b.code) return a.code < b.code;
        return a.symbol < b.symbol;
    });

    // firstIndex: the first position, other than 0, whose codeword starts with
    // each 12-bit prefix; position 0 for prefix 0; a prefix no codeword starts
    // with inherits from the prefix below, which is the short codeword covering it.
    constexpr int kSlots = 1 << kFirstIndexBits;
    std::fill(firstIndex_, firstIndex_ + kSlots, kNoNode);
    for (int i = n - 1; i >= 1; --i) {
        firstIndex_[sorted[i].code >> (32 - kFirstIndexBits)] = static_cast<std::uint16_t>(i);
    }
    firstIndex_[0] = 0;
    for (int p = 1; p < kSlots; ++p) {
        if (firstIndex_[p] == kNoNode) firstIndex_[p] = firstIndex_[p - 1];
    }

    // The decoding rule: the entry a 12-bit prefix names decides the symbol by
    // itself when its codeword is shorter than 12 bits; otherwise the search
    // starts there. The table goes two bits further: a codeword of 12 to 14
    // bits is the one codeword the search would find for every window that
    // starts with it (the code is prefix-free, and the search passes over all
    // codewords of its 12-bit prefix), so its prefixes name it directly.
    constexpr int kWide = 1 << kSymbolTableBits;
    constexpr int kExtra = kSymbolTableBits - kFirstIndexBits;
    for (int p = 0; p < kWide; ++p) {
        const std::uint16_t start = firstIndex_[p >> kExtra];
        const SortedCode& s = sorted[start];
        if (s.length < kFirstIndexBits) {
            symbolTable_[p] = {s.symbol, static_cast<std::uint8_t>(s.length), 0};
        } else {
            symbolTable_[p] = {start, 0, 0};
        }
    }
    for (int i = 0; i < n; ++i) {
        const unsigned length = sorted[i].length;
        if (length < kFirstIndexBits || length > kSymbolTableBits) continue;
        const std::uint32_t first = sorted[i].code >> (32 - kSymbolTableBits);
        for (std::uint32_t p = first; p < first + (1u << (kSymbolTableBits - length)); ++p)
            symbolTable_[p] = {sorted[i].symbol, static_cast<std::uint8_t>(length), 0};
    }
}

// Pair entries: where a window prefix decides a literal of l1 bits, and the
// bits after it within the same 14 decide another literal by themselves (its
// codeword of l2 <= 14 - l1 bits lies wholly inside them), one read decides
// both. The second codeword is looked up as a window of its own would be:
// prefix p shifted left by l1, the unknown bits below zero. The code is
// prefix-free, so an entry of l2 bits is the same for every value of the
// bits below its codeword; the lookup with those bits all ones must agree,
// which the construction checks rather than assumes.
void PrefixDecoder::BuildPairs() {
    const unsigned firstLiteral = static_cast<unsigned>(symbolModel_.count) - 256;
    constexpr unsigned kMask = (1u << kSymbolTableBits) - 1;
    struct Single {
        unsigned symbol, length;
    };
    // A pair entry still names its first codeword, so the order in which
    // entries become pairs does not matter.
    auto single = [this](unsigned p) -> Single {
        const SymbolEntry& e = symbolTable_[p];
        if (e.symbol >= kPairFlag)
            return {static_cast<unsigned>(symbolModel_.count) - 256 + (e.symbol & 0xFFu),
                    (e.symbol >> 8) & 15u};
        return {e.symbol, e.length};
    };
    for (unsigned p = 0; p <= kMask; ++p) {
        const Single first = single(p);
        if (first.length == 0 || first.length >= kSymbolTableBits || first.symbol < firstLiteral)
            continue;
        const unsigned q = (p << first.length) & kMask;
        const Single second = single(q);
        const Single high = single(q | ((1u << first.length) - 1));
        if (second.length == 0 || second.symbol < firstLiteral ||
            first.length + second.length > kSymbolTableBits || high.symbol != second.symbol ||
            high.length != second.length)
            continue;
        symbolTable_[p] = {static_cast<std::uint16_t>(kPairFlag | (first.length << 8) |
                                                      (first.symbol - firstLiteral)),
                           static_cast<std::uint8_t>(first.length + second.length),
                           static_cast<std::uint8_t>(second.symbol - firstLiteral)};
    }
}

void PrefixDecoder::BuildLengthTable() {
    // The code is prefix-free, so at most one codeword of up to 12 bits covers
    // a 12-bit prefix.
    std::fill(lengthTable_, lengthTable_ + (1 << kLengthTableBits), LengthEntry{0, 0});
    for (int i = 0; i < kLengthSymbols; ++i) {
        const unsigned length = lengthModel_.lengths[i];
        if (length == 0 || length > kLengthTableBits) continue;
        const std::uint32_t first = lengthModel_.codes[i] >> (32 - kLengthTableBits);
        const std::uint32_t span = 1u << (kLengthTableBits - length);
        for (std::uint32_t p = first; p < first + span; ++p) {
            lengthTable_[p] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(length)};
        }
    }
}

// True when the window starts with `code` of `length` bits. A codeword longer
// than 32 bits was cut when built and can never be matched.
bool PrefixDecoder::Matches(std::uint32_t code, unsigned length) const {
    if (length == 0 || length > 32) return false;
    return ((code ^ window_) >> (32 - length)) == 0;
}

std::uint16_t PrefixDecoder::SearchSymbol(std::uint16_t start) {
    if (StreamEnded(inCount_, inPos_)) {
        failed_ = 1;
        return kStreamEnded;
    }
    const SortedCode* sorted = sortedCodes_.get();
    for (int i = start; i < symbolModel_.count; ++i) {
        if (Matches(sorted[i].code, sorted[i].length)) {
            ConsumeBits(sorted[i].length);
            return sorted[i].symbol;
        }
    }
    failed_ = 1;
    return 0;
}

// A length whose codeword is longer than the table's 12 bits.
std::uint32_t PrefixDecoder::DecodeLongLength() {
    unsigned symbol = kLengthSymbols;
    for (unsigned i = 0; i < kLengthSymbols; ++i) {
        if (Matches(lengthModel_.codes[i], lengthModel_.lengths[i])) {
            symbol = i;
            break;
        }
    }
    if (symbol == kLengthSymbols) {
        failed_ = 1;
        return 0;
    }
    ConsumeBits(lengthModel_.lengths[symbol]);
    return symbol != kLengthSymbols - 1 ? symbol : ReadEscapedLength();
}

// The value behind an escape codeword: a 5-bit size field n-1, then n bits.
std::uint32_t PrefixDecoder::ReadEscapedLength() {
    const unsigned n = (window_ >> 27) + 1;
    ConsumeBits(5);
    const std::uint32_t value = window_;
    ConsumeBits(n);
    return n == 32 ? value : value >> (32 - n);
}

}  // namespace qk
