// LZ reconstruction against the plain form: rings wrapped in inner-insertion
// mode, failing references, random streams and the writer's archives of every
// form.
#include <gtest/gtest.h>

#include <random>

#include "codec/LzDecoder.h"
#include "qk1/ArchiveWriter.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using test::OnesStream;

// Decodes `data` as one block of `size` by both forms: the same result, position and bytes.
int DecodeBoth(const Bytes& data, std::int32_t size, bool inner = false) {
    test::MemoryStream s1(data), s2(data);
    LzDecoder fast(&s1, inner, false);
    test::ReferenceLzDecoder plain(&s2, inner, false);
    Bytes a(static_cast<std::size_t>(size)), b(a);
    fast.Reset(a.data(), size);
    plain.Reset(b.data(), size);
    const int result = fast.Decode(size);
    EXPECT_EQ(result, plain.Decode(size));
    EXPECT_EQ(fast.outputPos(), plain.outputPos);
    EXPECT_TRUE(a == b);
    return result;
}

// One ring wrapped hundreds of times ('a' after 'a') while inner positions
// keep entering rings that have never been full: every 64 bytes a copy of
// "z x" through the ring of q offers the position after z to the ring of z,
// and a reference through that ring's newest slot shows whether it entered.
// The count of full rings must not grow with every wrap.
TEST(LzDecoder, InnerPositionsEnterRingsNeverFullWhileOthersWrap) {
    OnesStream code;
    std::int32_t size = 0;
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
    EXPECT_EQ(DecodeBoth(code.bytes, size, true), 0);
}

// A copy may end its block but not pass it (the length is checked first),
// and a reference needs a filled slot: "aba" puts position 1 in the ring of 'a'.
TEST(LzDecoder, FailingReferences) {
    const std::tuple<OnesStream, std::int32_t, int> rows[] = {
        {OnesStream().Literals("aba").Symbol(255).Length(0), 5, LzDecoder::kDone},
        {OnesStream().Literals("aba").Symbol(255).Length(0), 4, LzDecoder::kOverrun},
        {OnesStream().Symbol(255).Length(0), 64, LzDecoder::kBadReference},  // as the first step
        {OnesStream().Symbol(255).Length(127, 100, 8), 64, LzDecoder::kOverrun},
        {OnesStream().Literals("x").Symbol(255).Length(127, 100, 8), 64, LzDecoder::kOverrun},
        {OnesStream().Literals("aba").Symbol(255).Length(127, ~0u, 32), 64, LzDecoder::kOverrun},
        {OnesStream().Literals("aba").Symbol(256), 64, LzDecoder::kBadReference},  // empty slot
        {OnesStream().Literals("aba").Symbol(254).Length(0), 64, LzDecoder::kBadReference},
    };
    for (const auto& [code, size, result] : rows)
        EXPECT_EQ(DecodeBoth(code.bytes, size), result) << &code - &std::get<0>(rows[0]);
}

// Random symbol streams under code blocks biased towards literals and the
// newest slots, in every model and insertion mode: every result, position
// and byte as in the plain form, across blocks and uneven targets.
TEST(LzDecoder, RandomStreamsDecodeLikeThePlainForm) {
    std::mt19937 rng(5);
    int completed = 0;
    for (int round = 0; round < 400; ++round) {
        const bool large = rng() & 1, inner = rng() & 1;
        const unsigned literals = large ? 1024 : 512, slots = literals / 2;
        test::BitWriter w;
        for (unsigned i = 0; i < literals + 256; ++i)
            w.Field(i >= literals ? 9 : (i % slots) + 4 >= slots ? 6 : 31, 5);
        for (unsigned i = 0; i < 128; ++i) w.Field(7, 5);
        for (int i = 0; i < 6000; ++i)
            w.bytes.push_back(static_cast<std::uint8_t>(rng() % (round % 3 ? 256 : 4)));
        test::MemoryStream s1(w.bytes), s2(w.bytes);
        LzDecoder fast(&s1, inner, large);
        test::ReferenceLzDecoder plain(&s2, inner, large);
        int result = 0;
        for (int block = 0; block < 3 && result == 0; ++block) {
            const int size = 1 + static_cast<int>(rng() % 3000);
            Bytes a(size), b(size);
            fast.Reset(a.data(), size);
            plain.Reset(b.data(), size);
            for (int target = 0; target < size && result == 0;) {
                target += 1 + static_cast<int>(rng() % 500);
                result = fast.Decode(target);
                ASSERT_EQ(result, plain.Decode(target)) << round;
                ASSERT_EQ(fast.outputPos(), plain.outputPos) << round;
            }
            ASSERT_TRUE(std::equal(a.begin(), a.begin() + fast.outputPos(), b.begin())) << round;
            completed += result == 0;
        }
    }
    EXPECT_GT(completed, 20);
}

