// LZ reconstruction: the ring rules on worked examples, the failure results,
// and the production decoder against the plain form on random streams.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "archive/ArchiveStream.h"
#include "codec/LzDecoder.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveWriter.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::BitWriter;
using test::Bytes;
using test::MemoryStream;

// Streams under the equal-length code of an all-ones block (256 slots): symbol
// s < 256 is 1 then s in 8 bits, s >= 256 is 0 then s - 256 in 9 bits, and a
// length symbol is its number in 7 bits.
class OnesCode {
  public:
    OnesCode& Symbol(unsigned s) {
        if (s < 256) {
            w_.Field(1, 1);
            w_.Field(s, 8);
        } else {
            w_.Field(0, 1);
            w_.Field(s - 256, 9);
        }
        return *this;
    }
    OnesCode& Literal(char c) { return Symbol(512 + static_cast<std::uint8_t>(c)); }
    OnesCode& Length(unsigned symbol) {
        w_.Field(symbol, 7);
        return *this;
    }
    OnesCode& Escaped(std::uint32_t value, unsigned n) {
        w_.Field(127, 7);
        w_.Field(n - 1, 5);
        w_.Field(value, static_cast<int>(n));
        return *this;
    }
    Bytes bytes() const {
        Bytes data(560, 0xFF);
        const Bytes body = w_.bytes();
        data.insert(data.end(), body.begin(), body.end());
        return data;
    }

  private:
    BitWriter w_;
};

struct Slot {
    std::uint32_t position, length;
    bool operator==(const Slot&) const = default;
};

Slot RingSlot(const LzDecoder& d, char context, unsigned k) {
    const auto& r = d.rings();
    const unsigned i = static_cast<std::uint8_t>(context) * r.slotCount + k;
    return {r.entries[i].position, r.entries[i].length};
}

TEST(LzDecoder, CandidateReferenceOverlapsItsOwnOutput) {
    const Bytes data =
        OnesCode().Literal('a').Literal('b').Literal('a').Symbol(255).Length(1).Symbol(511).bytes();
    MemoryStream s(data);
    LzDecoder d(&s, false, false);
    std::uint8_t out[16] = {};
    d.Reset(out, 16);
    ASSERT_EQ(d.Decode(6), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "ababab");
    const auto& r = d.rings();
    EXPECT_EQ(RingSlot(d, 'a', 0), (Slot{1, 1}));
    EXPECT_EQ(RingSlot(d, 'a', 1), (Slot{3, 3}));
    EXPECT_EQ(r.head['a'], 2);
    EXPECT_EQ(r.filled['a'], 2);
    EXPECT_EQ(RingSlot(d, 'b', 0), (Slot{2, 1}));

    // A repeat reference to the newest entry of ring b: appends 'a' (position
    // 2, length 1); slot 1 is empty so nothing moves, and position 6 enters.
    ASSERT_EQ(d.Decode(7), 0);
    EXPECT_EQ(out[6], 'a');
    EXPECT_EQ(RingSlot(d, 'b', 0), (Slot{2, 1}));
    EXPECT_EQ(RingSlot(d, 'b', 1), (Slot{6, 1}));
}

TEST(LzDecoder, InsertInnerOffersEveryPositionOfAStep) {
    const Bytes data =
        OnesCode().Literal('a').Literal('b').Literal('a').Symbol(255).Length(1).bytes();
    MemoryStream s(data);
    LzDecoder d(&s, true, false);
    std::uint8_t out[6];
    d.Reset(out, 6);
    ASSERT_EQ(d.Decode(6), 0);
    EXPECT_EQ(RingSlot(d, 'a', 0), (Slot{1, 1}));
    EXPECT_EQ(RingSlot(d, 'a', 1), (Slot{3, 3}));
    EXPECT_EQ(RingSlot(d, 'a', 2), (Slot{5, 1}));
    EXPECT_EQ(RingSlot(d, 'b', 0), (Slot{2, 1}));
    EXPECT_EQ(RingSlot(d, 'b', 1), (Slot{4, 2}));
}

TEST(LzDecoder, FailuresOfReferences) {
    std::uint8_t out[64];
    {  // a reference as the first step: no ring holds anything yet
        MemoryStream s(OnesCode().Symbol(255).Length(0).bytes());
        LzDecoder d(&s, false, false);
        d.Reset(out, 64);
        EXPECT_EQ(d.Decode(64), 2);
    }
    {  // ... and as the second step, with a length that does not fit: 1 first
        MemoryStream s(OnesCode().Literal('x').Symbol(255).Escaped(100, 8).bytes());
        LzDecoder d(&s, false, false);
        d.Reset(out, 64);
        EXPECT_EQ(d.Decode(64), 1);
    }
    {  // an escaped length near 2^32 does not wrap into a small one
        MemoryStream s(OnesCode()
                           .Literal('a')
                           .Literal('b')
                           .Literal('a')
                           .Symbol(255)
                           .Escaped(0xFFFFFFFFu, 32)
                           .bytes());
        LzDecoder d(&s, false, false);
        d.Reset(out, 64);
        EXPECT_EQ(d.Decode(64), 1);
    }
    {  // a repeat reference to an empty slot
        MemoryStream s(OnesCode().Literal('a').Literal('b').Literal('a').Symbol(256).bytes());
        LzDecoder d(&s, false, false);
        d.Reset(out, 64);
        EXPECT_EQ(d.Decode(64), 2);
    }
}

