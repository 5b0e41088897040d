// Archives whose headers or tables claim far more than their data can give:
// reading one must cost memory and time in proportion to what the archive
// actually produces, not to what it claims, and must end in a failure. And
// archives cut short, whose last batch decodes from the filler past the end.
#include <gtest/gtest.h>

#include <random>

#if defined(__unix__)
#include <sys/resource.h>
#endif

#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

// Peak resident memory of the process in bytes, or 0 where it cannot be had.
// Under AddressSanitizer every allocation costs an eighth of its size in
// shadow memory, used or not, so the check is left to the plain build.
std::int64_t PeakResident() {
#if defined(__unix__) && !defined(__SANITIZE_ADDRESS__)
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return std::int64_t{usage.ru_maxrss} * 1024;
#endif
    return 0;
}

// The header, an all-ones code block (a literal c is the 10 bits
// 01cccccccc), then `table` as literals, bits that end its last byte and 500
// bytes of 0x55: those decode to the literal 'U' for ever, the filler after
// them too, so only the decoder's own limit can end the stream.
Bytes Archive(std::int32_t tableSize, const Bytes& table) {
    ArchiveHeader header;
    header.totalSize = 0x7FFFFFFF;
    header.tableSize = tableSize;
    header.entryCount = 1;
    Bytes out(kHeaderSize);
    FormatHeader(header, out.data());
    out.resize(out.size() + 560, 0xFF);
    test::BitWriter w;
    for (std::uint8_t c : table) w.Field(0x100u | c, 10);
    w.Bits(std::string("0101010").substr(0, (8 - table.size() * 10 % 8) % 8));
    for (int i = 0; i < 500; ++i) w.Field(0x55, 8);
    for (std::uint8_t b : w.bytes()) out.push_back(b);
    return out;
}

// A table claiming 2 GB, and a correct table of one entry claiming 0x7FFFFFF0
// bytes: a few hundred bytes decode, then each read ends with result 2, at
// no cost near the claims (64 MiB is far below them), whether the entry is
// walked or decoded in steps (which stop at the first).
TEST(HostileArchive, HugeClaimsOverATinyStreamEndAtOnce) {
    const Bytes table = test::FromHex("7FFFFFF0 00000000 6100");
    const std::int64_t before = PeakResident();
    const Bytes claim = Archive(0x7FFFFFFF, {});
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(claim.data(), claim.size()), Status::kOk);
    EXPECT_EQ(reader.DecodeTable(), Status::kBadReference);
    EXPECT_EQ(reader.ParseTable('/'), Status::kBadTable);  // the 'U's decoded hold no name's end
    EXPECT_TRUE(reader.batches().empty());

    const Bytes huge = Archive(static_cast<std::int32_t>(table.size()), table);
    ASSERT_EQ(reader.Open(huge.data(), huge.size()), Status::kOk);
    ASSERT_EQ(reader.ReadTable('/'), Status::kOk);
    ASSERT_EQ(reader.entries().largestSize, 0x7FFFFFF0);
    EXPECT_EQ(
        reader.ForEachEntry([](std::int32_t, const std::uint8_t*, std::int32_t) { return false; }),
        Status::kBadReference);
    EXPECT_LT(PeakResident() - before, std::int64_t{64} << 20);

    ArchiveReader steps;
    ASSERT_EQ(steps.Open(huge.data(), huge.size()), Status::kOk);
    ASSERT_EQ(steps.ReadTable('/'), Status::kOk);
    // Never written beyond what is decoded: address space, not memory.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[0x7FFFFFF0]);
    if (!buffer) GTEST_SKIP() << "no address space for the claimed entry";
    int calls = 0;
    EXPECT_EQ(steps.DecodeBatch(steps.batches()[0], buffer.get(), 1 << 16,
                                [&](std::int32_t) { return ++calls, true; }),
              Status::kBadReference);
    EXPECT_EQ(calls, 1);
}

// Entries that do not compress: the stream is literals, so a cut one still
// decodes to the end from the filler past the end of the file, and says so
// after its last batch. Batches: [first], [second, third]; the walk decodes
// the second ahead and still hands out every entry.
TEST(HostileArchive, ACutShortArchiveIsToldAfterItsLastBatch) {
    std::mt19937 random(5);
    std::vector<ArchiveEntry> entries;
    for (const std::size_t size : {3000, 2000, 1000}) {
        entries.push_back({"e" + std::to_string(size), 0, Bytes(size)});
        for (auto& b : entries.back().data) b = static_cast<std::uint8_t>(random());
    }
    Bytes whole;
    ASSERT_EQ(WriteArchive(entries, WriteOptions(), whole, nullptr), Status::kOk);
    for (std::size_t cut = 0; cut <= 12; ++cut) {
        const Status expected = cut == 0 ? Status::kOk : Status::kCutShort;
        ArchiveReader walk, steps;
        ASSERT_EQ(walk.Open(whole.data(), whole.size() - cut), Status::kOk);
        ASSERT_EQ(walk.ReadTable('/'), Status::kOk);
        std::vector<std::int32_t> visited;
        EXPECT_EQ(walk.ForEachEntry([&](std::int32_t i, const std::uint8_t*, std::int32_t) {
            visited.push_back(i);
            return true;
        }),
                  expected)
            << cut;
        EXPECT_EQ(visited, (std::vector<std::int32_t>{0, 1, 2})) << cut;
        ASSERT_EQ(steps.Open(whole.data(), whole.size() - cut), Status::kOk);
        ASSERT_EQ(steps.ReadTable('/'), Status::kOk);
        Bytes buffer(3000);
        ASSERT_EQ(steps.batches().size(), 2u);
        EXPECT_EQ(steps.DecodeBatch(steps.batches()[0], buffer.data()), Status::kOk) << cut;
        EXPECT_EQ(steps.DecodeBatch(steps.batches()[1], buffer.data()), expected) << cut;
    }
}

}  // namespace
}  // namespace qk
