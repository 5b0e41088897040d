// Bit input, symbol and length decoding, against the worked examples of the
// format and against the plain reference form.
#include <gtest/gtest.h>

#include <random>

#include "codec/PrefixDecoder.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::BitWriter;
using test::Bytes;
using test::MemoryStream;

// A code block of all ones: every length 31, the equal-length code.
Bytes OnesBlock(bool large) {
    return Bytes(large ? 880 : 560, 0xFF);
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ConsumeBits, MovesTheWindowAlongTheStream) {
    // After the code block the window holds the first four bytes behind it.
    Bytes data = Concat(OnesBlock(false), test::FromHex("12 34 56 78 9A BC DE F0 11 22"));
    MemoryStream s(data);
    PrefixDecoder d(&s, false);
    EXPECT_EQ(d.window(), 0x12345678u);
    d.ConsumeBits(5);
    EXPECT_EQ(d.window(), 0x468ACF13u);
    d.ConsumeBits(3);
    EXPECT_EQ(d.window(), 0x3456789Au);
    d.ConsumeBits(12);
    EXPECT_EQ(d.window(), 0x6789ABCDu);
    d.ConsumeBits(0);
    EXPECT_EQ(d.window(), 0x6789ABCDu);
}

TEST(ConsumeBits, PastTheEndRepeatsTheFirstByteOfTheLastLoad) {
    // Two full loads, then a last load of three bytes A5 01 02.
    Bytes data = OnesBlock(false);
    data.resize(1024, 0x00);
    data = Concat(data, test::FromHex("A5 01 02"));
    for (int form = 0; form < 2; ++form) {
        MemoryStream s(data);
        PrefixDecoder fast(&s, false);
        MemoryStream s2(data);
        test::ReferencePrefixDecoder plain(&s2, false);
        // The window stands at byte 560; move it to byte 1024.
        for (int i = 560; i < 1024; ++i) {
            fast.ConsumeBits(8);
            plain.ConsumeBits(8);
        }
        EXPECT_EQ(fast.window(), 0xA50102A5u);
        EXPECT_EQ(plain.window, 0xA50102A5u);
        fast.ConsumeBits(16);
        plain.ConsumeBits(16);
        EXPECT_EQ(fast.window(), 0x02A5A5A5u);
        EXPECT_EQ(plain.window, 0x02A5A5A5u);
    }
}

TEST(ConsumeBits, ReadIsAlwaysAskedFor512Bytes) {
    Bytes data = Concat(OnesBlock(false), Bytes(3000, 0x5A));
    MemoryStream s(data, 100);  // short reads
    PrefixDecoder d(&s, false);
    for (int i = 0; i < 500; ++i) d.ConsumeBits(i % 33);
    for (int r : s.requested) EXPECT_EQ(r, 512);
}

TEST(ConsumeBits, AnySplitMatchesThePlainBitStep) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        Bytes data(2000);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        const int chunk = 1 + static_cast<int>(rng() % 600);
        MemoryStream a(data, chunk), b(data, chunk);
        PrefixDecoder fast(&a, round & 1);
        test::ReferencePrefixDecoder plain(&b, round & 1);
        ASSERT_EQ(fast.window(), plain.window);
        for (int i = 0; i < 600; ++i) {
            const unsigned k = rng() % 33;
            fast.ConsumeBits(k);
            plain.ConsumeBits(k);
            ASSERT_EQ(fast.window(), plain.window) << "round " << round << " step " << i;
        }
    }
}

TEST(DecodeSymbol, ShortCodewordsAreDecidedByTheTable) {
    BitWriter w;
    w.Bits("101100001");   // symbol 97
    w.Bits("0101100001");  // symbol 609
    Bytes data = Concat(OnesBlock(false), w.bytes());
    MemoryStream s(data);
    PrefixDecoder d(&s, false);
    EXPECT_EQ(d.DecodeSymbol(), 97);
    EXPECT_EQ(d.DecodeSymbol(), 609);
    EXPECT_FALSE(d.failed());
}

TEST(DecodeLength, DirectAndEscapedValues) {
    BitWriter w;
    w.Bits("1111111 01000 100101100");  // escape, n = 9, 300
    w.Bits("0000101");                  // 5
    w.Bits("1111111 00000 1");          // escape, n = 1, value 1
    w.Bits("1111111 11111");            // escape, n = 32
    w.Field(0xFFFFFFFFu, 32);
    w.Bits("1111111 00011 0011");  // escaped 3, below 127, accepted
    w.Bits("1111110");             // 126
    Bytes data = Concat(OnesBlock(false), w.bytes());
    MemoryStream s(data);
    PrefixDecoder d(&s, false);
    EXPECT_EQ(d.DecodeLength(), 300u);
    EXPECT_EQ(d.DecodeLength(), 5u);
    EXPECT_EQ(d.DecodeLength(), 1u);
    EXPECT_EQ(d.DecodeLength(), 0xFFFFFFFFu);
    EXPECT_EQ(d.DecodeLength(), 3u);
    EXPECT_EQ(d.DecodeLength(), 126u);
    EXPECT_FALSE(d.failed());
}

// A block of all zero lengths cuts the long codewords to 32 bits; a window
// that only such a codeword could match fails, consumes nothing, and keeps
// failing.
TEST(DecodeSymbol, CutCodewordsNeverMatchAndNothingIsConsumed) {
    Bytes data(560, 0x00);
    data.resize(600, 0xFF);  // the window starts with 32 one-bits
    MemoryStream s(data);
    PrefixDecoder d(&s, false);
    const std::uint32_t before = d.window();
    EXPECT_EQ(d.DecodeSymbol(), 0);
    EXPECT_TRUE(d.failed());
    EXPECT_EQ(d.window(), before);
    EXPECT_EQ(d.DecodeSymbol(), 0);
    EXPECT_EQ(d.DecodeLength(), 0u);
    EXPECT_EQ(d.window(), before);
}

// Random code-length blocks (complete or not) and random data: every symbol,
// length and failure of the fast form equals the plain form's.
TEST(PrefixDecoder, RandomBlocksDecodeLikeThePlainForm) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const bool large = round & 1;
        Bytes data(4000);
        const int style = round % 5;
        for (std::size_t i = 0; i < data.size(); ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(rng());
            if (i < 900 && style == 1) b = static_cast<std::uint8_t>(b & 0x8C);  // short lengths
            if (i < 900 && style == 2) b = static_cast<std::uint8_t>(b | 0x42);
            data[i] = b;
        }
        MemoryStream a(data), b(data);
        PrefixDecoder fast(&a, large);
        test::ReferencePrefixDecoder plain(&b, large);
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

}  // namespace
}  // namespace qk