Bytes Periodic(std::size_t size, std::mt19937& rng) {
    Bytes out;
    while (out.size() < size) {
        Bytes unit(1 + rng() % 40);
        for (auto& b : unit) b = static_cast<std::uint8_t>(rng() % 7);
        for (std::size_t r = 1 + rng() % 90; r > 0; --r)
            out.insert(out.end(), unit.begin(), unit.end());
        for (int i = rng() % 20; i > 0; --i) out.push_back(static_cast<std::uint8_t>(rng()));
    }
    out.resize(size);
    return out;
}

// The writer's archives in every form, over input in short reads and in
// uneven Decode steps: long and escaped lengths, overlapping copies of every
// short period, repeat references, rings that all fill (so that inner
// positions stop entering), a small block after a large one; and text of few
// letters, whose literals of 2 to 5 bits make most windows decide two
// literals at once (pair entries), in steps of 1 to 8 bytes that end often
// between the two.
TEST(LzDecoder, WrittenArchivesDecodeLikeThePlainForm) {
    std::mt19937 rng(21);
    Bytes binary(300000);
    for (auto& b : binary) b = static_cast<std::uint8_t>(rng());
    std::vector<ArchiveEntry> mixed{{"binary", 0, binary},
                                    {"periodic", 0, Periodic(120000, rng)},
                                    {"zeros", 0, Bytes(70000, 0)}};
    for (int i = 0; i < 40; ++i)
        mixed.push_back({"p" + std::to_string(i), 0, Periodic(rng() % 3000, rng)});
    const struct {
        int letters, level, form;
    } rows[] = {{0, 2, 0},  {0, 4, 1},  {0, 6, 2},  {0, 9, 3}, {3, 1, 0},
                {16, 1, 2}, {16, 9, 1}, {24, 6, 3}, {5, 9, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.letters << " letters, level " << row.level << ", form " << row.form);
        std::vector<ArchiveEntry> entries = mixed;
        if (row.letters > 0) {
            Bytes text(40000);
            for (auto& b : text) b = static_cast<std::uint8_t>('a' + rng() % row.letters);
            entries = {{"letters", 0, text}, {"more", 0, Bytes(text.begin(), text.begin() + 999)}};
        }
        WriteOptions o;
        o.level = row.level;
        o.largeModel = row.form & 1;
        o.insertInner = row.form & 2;
        o.chooseModes = false;
        Bytes archive;
        ASSERT_EQ(WriteArchive(entries, o, archive, nullptr), Status::kOk);
        test::Feed feed;
        feed.chunk = 1 + static_cast<int>(rng() % 700);
        feed.maxStep = row.letters > 0 ? 8 : 5000;
        const test::Decoded decoded = test::DecodeBothForms(archive, feed);
        ASSERT_EQ(decoded.result, 0);
        EXPECT_TRUE(decoded.blocks[1] == entries[0].data);
    }
}

}  // namespace
}  // namespace qk
