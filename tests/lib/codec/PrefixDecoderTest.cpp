// Prefix decoding against the plain form, and streams that run past the end
// of their data. Past its end the stream goes on with filler (the first byte
// of the last load); a valid stream only pulls it into the look-ahead. The
// production decoder follows the plain form while it has invented no more
// than 64 filler bytes, then refuses to decode another symbol, so that a huge
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

// Random code blocks (complete or not, short lengths or long, zeros giving
// codewords past 32 bits that never match) over input in short reads: every
// symbol, length, failure and window after steps of 0 to 32 bits as in the
// plain form, and every Read asked for 512 bytes (a key cycles every four).
TEST(PrefixDecoder, RandomBlocksAndStepsDecodeLikeThePlainForm) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        Bytes data(4000);
        for (std::size_t i = 0; i < data.size(); ++i) {
            const auto b = static_cast<std::uint8_t>(rng());
            const int style = i < 900 ? round % 5 : 0;
            data[i] = style == 1 ? b & 0x8C : style == 2 ? b | 0x42 : style == 3 ? 0 : b;
        }
        const int chunk = 1 + static_cast<int>(rng() % 600);
        MemoryStream a(data, chunk), b(data, chunk);
        PrefixDecoder fast(&a, round & 1);
        test::ReferencePrefixDecoder plain(&b, round & 1);
        for (int i = 0; i < 2000; ++i) {
            const unsigned op = rng() % 4, k = rng() % 33;
            std::uint32_t got = 0, expected = 0;
            if (op == 0) fast.ConsumeBits(k), plain.ConsumeBits(k);
            if (op == 1) got = fast.DecodeLength(), expected = plain.DecodeLength();
            if (op > 1) got = fast.DecodeSymbol(), expected = plain.DecodeSymbol();
            ASSERT_EQ(got, expected) << round << "/" << i;
            ASSERT_EQ(fast.failed(), plain.failed);
            ASSERT_EQ(fast.window(), plain.window);
        }
        for (int r : a.requested) ASSERT_EQ(r, 512);
    }
}

// Streams that never fail by themselves: under the code of an all-ones block
// 0x55 bytes decode to the literal 'U' for ever, the filler too (403 literals
// in the real data); and streams shorter than their own code block, which
// decode nothing whatever the filler would decode to. Each ends in result 2,
// having decoded no more than the 64 filler bytes allowed, as the plain form
// decodes them, in one Read per filler byte; then it stays ended: later calls
// and blocks fail at once without asking for more. Empty blocks complete.
TEST(StreamEnd, PastTheEndABlockEndsWithResult2) {
    struct Row {
        int ones, size;
        std::uint8_t byte;
        int chunk;
        bool large;
        std::int32_t least, most;
    };
    std::vector<Row> rows;
    for (int chunk : {512, 100, 1}) rows.push_back({560, 1064, 0x55, chunk, false, 403, 455});
    for (int size : {0, 1, 100, 400})
        for (std::uint8_t byte : {0x55, 0xFF, 0x00, 0x3C})
            for (bool large : {false, true}) rows.push_back({0, size, byte, 512, large, 0, 0});
    constexpr std::int32_t kClaimed = 1 << 24;
    Bytes out(kClaimed), expected(kClaimed);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.size << " bytes " << int{row.byte} << " in reads of "
                                        << row.chunk << (row.large ? ", large" : ""));
        Bytes data(row.ones, 0xFF);
        data.resize(row.size, row.byte);
        MemoryStream input(data, row.chunk), again(data, row.chunk);
        LzDecoder fast(&input, true, row.large);
        test::ReferenceLzDecoder plain(&again, true, row.large);
        fast.Reset(out.data(), 0);
        EXPECT_EQ(fast.Decode(0), LzDecoder::kDone);
        fast.Reset(out.data(), kClaimed);
        EXPECT_EQ(fast.Decode(kClaimed), LzDecoder::kBadReference);
        const std::int32_t reached = fast.outputPos();
        EXPECT_GE(reached, row.least);
        EXPECT_LE(reached, row.most);
        plain.Reset(expected.data(), kClaimed);
        EXPECT_EQ(plain.Decode(reached), 0);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + reached, expected.begin()));
        const int reads = input.reads;
        EXPECT_LE(reads - input.endReads, (row.size + row.chunk - 1) / row.chunk);
        EXPECT_LE(input.endReads, 66);  // and one more for a stream of nothing
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
                ASSERT_EQ(s, plain.DecodeSymbol()) << int{filler} << " symbol " << agreed;
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

}  // namespace
}  // namespace qk
