// Bit input and prefix decoding against worked examples of the format and
// against the plain form, and streams that run past the end of their data.
// Past its end the stream goes on with filler (the first byte of the last
// load); a valid stream only pulls it into the look-ahead. The production
// decoder follows the plain form while it has invented no more than 64
// filler bytes, and then refuses to decode another symbol, so that a huge
// claimed block over a tiny stream ends at once.
#include <gtest/gtest.h>

#include <random>

#include "codec/LzDecoder.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using test::MemoryStream;

// After a code block of all ones (every length 31: a length symbol is its
// number in 7 bits) the window holds the first four bytes behind it. Past
// the end, after two loads of 512 bytes, the filler is A5 of A5 01 02.
TEST(ConsumeBits, MovesTheWindowAlongTheStreamAndPastItsEnd) {
    Bytes data(560, 0xFF);
    for (std::uint8_t b : test::FromHex("12 34 56 78 9A BC DE F0 11 22")) data.push_back(b);
    data.resize(1024, 0x00);
    data.insert(data.end(), {0xA5, 0x01, 0x02});
    MemoryStream a(data), b(data);
    PrefixDecoder fast(&a, false);
    test::ReferencePrefixDecoder plain(&b, false);
    const std::pair<unsigned, std::uint32_t> steps[] = {
        {0, 0x12345678u},  {5, 0x468ACF13u},    {3, 0x3456789Au}, {12, 0x6789ABCDu},
        {32, 0xEF011220u}, {3660, 0xA50102A5u}, {16, 0x02A5A5A5u}};
    for (auto [bits, window] : steps) {
        for (; bits > 0; bits -= std::min(bits, 32u))
            fast.ConsumeBits(std::min(bits, 32u)), plain.ConsumeBits(std::min(bits, 32u));
        EXPECT_EQ(fast.window(), window);
        EXPECT_EQ(plain.window, window);
    }
}

// Any split into steps of 0 to 32 bits, over input in short reads: the
// window of the plain form, and every Read asked for 512 bytes (a scrambling
// key restarts at each read and cycles every four).
TEST(ConsumeBits, AnySplitOfShortReadsMatchesThePlainForm) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        Bytes data(2000);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        const int chunk = 1 + static_cast<int>(rng() % 600);
        MemoryStream a(data, chunk), b(data, chunk);
        PrefixDecoder fast(&a, round & 1);
        test::ReferencePrefixDecoder plain(&b, round & 1);
        for (int i = 0; i < 600; ++i) {
            ASSERT_EQ(fast.window(), plain.window) << "round " << round << " step " << i;
            const unsigned k = rng() % 33;
            fast.ConsumeBits(k);
            plain.ConsumeBits(k);
        }
        for (int r : a.requested) ASSERT_EQ(r, 512);
    }
}

TEST(DecodeLength, DirectAndEscapedValues) {
    test::BitWriter w;
    w.Bits("1111111 01000 100101100 0000101 1111110");  // escape, n = 9: 300; then 5, 126
    w.Bits("1111111 00000 1 1111111 11111");            // escape, n = 1: 1; escape, n = 32
    w.Field(0xFFFFFFFFu, 32);
    w.Bits("1111111 00011 0011");  // an escaped 3, below 127, is taken as it is
    Bytes data(560, 0xFF);
    for (std::uint8_t b : w.bytes()) data.push_back(b);
    MemoryStream s(data);
    PrefixDecoder d(&s, false);
    for (std::uint32_t expected : {300u, 5u, 126u, 1u, 0xFFFFFFFFu, 3u})
        EXPECT_EQ(d.DecodeLength(), expected);
    EXPECT_FALSE(d.failed());
}

// Random code blocks (complete or not, short lengths or long, zeros giving
// codewords past 32 bits that never match) and random data: every symbol,
// length, failure and window as in the plain form.
TEST(PrefixDecoder, RandomBlocksDecodeLikeThePlainForm) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        Bytes data(4000);
        for (std::size_t i = 0; i < data.size(); ++i) {
            const auto b = static_cast<std::uint8_t>(rng());
            const int style = i < 900 ? round % 5 : 0;
            data[i] = style == 1 ? b & 0x8C : style == 2 ? b | 0x42 : style == 3 ? 0 : b;
        }
        MemoryStream a(data), b(data);
        PrefixDecoder fast(&a, round & 1);
        test::ReferencePrefixDecoder plain(&b, round & 1);
        for (int i = 0; i < 2000; ++i) {
            if (rng() % 3 == 0) {
                ASSERT_EQ(fast.DecodeLength(), plain.DecodeLength()) << round << "/" << i;
            } else {
                ASSERT_EQ(fast.DecodeSymbol(), plain.DecodeSymbol()) << round << "/" << i;
            }
            ASSERT_EQ(fast.failed(), plain.failed != 0);
            ASSERT_EQ(fast.window(), plain.window);
        }
    }
}

