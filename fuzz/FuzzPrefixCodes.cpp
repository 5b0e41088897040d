// The prefix-code set-up from arbitrary code-length blocks, then a run of
// symbol, length and bit operations, each checked against the plain reference
// form: the codes the plain construction builds from the lengths read,
// identical results, failure flags and windows. The code built from any block
// must also be what the format promises: a complete prefix code, and for a
// complete set of lengths exactly the lengths read.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "codec/PrefixDecoder.h"
#include "support/ReferenceDecoder.h"

namespace {

using qk::CodeModel;

void CheckSameModel(const CodeModel& fast, const std::uint32_t* read) {
    const qk::test::PlainCode plain =
        qk::test::BuildPlainCode(std::vector<std::uint32_t>(read, read + fast.count));
    for (int i = 0; i < fast.count; ++i) {
        QK_FUZZ_CHECK(fast.codes[i] == plain.codes[i]);
        QK_FUZZ_CHECK(fast.lengths[i] == plain.lengths[i]);
    }
}

// Sorted by codeword, the codewords of a complete prefix code tile the code
// space: each one starts where the one before it ends, the first at 0 and the
// last ending at 2^32. Codewords longer than 32 bits are cut and cannot be
// checked this way; the tiling is checked up to the first of them.
void CheckComplete(const qk::SortedCode* sorted, int count) {
    std::uint64_t next = 0;
    for (int i = 0; i < count; ++i) {
        if (sorted[i].length > 32) return;
        QK_FUZZ_CHECK(sorted[i].length >= 1);
        QK_FUZZ_CHECK(sorted[i].code == static_cast<std::uint32_t>(next));
        next += std::uint64_t{1} << (32 - sorted[i].length);
    }
    QK_FUZZ_CHECK(next == std::uint64_t{1} << 32);
}

// For a complete set of lengths (all at least 1, Kraft sum exactly 1) every
// symbol gets the length read.
void CheckLengthsKept(const CodeModel& model, const std::uint32_t* read) {
    std::uint64_t kraft = 0;
    for (int i = 0; i < model.count; ++i) {
        if (read[i] == 0) return;
        kraft += std::uint64_t{1} << (31 - read[i]);
    }
    if (kraft != std::uint64_t{1} << 31) return;
    for (int i = 0; i < model.count; ++i) QK_FUZZ_CHECK(model.lengths[i] == read[i]);
}

// The lengths a block gives, read straight from the stream bytes.
void ReadLengths(const std::uint8_t* stream, std::size_t size, int first, int count,
                 std::uint32_t* out) {
    for (int i = 0; i < count; ++i) {
        std::uint32_t v = 0;
        for (int b = 0; b < 5; ++b) {
            const std::size_t bit = static_cast<std::size_t>(first + i) * 5 + b;
            const std::uint8_t byte = bit / 8 < size ? stream[bit / 8] : 0;
            v = (v << 1) | ((byte >> (7 - bit % 8)) & 1);
        }
        out[i] = v;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool large = data[0] & 1;
    const int chunkLimit = qk::fuzz::ChunkLimit(data[0] >> 1);
    const std::size_t opCount = data[1];
    if (size < 2 + opCount) return 0;
    const std::uint8_t* ops = data + 2;
    const std::uint8_t* stream = ops + opCount;
    const std::size_t streamSize = size - 2 - opCount;

    qk::fuzz::ByteStream fastInput(stream, streamSize, chunkLimit);
    qk::fuzz::ByteStream plainInput(stream, streamSize, chunkLimit);
    qk::PrefixDecoder fast(&fastInput, large);
    QK_FUZZ_CHECK(fast.valid());
    qk::test::ReferencePrefixDecoder plain(&plainInput, large);

    const int symbols = fast.symbolCount();
    QK_FUZZ_CHECK(symbols == (large ? 1280 : 768));
    QK_FUZZ_CHECK(fast.window() == plain.window);
    CheckComplete(fast.sortedCodes(), symbols);
    // Past its end the stream repeats a byte of the last read; the lengths
    // read from the bytes themselves are compared only where the block is whole.
    const bool wholeBlock = streamSize * 8 >= static_cast<std::size_t>(symbols + 128) * 5;
    std::uint32_t read[1280];
    ReadLengths(stream, streamSize, 0, symbols, read);
    if (wholeBlock) CheckSameModel(fast.symbolModel(), read);
    CheckLengthsKept(fast.symbolModel(), read);
    ReadLengths(stream, streamSize, symbols, 128, read);
    if (wholeBlock) CheckSameModel(fast.lengthModel(), read);
    CheckLengthsKept(fast.lengthModel(), read);

    // Each operation byte: 0-1 a symbol, 2 a length, 3 ConsumeBits(byte >> 2 mod 33).
    for (std::size_t i = 0; i < opCount; ++i) {
        const std::uint8_t op = ops[i];
        switch (op & 3) {
            case 0:
            case 1: {
                const bool farPastEnd = plainInput.fillerReads > qk::fuzz::kGiveUpBytes;
                const std::uint16_t a = fast.DecodeSymbol();
                const std::uint16_t b = plain.DecodeSymbol();
                if (farPastEnd) QK_FUZZ_CHECK(a >= symbols);
                if (a >= symbols) {
                    // The production decoder has given up on a stream that has
                    // run far past its end; the plain form runs on.
                    QK_FUZZ_CHECK(fastInput.fillerReads > qk::fuzz::kLookAheadBytes);
                    QK_FUZZ_CHECK(fast.failed());
                    return 0;
                }
                QK_FUZZ_CHECK(a == b);
                break;
            }
            case 2:
                QK_FUZZ_CHECK(fast.DecodeLength() == plain.DecodeLength());
                break;
            default: {
                const unsigned k = (op >> 2) % 33;
                fast.ConsumeBits(k);
                plain.ConsumeBits(k);
                break;
            }
        }
        QK_FUZZ_CHECK(fast.failed() == (plain.failed != 0));
        QK_FUZZ_CHECK(fast.window() == plain.window);
    }
    return 0;
}
