// Archives whose headers or tables claim far more than their data can give.
// Reading one must cost memory and time in proportion to what the archive
// actually produces, not to what it claims, and must end in the decoding
// result 2; and no valid archive may come near the point where the decoder
// gives up on a stream that runs past its end.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#if defined(__unix__)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "codec/LzDecoder.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using Status = ArchiveReader::Status;
using test::BitWriter;
using test::Bytes;

#if defined(__SANITIZE_ADDRESS__)
#define QK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QK_ADDRESS_SANITIZER 1
#endif
#endif

// Peak resident memory of the process in bytes, or 0 where it cannot be had.
// Under AddressSanitizer every allocation costs an eighth of its size in shadow
// memory whether it is used or not, so the check is left to the plain build.
std::int64_t PeakResident() {
#if defined(__unix__) && !defined(QK_ADDRESS_SANITIZER)
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return std::int64_t{usage.ru_maxrss} * 1024;
#endif
    return 0;
}

// Claims of 2 GB must not be paid for: the decoded bytes here are a few
// hundred, so anything near the claim shows up far above this.
constexpr std::int64_t kMemorySlack = std::int64_t{64} << 20;

// An archive of the normal model without password: the header, then an
// all-ones code block (every symbol 31 bits long, so a literal c is the 10 bits
// 01cccccccc), then `body`.
Bytes Archive(std::int32_t tableSize, std::int32_t entryCount, const Bytes& body) {
    ArchiveHeader header;
    header.totalSize = 0x7FFFFFFF;
    header.tableSize = tableSize;
    header.entryCount = entryCount;
    Bytes out(kHeaderSize);
    FormatHeader(header, out.data());
    out.resize(out.size() + 560, 0xFF);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Bytes of 0x55 continuing a stream that stands at an odd 2-bit boundary: the
// bits 0101... decode to the literal 'U' for ever, and with the data past 1024
// bytes the filler after it is 0x55 as well, so the stream never fails by
// itself and only the decoder's own limit can end it.
void AppendEndlessLiterals(BitWriter& w, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) w.Field(0x55, 8);
}

class HostileArchive : public testing::Test {
  protected:
    std::string Write(const Bytes& bytes) {
        const std::string path = dir_.path() + "/hostile.qk1";
        test::WriteFileBytes(path, bytes);
        return path;
    }
    test::TempDir dir_;
};

TEST_F(HostileArchive, AHugeTableOverATinyStreamEndsAtOnce) {
    BitWriter w;
    AppendEndlessLiterals(w, 500);
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(Write(Archive(0x7FFFFFFF, 1, w.bytes()))), Status::kOk);
    const std::int64_t before = PeakResident();
    EXPECT_EQ(reader.DecodeTable(), Status::kBadReference);
    EXPECT_LT(PeakResident() - before, kMemorySlack);
    // Only the decoded part is parsed: about 460 bytes of 'U' hold no name end.
    EXPECT_EQ(reader.ParseTable('/'), Status::kBadTable);
    EXPECT_EQ(reader.entries().entryCount, 0);
    EXPECT_TRUE(reader.batches().empty());
}

// A correct table of one entry claiming 0x7FFFFFF0 bytes, and a stream that
// ends soon after it.
Bytes HugeEntryArchive() {
    const Bytes table = test::FromHex("7FFFFFF0 00000000 6100");
    BitWriter w;
    for (std::uint8_t c : table) w.Field(0x100u | c, 10);
    w.Bits("0101");  // the table ends 4 bits into a byte; 0101 leads into the 0x55 bytes
    AppendEndlessLiterals(w, 500);
    return Archive(static_cast<std::int32_t>(table.size()), 1, w.bytes());
}

TEST_F(HostileArchive, AHugeEntryOverATinyStreamEndsAtOnce) {
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(Write(HugeEntryArchive())), Status::kOk);
    ASSERT_EQ(reader.ReadTable('/'), Status::kOk);
    ASSERT_EQ(reader.entries().largestSize, 0x7FFFFFF0);

    const std::int64_t before = PeakResident();
    int visits = 0;
    EXPECT_EQ(reader.ForEachEntry([&](std::int32_t, const std::uint8_t*, std::int32_t) {
        ++visits;
        return true;
    }),
              Status::kBadReference);
    EXPECT_LT(PeakResident() - before, kMemorySlack);
    EXPECT_EQ(visits, 0);
}