// Under the code of an all-ones block a literal c is the 10 bits 01cccccccc,
// so 0x55 bytes decode to 'U' for ever: a stream that never fails by itself.
// 40 such bytes after the block, padded so that the last load starts with
// 0x55 and the filler is 0x55 too; 403 literals in the real data.
TEST(StreamEnd, FarPastTheEndTheBlockEndsWithResult2) {
    Bytes data(560, 0xFF);
    data.resize(1024 + 40, 0x55);
    constexpr std::int32_t kClaimed = 1 << 24, kReal = (1064 - 560) * 8 / 10;
    for (int chunk : {512, 100, 1}) {
        MemoryStream input(data, chunk), again(data, chunk);
        LzDecoder fast(&input, false, false);
        test::ReferenceLzDecoder plain(&again, false, false);
        Bytes out(kClaimed), expected(kClaimed);
        fast.Reset(out.data(), kClaimed);
        EXPECT_EQ(fast.Decode(kClaimed), LzDecoder::kBadReference);
        // All the data holds and no more than the 64 filler bytes allowed,
        // which decode as the plain form decodes them.
        const std::int32_t reached = fast.outputPos();
        EXPECT_GE(reached, kReal);
        EXPECT_LE(reached, kReal + 64 * 8 / 10 + 1);
        plain.Reset(expected.data(), kClaimed);
        EXPECT_EQ(plain.Decode(reached), 0);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + reached, expected.begin()));
        // One Read per filler byte; then the stream stays ended: later calls
        // and blocks fail at once, without asking for more.
        const int reads = input.reads;
        EXPECT_LE(reads - input.endReads, (1064 + chunk - 1) / chunk);
        EXPECT_LE(input.endReads, 65);
        EXPECT_EQ(fast.Decode(kClaimed), LzDecoder::kBadReference);
        EXPECT_EQ(fast.outputPos(), reached);
        fast.Reset(out.data(), 10);
        EXPECT_EQ(fast.Decode(10), LzDecoder::kBadReference);
        EXPECT_EQ(fast.outputPos(), 0);
        EXPECT_EQ(input.reads, reads);
    }
}

// The stream may end inside the ConsumeBits of a symbol just matched, which
// must still be delivered: symbol by symbol against the plain form, for
// several fillers and chunkings, until the production decoder gives up, which
// is only after the whole data (symbols of 9 or 10 bits and lengths of up to
// 44 bits over 467 bytes).
TEST(StreamEnd, TheSymbolMatchedAsTheStreamEndsIsDelivered) {
    for (std::uint8_t filler : {0x55, 0x00, 0xA7, 0x3C}) {
        for (int chunk : {512, 7}) {
            Bytes data(560, 0xFF);
            data.resize(1024 + 3, filler);
            MemoryStream a(data, chunk), b(data, chunk);
            PrefixDecoder fast(&a, false);
            test::ReferencePrefixDecoder plain(&b, false);
            int agreed = 0;
            for (std::uint16_t s; (s = fast.DecodeSymbol()) < fast.symbolCount(); ++agreed) {
                ASSERT_EQ(s, plain.DecodeSymbol())
                    << "filler " << int{filler} << " symbol " << agreed;
                ASSERT_EQ(fast.window(), plain.window);
                if (s < 256) {  // a candidate reference: its length follows
                    ASSERT_EQ(fast.DecodeLength(), plain.DecodeLength());
                }
                ASSERT_LT(agreed, 2000) << "the stream never ended";
            }
            EXPECT_TRUE(fast.failed());
            EXPECT_GE(agreed, 467 * 8 / 54);
        }
    }
}

// A stream shorter than its own code block has run far into its filler
// before the first symbol: it decodes nothing, whatever the filler would
// decode to, and empty blocks still complete.
TEST(StreamEnd, AStreamShorterThanItsCodeBlockDecodesNothing) {
    for (const std::size_t length : {0, 1, 100, 400}) {
        for (const std::uint8_t byte : {0x55, 0xFF, 0x00, 0x3C}) {
            for (bool large : {false, true}) {
                MemoryStream input(Bytes(length, byte));
                LzDecoder lz(&input, true, large);
                Bytes out(4096);
                lz.Reset(out.data(), 0);
                EXPECT_EQ(lz.Decode(0), LzDecoder::kDone);
                lz.Reset(out.data(), 4096);
                EXPECT_EQ(lz.Decode(4096), LzDecoder::kBadReference) << length << " " << int{byte};
                EXPECT_EQ(lz.outputPos(), 0) << length << " " << int{byte};
            }
        }
    }
}

}  // namespace
}  // namespace qk
