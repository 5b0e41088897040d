// The reader: the reference archives, where an archive starts, walks against
// the plain loop, hostile and cut-short archives, the parts of a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#if defined(__unix__)
#include <sys/resource.h>
#endif

#include "archive/PathParts.h"
#include "format/ArchiveHeader.h"
#include "format/ByteOrder.h"
#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using test::Json;

std::string Outcome(Status s) {  // as the expectation files name it
    const char* names[] = {
        "ok",        "open_failure",   "read_failure",  "not_archive", "wrong_password",
        "no_memory", "decode_error_1", "decode_error_2"};
    return std::size_t(s) < std::size(names) ? names[std::size_t(s)] : "other";
}

// A caller's source over memory that hands out at most 7 bytes a read.
struct Trickle {
    const Bytes& bytes;
    std::size_t at = 0;
    int closed = 0;

    static Trickle& Of(void* t) { return *static_cast<Trickle*>(t); }
    static std::int64_t Read(void* t, std::uint8_t* buffer, std::int64_t count) {
        const Bytes& b = Of(t).bytes;
        const auto n = std::min<std::size_t>({7, std::size_t(count), b.size() - Of(t).at});
        std::copy_n(b.begin() + static_cast<long>(Of(t).at), n, buffer);
        Of(t).at += n;
        return static_cast<std::int64_t>(n);
    }
    static bool Seek(void* t, std::int64_t offset) {
        const bool inside = offset >= 0 && std::size_t(offset) <= Of(t).bytes.size();
        if (inside) Of(t).at = std::size_t(offset);
        return inside;
    }
    static std::int64_t Size(void* t) { return std::int64_t(Of(t).bytes.size()); }
    static void Close(void* t) { ++Of(t).closed; }
};

enum class Source { kPath, kMemory, kTrickle };

class Vector : public testing::TestWithParam<std::tuple<std::string, Source>> {};

// Each reference archive (written by an independent implementation) as its
// expectation records: header, table, batches, outcome and entry digests,
// from a path, memory and callbacks; and by the plain form beside the decoder.
TEST_P(Vector, DecodesAsRecorded) {
    const auto& [name, source] = GetParam();
    const Json expect = test::LoadVectorExpectation(name);
    const std::string path = test::VectorsDir() + "/" + name + ".qk1",
                      outcome = expect["outcome"].text;
    const Bytes file = test::ReadFileBytes(path);
    ASSERT_EQ(test::Sha256Hex(file.data(), file.size()), expect["file_sha256"].text);
    const Bytes pw =
        expect["password_hex"].IsNull() ? Bytes{} : test::FromHex(expect["password_hex"].text);
    std::vector<std::string> expectedDigests, digests;
    for (const Json& e : expect["entries_decoded"].items)
        expectedDigests.push_back(e["sha256"].text);

    Trickle trickle{file};
    {
        ArchiveReader reader;
        Status status = source == Source::kPath ? reader.Open(path)
                        : source == Source::kMemory
                            ? reader.Open(file.data(), file.size())
                            : reader.Open({&trickle, Trickle::Read, Trickle::Seek, Trickle::Size,
                                           Trickle::Close});
        if (status == Status::kOk && reader.header().passwordSet())
            status = reader.CheckPassword(std::string(pw.begin(), pw.end()));
        if (status != Status::kOk) {
            EXPECT_EQ(Outcome(status), outcome);
            return;
        }
        const ArchiveHeader& h = reader.header();
        const std::pair<const char*, std::int64_t> fields[] = {
            {"offset", h.offset},          {"flags", h.flags},
            {"total_size", h.totalSize},   {"table_size", h.tableSize},
            {"entry_count", h.entryCount}, {"data_size", h.dataSize()}};
        for (const auto& [key, value] : fields)
            EXPECT_EQ(value, expect["header"][key].Int()) << key;
        const char* results[] = {"ok", "decode_error_1", "decode_error_2"};
        EXPECT_EQ(Outcome(reader.DecodeTable()), results[expect["table_result"].Int()]);
        ASSERT_EQ(reader.ParseTable('\\'), Status::kOk);

        const EntryTable& table = reader.entries();
        const Json& entries = expect["table_entries"];
        ASSERT_EQ(static_cast<std::size_t>(table.entryCount), entries.items.size());
        for (int i = 0; i < table.entryCount; ++i) {
            const std::string_view n = table.names.Item(i);
            EXPECT_EQ(test::ToHex(reinterpret_cast<const std::uint8_t*>(n.data()), n.size()),
                      entries[i]["name_hex"].text);
            EXPECT_EQ(table.sizes[i], entries[i]["size"].Int());
            EXPECT_EQ(table.times[i], std::uint32_t(entries[i]["time"].Int()));
        }
        std::vector<std::vector<std::int64_t>> batches, expectedBatches;
        for (const Batch& b : reader.batches()) batches.push_back({b.first, b.count, b.total});
        for (const Json& b : expect["batches"].items)
            expectedBatches.push_back({b[0].Int(), b[1].Int(), b[2].Int()});
        EXPECT_EQ(batches, expectedBatches);
        EXPECT_EQ(Outcome(reader.ForEachEntry(
                      [&](std::int32_t, const std::uint8_t* data, std::int32_t size) {
                          digests.push_back(test::Sha256Hex(data, static_cast<std::size_t>(size)));
                          return true;
                      })),
                  outcome);
        EXPECT_EQ(digests, expectedDigests);
        EXPECT_EQ(trickle.closed, 0);
    }
    EXPECT_EQ(trickle.closed, source == Source::kTrickle ? 1 : 0);  // once, when the reader is done
    if (source != Source::kPath) return;

    test::Feed feed;
    feed.password.assign(pw.begin(), pw.end());
    feed.offset = static_cast<std::size_t>(expect["header"]["offset"].Int());
    const int result = test::DecodeBothForms(file, feed).result;
    EXPECT_EQ(result == 0 ? "ok" : "decode_error_" + std::to_string(result), outcome);
}