TEST_F(HostileArchive, AHugeEntryDecodedInStepsStopsAtTheFirstStep) {
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(Write(HugeEntryArchive())), Status::kOk);
    ASSERT_EQ(reader.ReadTable('/'), Status::kOk);
    const Batch batch = reader.batches().at(0);
    // The buffer is never written beyond what is decoded, so its size is
    // address space, not memory.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[batch.total]);
    if (!buffer) GTEST_SKIP() << "no address space for the claimed entry";
    int steps = 0;
    EXPECT_EQ(reader.DecodeBatch(batch, buffer.get(), 1 << 16,
                                 [&](std::int32_t) {
                                     ++steps;
                                     return true;
                                 }),
              Status::kBadReference);
    EXPECT_EQ(steps, 1);
}

// A stream that counts the reads past its end: the production decoder makes
// one per filler byte it fetches.
class CountingStream : public test::MemoryStream {
  public:
    using MemoryStream::MemoryStream;
    int Read(std::uint8_t* buffer, int count) override {
        const int n = MemoryStream::Read(buffer, count);
        if (n == 0) ++fillerReads;
        return n;
    }
    int fillerReads = 0;
};

// Decodes a whole archive from memory as the reader does; returns the last
// decoding result and the filler bytes fetched, or -1 for them when the
// decoding consumed any (a cut-short stream).
std::pair<int, int> DecodeAll(const Bytes& file, const std::string& password) {
    ArchiveHeader header;
    EXPECT_TRUE(ParseHeader(file.data(), header));
    Bytes data(file.begin() + kHeaderSize, file.end());
    if (header.passwordSet()) {
        const PasswordKey key = DeriveKey(password);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] ^= key.key[i % 4];
    }
    CountingStream input(data);
    LzDecoder lz(&input, header.insertInner(), header.largeModel());
    Bytes table(static_cast<std::size_t>(header.tableSize));
    lz.Reset(table.data(), header.tableSize);
    int result = lz.Decode(header.tableSize);
    EntryTable entries;
    if (result == 0 && ParseEntryTable(table.data(), header.tableSize, header.entryCount, '/', entries)) {
        Bytes buffer(static_cast<std::size_t>(entries.largestSize) + 1);
        for (const Batch& b : FormBatches(entries.sizes, entries.largestSize)) {
            lz.Reset(buffer.data(), b.total);
            result = lz.Decode(b.total);
            if (result != 0) break;
        }
    }
    return {result, lz.consumedPastEnd() ? -1 : input.fillerReads};
}

// The production decoder looks at most 8 bytes ahead of the last bit it
// consumes, so a valid stream fetches at most 8 filler bytes: far from the 64
// after which it gives up. This holds the margin in place for the reference
// archives and for the writer's archives of every form.
TEST(ValidArchives, FetchNoMoreFillerThanTheLookAhead) {
    for (const std::string& name : test::VectorNames()) {
        std::ifstream in(test::VectorsDir() + "/" + name + ".expect.json");
        std::stringstream text;
        text << in.rdbuf();
        const test::Json expect = test::ParseJson(text.str());
        if (expect["header"].IsNull() || expect["header"]["offset"].Int() != 0) continue;
        const Bytes pw =
            expect["password_hex"].IsNull() ? Bytes{} : test::FromHex(expect["password_hex"].text);
        const auto [result, filler] =
            DecodeAll(test::ReadFileBytes(test::VectorsDir() + "/" + name + ".qk1"),
                      std::string(pw.begin(), pw.end()));
        EXPECT_LE(filler, 8) << name;
        EXPECT_GE(filler, 0) << name;
        if (expect["outcome"].text == "ok") {
            EXPECT_EQ(result, 0) << name;
        }
    }

    std::mt19937 rng(3);
    for (int round = 0; round < 48; ++round) {
        std::vector<ArchiveEntry> entries;
        const int count = round % 4;
        for (int i = 0; i < count; ++i) {
            Bytes data(rng() % (round % 3 == 0 ? 8 : 1500));
            const unsigned alphabet = 1 + rng() % 40;
            for (auto& b : data) b = static_cast<std::uint8_t>('a' + rng() % alphabet);
            entries.push_back({"e" + std::to_string(i), 0, data});
        }
        WriteOptions options;
        options.largeModel = round & 1;
        options.insertInner = round & 2;
        options.usePassword = round & 4;
        options.password = "pw";
        Bytes archive;
        ASSERT_EQ(WriteArchive(entries, options, archive, nullptr), Status::kOk);
        const auto [result, filler] = DecodeAll(archive, "pw");
        EXPECT_EQ(result, 0) << round;
        EXPECT_LE(filler, 8) << round;
        EXPECT_GE(filler, 0) << round;
    }
}