TEST(LzDecoder, TargetsAndLiteralsOfEveryByte) {
    OnesCode code;
    for (int b = 0; b < 256; ++b) code.Symbol(512 + b);
    MemoryStream s(code.bytes());
    LzDecoder d(&s, false, false);
    std::uint8_t out[256];
    d.Reset(out, 256);
    EXPECT_EQ(d.Decode(10), 0);
    EXPECT_EQ(d.outputPos(), 10);
    EXPECT_EQ(d.Decode(5), 0);  // at or below the position: no step
    EXPECT_EQ(d.outputPos(), 10);
    EXPECT_EQ(d.Decode(100000), 0);  // lowered to the block size
    EXPECT_EQ(d.outputPos(), 256);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(out[b], b);
}

TEST(LzDecoder, RepeatReferenceInAFullRingMovesTheOldestEntry) {
    // Fill ring 'a' (256 slots) with positions via "a?" pairs, then use a
    // repeat reference with s = N: it names slot head, which moves onto itself.
    OnesCode code;
    for (int i = 0; i < 258; ++i) code.Literal('a').Literal(static_cast<char>('0' + i % 10));
    code.Literal('a').Symbol(256);
    const Bytes data = code.bytes();
    MemoryStream s1(data), s2(data);
    LzDecoder fast(&s1, false, false);
    test::ReferenceLzDecoder plain(&s2, false, false);
    Bytes a(1000), b(1000);
    fast.Reset(a.data(), 1000);
    plain.Reset(b.data(), 1000);
    EXPECT_EQ(fast.Decode(518), plain.Decode(518));
    ASSERT_EQ(fast.outputPos(), plain.outputPos);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + fast.outputPos()),
              Bytes(b.begin(), b.begin() + plain.outputPos));
    EXPECT_EQ(fast.rings().filled['a'], 256);
}

// Random symbol streams under random code blocks: the production decoder and
// the plain form agree on every byte, position and result, across blocks.
TEST(LzDecoder, RandomStreamsDecodeLikeThePlainForm) {
    std::mt19937 rng(5);
    int completed = 0;
    for (int round = 0; round < 400; ++round) {
        const bool large = rng() & 1, inner = rng() & 1;
        // Lengths biased towards literals so that blocks get somewhere.
        Bytes data(large ? 880 : 560);
        BitWriter w;
        const unsigned n = large ? 1280 : 768;
        const unsigned literalStart = large ? 1024 : 512;
        const unsigned slots = literalStart / 2;
        for (unsigned i = 0; i < n; ++i) {
            // Literals, and references to the few newest slots of a ring.
            const bool recent = (i < slots && i + 4 >= slots) ||
                                (i >= slots && i < literalStart && i + 4 >= literalStart);
            w.Field(i >= literalStart ? 9 : recent ? 6 : 31, 5);
        }
        for (unsigned i = 0; i < 128; ++i) w.Field(7, 5);
        data = w.bytes();
        for (int i = 0; i < 6000; ++i)
            data.push_back(static_cast<std::uint8_t>(rng() % (round % 3 ? 256 : 4)));
        MemoryStream s1(data), s2(data);
        LzDecoder fast(&s1, inner, large);
        test::ReferenceLzDecoder plain(&s2, inner, large);
        for (int block = 0; block < 3; ++block) {
            const int size = 1 + static_cast<int>(rng() % 3000);
            Bytes a(size), b(size);
            fast.Reset(a.data(), size);
            plain.Reset(b.data(), size);
            int target = 0;
            int ra = 0, rb = 0;
            while (target < size && ra == 0) {
                target += 1 + static_cast<int>(rng() % 500);
                ra = fast.Decode(target);
                rb = plain.Decode(target);
                ASSERT_EQ(ra, rb) << round;
                ASSERT_EQ(fast.outputPos(), plain.outputPos) << round;
            }
            ASSERT_TRUE(std::equal(a.begin(), a.begin() + fast.outputPos(), b.begin()));
            if (ra == 0) ++completed;
            if (ra != 0) break;
        }
    }
    EXPECT_GT(completed, 20);
}