INSTANTIATE_TEST_SUITE_P(Reference, Vector,
                         testing::Combine(testing::ValuesIn(test::VectorNames()),
                                          testing::Values(Source::kPath, Source::kMemory,
                                                          Source::kTrickle)));

Status OpenAndRead(ArchiveReader& reader, const Bytes& file, std::size_t cut = 0) {
    const Status status = reader.Open(file.data(), file.size() - cut);
    return status != Status::kOk ? status : reader.ReadTable('/');
}

Bytes Written(const std::vector<ArchiveEntry>& entries, bool inner = false) {
    WriteOptions options;
    options.insertInner = inner;
    Bytes archive;
    EXPECT_EQ(WriteArchive(entries, options, archive, nullptr), Status::kOk);
    return archive;
}

// A header at the start, or through a self-extracting trailer (the archive's
// length in the last 4 bytes), and what is no archive.
TEST(ArchiveStream, HeaderAtTheStartOrThroughTheTrailer) {
    ArchiveHeader h;
    h.flags = 0xF8 | 3;  // bits above the three defined ones are not looked at
    h.totalSize = 77;
    h.tableSize = 8;
    Bytes header(kHeaderSize);
    FormatHeader(h, header.data());
    const auto file = [](std::initializer_list<Bytes> parts, std::uint32_t trailer) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        AppendBigEndian32(out, trailer);
        return out;
    };
    const Bytes q = {'q', 'k', '0', '1'};
    const std::tuple<Bytes, Status, std::int64_t, std::int32_t> rows[] = {
        {file({header}, 0x40), Status::kOk, 0, 69},  // a header at the start wins
        {file({Bytes(1000, 0x90), header, {1, 2}}, 22), Status::kOk, 1000, 69},
        {file({q, Bytes(16, 0)}, 0), Status::kOk, 0, 0},  // only a signature
        {Bytes(10, 'q'), Status::kReadFailure, 0, 0},
        {file({Bytes(40, 0)}, 0xFFFFFFF0), Status::kNotArchive, 0, 0},          // before the start
        {file({Bytes(40, 0), q}, 4), Status::kNotArchive, 0, 0},                // into the trailer
        {file({Bytes(40, 0), Bytes(20, 'x')}, 20), Status::kNotArchive, 0, 0},  // no signature
    };
    for (const auto& [bytes, status, offset, dataSize] : rows) {
        ArchiveReader reader;
        ASSERT_EQ(reader.Open(bytes.data(), bytes.size()), status) << offset << " " << dataSize;
        if (status != Status::kOk) continue;
        EXPECT_EQ(reader.header().offset, offset);
        EXPECT_EQ(reader.header().dataSize(), dataSize);
        EXPECT_EQ(reader.header().largeModel() && reader.header().insertInner(), dataSize > 0);
    }
    EXPECT_EQ(ArchiveReader().Open(test::TempDir().path() + "/none.qk1"), Status::kOpenFailure);
}

// What a walk did, one line per call; `stopAt` answers false to that call.
struct Log {
    std::vector<std::string> lines;
    int stopAt = -1;
    bool Add(const std::string& line) {
        lines.push_back(line);
        return static_cast<int>(lines.size()) - 1 != stopAt;
    }
};

