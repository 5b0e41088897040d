// Streams that run past the end of their data. The format lets the decoder
// read on with filler bytes (copies of the first byte of the last load); a
// valid stream only pulls them into its look-ahead. The production decoder
// follows the plain form exactly while it has invented no more than 64 such
// bytes, and past that refuses to decode another symbol, so that a header that
// claims a huge block over a tiny stream ends at once instead of filling the
// block with whatever the repeated byte decodes to.
#include <gtest/gtest.h>

#include <vector>

#include "codec/LzDecoder.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using test::MemoryStream;

// Under the code of an all-ones code block (every length 31, 256 slots) a
// literal c is the 10 bits 01cccccccc, so the repeated byte 0x55 decodes to the
// literal 'U' (0x55) for ever: the worst case, a stream that never fails by
// itself. The data is the block, then `body` bytes of 0x55, padded so that the
// last load of 512 bytes starts with 0x55 and the filler is 0x55 too.
Bytes EndlessLiterals(std::size_t body) {
    Bytes data(560, 0xFF);
    data.resize(1024 + body, 0x55);
    return data;
}

// Literals the real data holds: every whole 10 bits after the code block.
std::int32_t RealLiterals(const Bytes& data) {
    return static_cast<std::int32_t>((data.size() - 560) * 8 / 10);
}

TEST(StreamEnd, FarPastTheEndTheBlockEndsWithResult2) {
    const Bytes data = EndlessLiterals(40);
    MemoryStream input(data);
    LzDecoder fast(&input, false, false);
    constexpr std::int32_t kClaimed = 1 << 24;
    Bytes out(kClaimed);
    fast.Reset(out.data(), kClaimed);

    EXPECT_EQ(fast.Decode(kClaimed), LzDecoder::kBadReference);
    // Everything the data holds, and no more than the 64 filler bytes allowed.
    EXPECT_GE(fast.outputPos(), RealLiterals(data));
    EXPECT_LE(fast.outputPos(), RealLiterals(data) + 64 * 8 / 10 + 1);
    // Three loads of data, then one Read per filler byte until the allowance.
    EXPECT_LE(input.reads, 3 + 65);

    // The stream stays ended: later calls and later blocks fail at once
    // without asking for more input.
    const int reads = input.reads;
    const std::int32_t reached = fast.outputPos();
    EXPECT_EQ(fast.Decode(kClaimed), LzDecoder::kBadReference);
    EXPECT_EQ(fast.outputPos(), reached);
    fast.Reset(out.data(), 10);
    EXPECT_EQ(fast.Decode(10), LzDecoder::kBadReference);
    EXPECT_EQ(fast.outputPos(), 0);
    fast.Reset(out.data(), 0);
    EXPECT_EQ(fast.Decode(0), LzDecoder::kBadReference);  // failed() is set
    EXPECT_EQ(input.reads, reads);

    // Up to where it stopped, the bytes are the plain form's.
    MemoryStream again(data);
    test::ReferenceLzDecoder plain(&again, false, false);
    Bytes expected(kClaimed);
    plain.Reset(expected.data(), kClaimed);
    EXPECT_EQ(plain.Decode(reached), 0);
    ASSERT_EQ(plain.outputPos, reached);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + reached, expected.begin()));
}

// A damaged stream that consumes some filler but stays within the allowance
// decodes exactly as the format says, whatever the chunking of the input.
TEST(StreamEnd, WithinTheAllowanceTheFormatsFillerIsKept) {
    for (int fillerLiterals : {1, 20, 40}) {
        for (int chunk : {512, 100, 1}) {
            const Bytes data = EndlessLiterals(17);
            const std::int32_t size = RealLiterals(data) + fillerLiterals;
            MemoryStream a(data, chunk), b(data, chunk);
            LzDecoder fast(&a, false, false);
            test::ReferenceLzDecoder plain(&b, false, false);
            Bytes x(size), y(size);
            fast.Reset(x.data(), size);
            plain.Reset(y.data(), size);
            EXPECT_EQ(fast.Decode(size), 0) << fillerLiterals << " " << chunk;
            EXPECT_EQ(plain.Decode(size), 0);
            EXPECT_EQ(fast.outputPos(), size);
            EXPECT_EQ(x, y);
        }
    }
}

// Found while fuzzing the first form of the rule: the stream may end inside
// the ConsumeBits of a symbol that was just matched, and that symbol must still
// be delivered. Symbol by symbol against the plain form, for several filler
// bytes and chunkings, until the production decoder gives up.
TEST(StreamEnd, TheSymbolMatchedAsTheStreamEndsIsDelivered) {
    for (std::uint8_t filler : {0x55, 0x00, 0xA7, 0x3C}) {
        for (int chunk : {512, 7}) {
            Bytes data(560, 0xFF);
            data.resize(1024 + 3, filler);
            MemoryStream a(data, chunk), b(data, chunk);
            PrefixDecoder fast(&a, false);
            test::ReferencePrefixDecoder plain(&b, false);
            int agreed = 0;
            for (;;) {
                const std::uint16_t s = fast.DecodeSymbol();
                const std::uint16_t p = plain.DecodeSymbol();
                if (s >= fast.symbolCount()) break;
                ASSERT_EQ(s, p) << "filler " << int{filler} << " symbol " << agreed;
                ASSERT_EQ(fast.window(), plain.window);
                if (s < 256) {  // a candidate reference: its length follows
                    ASSERT_EQ(fast.DecodeLength(), plain.DecodeLength());
                }
                ASSERT_LT(++agreed, 2000) << "the stream never ended";
            }
            EXPECT_TRUE(fast.failed());
            // Symbols of 9 to 10 bits and lengths of up to 44 bits over 467
            // bytes of data and 64 of filler: the whole data was decoded.
            EXPECT_GE(agreed, 467 * 8 / 54);
        }
    }
}

// A stream without a single byte.
class EmptyStream : public InputStream {
  public:
    int Read(std::uint8_t*, int) override { return 0; }
};

// With no data at all even the code block is filler. The decoder is still
// usable: empty blocks complete, and the first symbol fails.
TEST(StreamEnd, AnEmptyStreamDecodesOnlyEmptyBlocks) {
    for (bool large : {false, true}) {
        EmptyStream input;
        LzDecoder lz(&input, true, large);
        ASSERT_TRUE(lz.valid());
        Bytes out(16);
        lz.Reset(out.data(), 0);
        EXPECT_EQ(lz.Decode(0), LzDecoder::kDone);
        lz.Reset(out.data(), 16);
        EXPECT_EQ(lz.Decode(16), LzDecoder::kBadReference);
        EXPECT_EQ(lz.outputPos(), 0);
    }
}

}  // namespace
}  // namespace qk