// Entries that do not compress: the stream is literals, so a cut one still
// decodes to the end, from the filler that stands in past the end of the
// file. Batches: [first], [second, third].
Bytes IncompressibleArchive() {
    std::mt19937 random(5);
    std::vector<ArchiveEntry> entries;
    for (const std::int32_t size : {3000, 2000, 1000}) {
        ArchiveEntry e;
        e.name = "e";
        e.name += std::to_string(size);
        e.data.resize(static_cast<std::size_t>(size));
        for (auto& b : e.data) b = static_cast<std::uint8_t>(random());
        entries.push_back(std::move(e));
    }
    Bytes archive;
    EXPECT_EQ(WriteArchive(entries, WriteOptions(), archive, nullptr), Status::kOk);
    return archive;
}

TEST_F(HostileArchive, ACutShortArchiveIsToldAfterItsLastBatch) {
    const Bytes whole = IncompressibleArchive();
    for (std::size_t cut = 0; cut <= 12; ++cut) {
        const Bytes file(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut));
        const Status expected = cut == 0 ? Status::kOk : Status::kCutShort;
        // The walk, which decodes the second batch ahead: every entry is
        // still handed out.
        ArchiveReader walk;
        ASSERT_EQ(walk.Open(Write(file)), Status::kOk);
        ASSERT_EQ(walk.ReadTable('/'), Status::kOk);
        std::vector<std::int32_t> visited;
        EXPECT_EQ(walk.ForEachEntry([&](std::int32_t i, const std::uint8_t*, std::int32_t) {
            visited.push_back(i);
            return true;
        }),
                  expected)
            << cut;
        EXPECT_EQ(visited, (std::vector<std::int32_t>{0, 1, 2})) << cut;
        // Batch by batch: only the last one reads past the end.
        ArchiveReader steps;
        ASSERT_EQ(steps.Open(Write(file)), Status::kOk);
        ASSERT_EQ(steps.ReadTable('/'), Status::kOk);
        Bytes buffer(3000);
        const std::vector<Batch> batches = steps.batches();
        ASSERT_EQ(batches.size(), 2u);
        EXPECT_EQ(steps.DecodeBatch(batches[0], buffer.data()), Status::kOk) << cut;
        EXPECT_EQ(steps.DecodeBatch(batches[1], buffer.data()), expected) << cut;
    }
}

// A table of a great many empty entries costs its decoded size and a few
// bytes per entry: the names stay in the decoded block, with an offset each.
TEST_F(HostileArchive, ManyEmptyEntriesCostAFewBytesEach) {
#if !defined(__unix__) || defined(QK_ADDRESS_SANITIZER)
    GTEST_SKIP() << "peak memory is measured on POSIX without AddressSanitizer";
#else
    constexpr std::int64_t kEntries = 2000000;
    const std::string path = dir_.path() + "/empty.qk1";
    // The archive is written by a child process, so that the writer's own
    // memory does not raise this process's peak.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<ArchiveEntry> entries(static_cast<std::size_t>(kEntries));
        Bytes archive;
        const bool written =
            WriteArchive(std::move(entries), WriteOptions(), archive, nullptr) == Status::kOk;
        if (written) test::WriteFileBytes(path, archive);
        _exit(written ? 0 : 1);
    }
    int childStatus = 0;
    ASSERT_EQ(waitpid(child, &childStatus, 0), child);
    ASSERT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);

    ArchiveReader reader;
    ASSERT_EQ(reader.Open(path), Status::kOk);
    const std::int64_t tableSize = reader.header().tableSize;
    ASSERT_EQ(tableSize, kEntries * 9);
    const std::int64_t before = PeakResident();
    ASSERT_EQ(reader.ReadTable('/'), Status::kOk);
    ASSERT_EQ(reader.entries().names.Count(), kEntries);
    EXPECT_EQ(reader.entries().names.Item(static_cast<int>(kEntries - 1)), "");
    // The decoder's own tables take a few MiB.
    EXPECT_LT(PeakResident() - before, tableSize + 16 * kEntries + (std::int64_t{8} << 20));
#endif
}

}  // namespace
}  // namespace qk