// The walk through ForEachEntry (which decodes ahead on a second thread), or
// the same walk as a plain loop: DecodeBatch, then the entries of the batch.
Status Walk(const Bytes& archive, bool plain, Log& log, std::int32_t step, std::int32_t last) {
    ArchiveReader reader;
    if (OpenAndRead(reader, archive) != Status::kOk) return Status::kBadTable;
    const auto visit = [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
        return log.Add("visit " + std::to_string(i) + " " +
                       test::Sha256Hex(data, std::size_t(size)));
    };
    std::int64_t done = 0;
    const auto progress = [&](std::int64_t n) { return log.Add("progress " + std::to_string(n)); };
    if (!plain) return reader.ForEachEntry(visit, step, progress, last);
    const EntryTable& entries = reader.entries();
    Bytes buffer(static_cast<std::size_t>(std::max(entries.largestSize, 1)));
    for (const Batch& batch : reader.batches()) {
        if (batch.first > last) break;
        const Status status =
            reader.DecodeBatch(batch, buffer.data(), step > 0 ? step : batch.total,
                               [&](std::int32_t n) { return progress(done + n); });
        if (status != Status::kOk) return status;
        for (std::int32_t i = batch.first, at = 0; i < batch.first + batch.count;
             at += entries.sizes[i++])
            if (!visit(i, buffer.data() + at, entries.sizes[i])) return Status::kStopped;
        done += batch.total;
    }
    return Status::kOk;
}

// Text-like entries of mixed sizes, so that references are many; some empty,
// so that some batches hold nothing to decode.
Bytes WalkArchive(std::uint32_t seed, int count, bool inner) {
    std::mt19937 rng(seed);
    const char* words[] = {"walk ", "batch ", "ring ", "slot ", "\n", "0123 "};
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back({"f" + std::to_string(i), 0, {}});
        Bytes& data = entries.back().data;
        for (std::size_t size = rng() % 5 == 0 ? 0 : rng() % 30000; data.size() < size;)
            for (const char* w = words[rng() % 6]; *w; ++w) data.push_back(std::uint8_t(*w));
    }
    return Written(entries, inner);
}

// The same progress calls, visits, bytes and result in the same order, on
// intact archives (also when a progress call or a visit asks to stop, early,
// late and in between) and damaged ones.
TEST(Walk, SameCallsAsThePlainLoop) {
    const Bytes archive = WalkArchive(1, 300, false);
    const auto expectSame = [](const Bytes& a, std::int32_t step, std::int32_t last, int stopAt) {
        Log walked, plain;
        walked.stopAt = plain.stopAt = stopAt;
        const Status status = Walk(a, false, walked, step, last);
        EXPECT_EQ(status, Walk(a, true, plain, step, last));
        EXPECT_EQ(walked.lines, plain.lines) << step << " " << last << " " << stopAt;
        return status != Status::kOk;
    };
    for (std::int32_t step : {0, 1000, 7777, 100000})
        for (std::int32_t last : {299, 123}) expectSame(archive, step, last, -1);
    Log full;
    Walk(archive, false, full, 1000, 299);
    const int calls = static_cast<int>(full.lines.size());
    for (int stopAt : {0, 1, 2, 17, calls / 3, calls / 2, calls - 2, calls - 1})
        expectSame(archive, 1000, 299, stopAt);

    const Bytes other = WalkArchive(2, 120, true);
    std::mt19937 rng(3);
    int failures = 0;
    for (int trial = 0; trial < 60; ++trial) {
        Bytes damaged = other;
        const std::size_t at = 200 + rng() % (damaged.size() - 200);  // past the code block
        damaged[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        if (trial % 3 == 0) damaged.resize(at);  // cut short as well
        failures += expectSame(damaged, 5000, 119, -1);
    }
    EXPECT_GT(failures, 10);  // the damage was seen often enough to matter
}

// Peak resident memory in bytes, or 0 where it cannot be had (or is not
// meaningful: AddressSanitizer's shadow memory counts every allocation).
std::int64_t PeakResident() {
#if defined(__unix__) && !defined(__SANITIZE_ADDRESS__)
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return std::int64_t{usage.ru_maxrss} * 1024;
#endif
    return 0;
}

// The header, then `table` as literals under an all-ones code block and 500
// bytes of 0x55: those decode to the literal 'U' for ever, the filler after
// them too, so only the decoder's own limit can end the stream.
Bytes Hostile(std::int32_t tableSize, const Bytes& table) {
    ArchiveHeader header;
    header.totalSize = 0x7FFFFFFF;
    header.tableSize = tableSize;
    header.entryCount = 1;
    Bytes out(kHeaderSize);
    FormatHeader(header, out.data());
    test::OnesStream w;
    w.Literals(std::string(table.begin(), table.end()));
    const int pad = (8 - w.used) % 8;  // the bits that go on as 0x55 would
    w.Field(0x2A >> (7 - pad), pad);
    out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    out.resize(out.size() + 500, 0x55);
    return out;
}

// A table claiming 2 GB, and one entry claiming 0x7FFFFFF0 bytes: a few
// hundred bytes decode, then result 2, at no cost near the claims, whether
// walked or decoded in steps (which stop at the first).
TEST(HostileArchive, HugeClaimsOverATinyStreamEndAtOnce) {
    const std::int64_t before = PeakResident();
    const Bytes claim = Hostile(0x7FFFFFFF, {});
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(claim.data(), claim.size()), Status::kOk);
    EXPECT_EQ(reader.DecodeTable(), Status::kBadReference);
    EXPECT_EQ(reader.ParseTable('/'), Status::kBadTable);  // the 'U's decoded hold no name's end
    EXPECT_TRUE(reader.batches().empty());

    const Bytes table = test::FromHex("7FFFFFF0 00000000 6100");
    const Bytes huge = Hostile(static_cast<std::int32_t>(table.size()), table);
    ASSERT_EQ(OpenAndRead(reader, huge), Status::kOk);
    ASSERT_EQ(reader.entries().largestSize, 0x7FFFFFF0);
    EXPECT_EQ(
        reader.ForEachEntry([](std::int32_t, const std::uint8_t*, std::int32_t) { return false; }),
        Status::kBadReference);
    EXPECT_LT(PeakResident() - before, std::int64_t{64} << 20);

    ArchiveReader steps;
    ASSERT_EQ(OpenAndRead(steps, huge), Status::kOk);
    // Never written beyond what is decoded: address space, not memory.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[0x7FFFFFF0]);
    if (!buffer) GTEST_SKIP() << "no address space for the claimed entry";
    int calls = 0;
    EXPECT_EQ(steps.DecodeBatch(steps.batches()[0], buffer.get(), 1 << 16,
                                [&](std::int32_t) { return ++calls, true; }),
              Status::kBadReference);
    EXPECT_EQ(calls, 1);
}

