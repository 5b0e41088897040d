// The production decoder against the plain form: prefix decoding, LZ steps,
// random streams, the writer's archives; and streams that run past their end,
// where filler follows (the first byte of the last load). The production
// decoder follows the plain form for up to 64 filler bytes, then refuses to
// decode another symbol, so that a huge claimed block over a tiny stream ends.
#include <gtest/gtest.h>

#include <random>

#include "codec/LzDecoder.h"
#include "qk1/ArchiveWriter.h"
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

// Streams that never fail by themselves (under an all-ones code block 0x55
// bytes decode to 'U' for ever: 403 in the data), and streams shorter than
// their code block, which decode nothing: result 2 after at most 64 filler
// bytes, decoded as the plain form does, one Read each; then later calls and
// blocks fail at once without reading. Empty blocks complete.
TEST(StreamEnd, PastTheEndABlockEndsWithResult2) {
    struct Row {
        int ones, size, chunk, least;  // at most 52 more than the least: 64 filler bytes
        std::uint8_t byte;
        bool large;
    };
    std::vector<Row> rows;
    for (int chunk : {512, 100, 1}) rows.push_back({560, 1064, chunk, 403, 0x55, false});
    for (int size : {0, 1, 100, 400})
        for (std::uint8_t byte : {0x55, 0xFF, 0x00, 0x3C})
            for (bool large : {false, true}) rows.push_back({0, size, 512, 0, byte, large});
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
        EXPECT_TRUE(reached >= row.least && reached <= row.least + (row.least ? 52 : 0)) << reached;
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

// A symbol matched as the stream ends is still delivered: symbol by symbol as
// the plain form decodes, for several fillers and reads, until the production
// decoder gives up, only after the data (symbols of 9 or 10 bits, lengths of
// up to 44, over 467 bytes).
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

// `data` decoded by both forms in blocks of `sizes`, in Decode steps of 1 to
// `maxStep` bytes: every result, position and byte alike. The blocks completed.
int DecodeSideBySide(const Bytes& data, bool inner, bool large, const std::vector<int>& sizes,
                     int maxStep, std::mt19937& rng) {
    MemoryStream s1(data), s2(data);
    LzDecoder fast(&s1, inner, large);
    test::ReferenceLzDecoder plain(&s2, inner, large);
    int result = 0, completed = 0;
    for (std::size_t block = 0; block < sizes.size() && result == 0; ++block) {
        const int size = sizes[block];
        Bytes a(size), b(size);
        fast.Reset(a.data(), size);
        plain.Reset(b.data(), size);
        for (int target = 0; target < size && result == 0;) {
            target += 1 + static_cast<int>(rng() % maxStep);
            result = fast.Decode(target);
            EXPECT_EQ(result, plain.Decode(target));
            EXPECT_EQ(fast.outputPos(), plain.outputPos);
        }
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + fast.outputPos(), b.begin()));
        completed += result == 0;
    }
    return completed;
}

// One ring wrapped hundreds of times ('a' after 'a') while inner positions
// keep entering rings that have never been full: every 64 bytes a copy of
// "z x" through the ring of q offers the position after z to the ring of z,
// and a reference through that ring's newest slot shows whether it entered.
// The count of full rings must not grow with every wrap.
TEST(LzDecoder, InnerPositionsEnterRingsNeverFullWhileOthersWrap) {
    test::OnesStream code;
    int size = 0;
    for (int probe = 0; probe < 1280; ++probe) {
        const std::string q(1, static_cast<char>(0x80 + probe % 64)),
            z(1, static_cast<char>(0xC0 + probe % 64)),
            e(1, static_cast<char>('e' + probe / 64 % 8));
        code.Literals(std::string(64, 'a'));
        if (probe < 64) {
            code.Literals(q + z + "x" + e);
        } else {
            code.Literals(q).Symbol(255).Length(0).Literals(e + z).Symbol(255).Length(0);
        }
        size += probe < 64 ? 68 : 71;
    }
    std::mt19937 rng(1);
    EXPECT_EQ(DecodeSideBySide(code.bytes, true, false, {size}, size, rng), 1);
}

// Random symbol streams under code blocks biased towards literals and the
// newest slots, in every model and insertion mode: every result, position
// and byte as in the plain form, across blocks and uneven targets.
TEST(LzDecoder, RandomStreamsDecodeLikeThePlainForm) {
    std::mt19937 rng(5);
    int completed = 0;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const bool large = rng() & 1, inner = rng() & 1;
        const unsigned literals = large ? 1024 : 512, slots = literals / 2;
        test::BitWriter w;
        for (unsigned i = 0; i < literals + 256; ++i)
            w.Field(i >= literals ? 9 : (i % slots) + 4 >= slots ? 6 : 31, 5);
        for (unsigned i = 0; i < 128; ++i) w.Field(7, 5);
        for (int i = 0; i < 6000; ++i)
            w.bytes.push_back(static_cast<std::uint8_t>(rng() % (round % 3 ? 256 : 4)));
        std::vector<int> sizes(3);
        for (int& size : sizes) size = 1 + static_cast<int>(rng() % 3000);
        completed += DecodeSideBySide(w.bytes, inner, large, sizes, 500, rng);
    }
    EXPECT_GT(completed, 10);
}

// The writer's archives of text of few letters in every form: literals of 2 to
// 5 bits make most windows decide two at once (pair entries), and Decode steps
// of 1 to 8 bytes end often between the two.
TEST(LzDecoder, WrittenArchivesDecodeLikeThePlainForm) {
    std::mt19937 rng(21);
    const std::tuple<int, int, int> rows[] = {
        {3, 1, 0}, {16, 1, 2}, {16, 9, 1}, {24, 6, 3}, {5, 9, 0}};
    for (const auto& [letters, level, form] : rows) {
        SCOPED_TRACE(testing::Message()
                     << letters << " letters, level " << level << ", form " << form);
        Bytes text(40000);
        for (auto& b : text) b = static_cast<std::uint8_t>('a' + rng() % letters);
        const std::vector<ArchiveEntry> entries = {
            {"letters", 0, text}, {"more", 0, Bytes(text.begin(), text.begin() + 999)}};
        WriteOptions o;
        o.level = level;
        o.largeModel = form & 1;
        o.insertInner = form & 2;
        o.chooseModes = false;
        Bytes archive;
        ASSERT_EQ(WriteArchive(entries, o, archive, nullptr), Status::kOk);
        test::Feed feed;
        feed.chunk = 1 + static_cast<int>(rng() % 700);
        feed.maxStep = 8;
        const test::Decoded decoded = test::DecodeBothForms(archive, feed);
        ASSERT_EQ(decoded.result, 0);
        EXPECT_TRUE(decoded.blocks[1] == text);
    }
}

}  // namespace
}  // namespace qk
