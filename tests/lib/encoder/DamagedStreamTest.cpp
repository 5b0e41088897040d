// Damaged archives: truncated, bits flipped, sizes changed. Each must end in a
// decoding result of 1 or 2, a reported failure, or (when the damage happens
// to keep the stream valid) a clean decode: never a crash, a read outside a
// buffer or a hang. Run under the sanitizers in CI.
#include <gtest/gtest.h>

#include <random>

#include "format/ArchiveHeader.h"
#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

ArchiveReader::Status ReadAll(const Bytes& archive, const std::string& password,
                              test::TempDir& dir) {
    const std::string path = dir.path() + "/d.qk1";
    test::WriteFileBytes(path, archive);
    ArchiveReader reader;
    ArchiveReader::Status s = reader.Open(path);
    if (s != ArchiveReader::Status::kOk) return s;
    if (reader.header().passwordSet() && reader.CheckPassword(password) != Status::kOk)
        return ArchiveReader::Status::kWrongPassword;
    // Sizes claimed by a damaged header are bounded here to keep the test fast.
    if (reader.header().tableSize > (1 << 20)) return ArchiveReader::Status::kNoMemory;
    s = reader.ReadTable('/');
    if (s != ArchiveReader::Status::kOk) return s;
    if (reader.entries().largestSize > (1 << 22)) return ArchiveReader::Status::kNoMemory;
    return reader.ForEachEntry(
        [](std::int32_t, const std::uint8_t*, std::int32_t) { return true; });
}

Bytes SampleArchive(bool large, bool inner, bool password) {
    std::mt19937 rng(8);
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 6; ++i) {
        Bytes data(1000 + rng() % 3000);
        for (std::size_t k = 0; k < data.size(); ++k)
            data[k] = static_cast<std::uint8_t>("abcabd\n"[rng() % 7]);
        entries.push_back({"dir/file" + std::to_string(i), 100, data});
    }
    WriteOptions o;
    o.largeModel = large;
    o.insertInner = inner;
    o.usePassword = password;
    o.password = "pw";
    Bytes out;
    EXPECT_EQ(WriteArchive(entries, o, out, nullptr), Status::kOk);
    return out;
}

TEST(DamagedStream, TruncationsEndInAFailure) {
    test::TempDir dir;
    const Bytes archive = SampleArchive(false, false, false);
    ASSERT_EQ(ReadAll(archive, "", dir), ArchiveReader::Status::kOk);
    for (std::size_t keep : {std::size_t{0}, std::size_t{19}, std::size_t{20}, std::size_t{100},
                             std::size_t{600}, archive.size() / 2}) {
        const Bytes cut(archive.begin(), archive.begin() + static_cast<long>(keep));
        EXPECT_NE(ReadAll(cut, "", dir), ArchiveReader::Status::kOk) << keep;
    }
}

TEST(DamagedStream, FlippedBitsNeverCrash) {
    test::TempDir dir;
    std::mt19937 rng(12);
    for (int mode = 0; mode < 8; ++mode) {
        const Bytes archive = SampleArchive(mode & 1, mode & 2, mode & 4);
        for (int round = 0; round < 40; ++round) {
            Bytes damaged = archive;
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int f = 0; f < flips; ++f) {
                const std::size_t at = 20 + rng() % (damaged.size() - 20);
                damaged[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            }
            ReadAll(damaged, "pw", dir);  // any outcome but a crash or hang
        }
    }
}

TEST(DamagedStream, WrongSizesInTheHeader) {
    test::TempDir dir;
    const Bytes archive = SampleArchive(false, false, false);
    auto withField = [&](int offset, std::uint32_t value) {
        Bytes b = archive;
        for (int i = 0; i < 4; ++i)
            b[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
        return b;
    };
    // A shorter table cuts the names; a longer one decodes into entry data.
    EXPECT_NE(ReadAll(withField(12, 10), "", dir), ArchiveReader::Status::kOk);
    EXPECT_NE(ReadAll(withField(12, 0xFFFFFFFF), "", dir), ArchiveReader::Status::kOk);
    EXPECT_NE(ReadAll(withField(16, 7), "", dir), ArchiveReader::Status::kOk);
    EXPECT_NE(ReadAll(withField(16, 0x7FFFFFFF), "", dir), ArchiveReader::Status::kOk);
    // The total is only used for progress: a wrong one changes nothing here.
    EXPECT_EQ(ReadAll(withField(8, 3), "", dir), ArchiveReader::Status::kOk);
}

}  // namespace
}  // namespace qk