// Literals only, so a cut archive still decodes to the end from the filler,
// and says so after its last batch ([first], [second, third]); the walk,
// decoding the second ahead, still hands out every entry.
TEST(HostileArchive, ACutShortArchiveIsToldAfterItsLastBatch) {
    std::mt19937 random(5);
    std::vector<ArchiveEntry> entries;
    for (const std::size_t size : {3000, 2000, 1000}) {
        entries.push_back({"e" + std::to_string(size), 0, Bytes(size)});
        for (auto& b : entries.back().data) b = static_cast<std::uint8_t>(random());
    }
    const Bytes whole = Written(entries);
    for (std::size_t cut = 0; cut <= 12; ++cut) {
        const Status expected = cut == 0 ? Status::kOk : Status::kCutShort;
        ArchiveReader walk, steps;
        ASSERT_EQ(OpenAndRead(walk, whole, cut), Status::kOk);
        std::vector<std::int32_t> visited;
        EXPECT_EQ(walk.ForEachEntry([&](std::int32_t i, const std::uint8_t*, std::int32_t) {
            return visited.push_back(i), true;
        }),
                  expected)
            << cut;
        EXPECT_EQ(visited, (std::vector<std::int32_t>{0, 1, 2})) << cut;
        ASSERT_EQ(OpenAndRead(steps, whole, cut), Status::kOk);
        Bytes buffer(3000);
        ASSERT_EQ(steps.batches().size(), 2u);
        EXPECT_EQ(steps.DecodeBatch(steps.batches()[0], buffer.data()), Status::kOk) << cut;
        EXPECT_EQ(steps.DecodeBatch(steps.batches()[1], buffer.data()), expected) << cut;
    }
}

// Split at the last separator and the last dot that are characters of their
// own: the second byte of a double-byte character is neither, and a lead byte
// at the end stands alone.
TEST(PathParts, SplitsAtTheLastSeparatorAndDot) {
    const std::tuple<std::string, char, const char*, const char*> rows[] = {
        {"C:\\dir\\file.txt", '\\', "C:\\dir\\", ".txt"},
        {"dir.x\\file", '\\', "dir.x\\", ""},
        {".profile", '/', "", ".profile"},
        {"a/b\\c.d.e", '\\', "a/b\\", ".e"},
        {"d\\\x95\x5C", '\\', "d\\", ""},
        {"x\x82.a", '\\', "", ""},
        {"\xE0\x2F/a", '/', "\xE0\x2F/", ""},
        {"a/b\x81", '/', "a/", ""},
        {"\xF0\\x", '\\', "\xF0\\", ""},
    };
    for (const auto& [path, separator, directory, extension] : rows) {
        const PathParts parts(path, separator);
        EXPECT_EQ(parts.directory + parts.base + parts.extension, path);
        EXPECT_EQ(parts.name, parts.base + parts.extension);
        EXPECT_EQ(parts.directory, directory) << path;
        EXPECT_EQ(parts.extension, extension) << path;
    }
    EXPECT_EQ(PathParts("C:\\out\\", "sub\\a.txt", '\\').directory, "C:\\out\\sub\\");
}

}  // namespace
}  // namespace qk