// Real archives from the writer, decoded block by block with both forms in
// uneven Decode steps: long and escaped lengths, overlapping copies of every
// short period, repeat references, rings that fill up (all 256 of them, so
// that inner positions stop entering) and a small block after a full one, in
// every model and insertion mode.
Bytes Periodic(std::size_t size, std::mt19937& rng) {
    Bytes out;
    while (out.size() < size) {
        const std::size_t period = 1 + rng() % 40;
        Bytes unit(period);
        for (auto& b : unit) b = static_cast<std::uint8_t>(rng() % 7);
        const std::size_t repeat = 1 + rng() % 90;
        for (std::size_t r = 0; r < repeat; ++r) out.insert(out.end(), unit.begin(), unit.end());
        for (int i = rng() % 20; i > 0; --i) out.push_back(static_cast<std::uint8_t>(rng()));
    }
    out.resize(size);
    return out;
}

void ExpectBothFormsAgree(const Bytes& archive, std::mt19937& rng, std::uint32_t maxStep = 5000) {
    ArchiveHeader header;
    ASSERT_TRUE(ParseHeader(archive.data(), header));
    const Bytes body(archive.begin() + kHeaderSize, archive.end());
    MemoryStream s1(body, 1 + static_cast<int>(rng() % 700)), s2(body);
    LzDecoder fast(&s1, header.insertInner(), header.largeModel());
    test::ReferenceLzDecoder plain(&s2, header.insertInner(), header.largeModel());

    auto decodeBlock = [&](std::int32_t size, Bytes& a) {
        a.assign(static_cast<std::size_t>(size) + 1, 0xEE);
        Bytes b(a);
        fast.Reset(a.data(), size);
        plain.Reset(b.data(), size);
        std::int32_t target = 0;
        do {
            target += 1 + static_cast<std::int32_t>(rng() % maxStep);
            const int ra = fast.Decode(target);
            ASSERT_EQ(ra, plain.Decode(target));
            ASSERT_EQ(ra, 0);
            ASSERT_EQ(fast.outputPos(), plain.outputPos);
        } while (target < size);
        ASSERT_EQ(a, b);  // nothing written past the block either
        a.pop_back();
    };
    Bytes table;
    decodeBlock(header.tableSize, table);
    EntryTable entries;
    ASSERT_TRUE(ParseEntryTable(table.data(), header.tableSize, header.entryCount, '/', entries));
    for (const Batch& batch : FormBatches(entries.sizes, entries.largestSize)) {
        Bytes block;
        decodeBlock(batch.total, block);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(LzDecoder, WrittenArchivesDecodeLikeThePlainForm) {
    std::mt19937 rng(21);
    std::vector<ArchiveEntry> entries;
    Bytes binary(300000);
    for (auto& b : binary) b = static_cast<std::uint8_t>(rng());
    entries.push_back({"binary", 0, binary});  // fills every ring
    entries.push_back({"periodic", 0, Periodic(120000, rng)});
    entries.push_back({"zeros", 0, Bytes(70000, 0)});  // escaped lengths
    for (int i = 0; i < 40; ++i)
        entries.push_back({"p" + std::to_string(i), 0, Periodic(rng() % 3000, rng)});
    for (int form = 0; form < 4; ++form) {
        SCOPED_TRACE(form);
        WriteOptions o;
        o.level = form == 3 ? 9 : 2 + 2 * form;
        o.largeModel = form & 1;
        o.insertInner = form & 2;
        o.chooseModes = false;
        Bytes archive;
        std::string error;
        ASSERT_EQ(WriteArchive(entries, o, archive, &error), Status::kOk) << error;
        ExpectBothFormsAgree(archive, rng);
    }
}

// Text of few letters and no long repeats: literals of 2 to 5 bits, so that
// most windows decide two literals at once (pair entries). Decode steps of 1
// to 8 bytes end often between the two literals of a pair, where only the
// first may be taken.
TEST(LzDecoder, PairsOfLiteralsDecodeLikeThePlainForm) {
    std::mt19937 rng(33);
    struct Case {
        int letters;
        int level;
        bool large, inner;
    };
    const Case cases[] = {
        {3, 1, false, false}, {16, 1, false, true}, {16, 9, true, false},
        {24, 6, true, true},  {5, 9, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letters * 100 + c.level);
        Bytes text(40000);
        for (auto& b : text) b = static_cast<std::uint8_t>('a' + rng() % c.letters);
        WriteOptions o;
        o.level = c.level;
        o.largeModel = c.large;
        o.insertInner = c.inner;
        o.chooseModes = false;
        Bytes archive;
        std::string error;
        ASSERT_EQ(WriteArchive(
                      {{"letters", 0, text}, {"more", 0, Bytes(text.begin(), text.begin() + 999)}},
                      o, archive, &error),
                  Status::kOk)
            << error;
        ExpectBothFormsAgree(archive, rng, 8);
    }
}

}  // namespace
}  // namespace qk
