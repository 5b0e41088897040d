// Walks over the entries against the plain loop over the batches (DecodeBatch
// then the entries of the batch, in turn): the same progress calls, visits,
// bytes and result, in the same order, on intact and damaged archives, and
// when a progress call or a visit asks to stop. Batches here are small, so
// the walk decodes ahead on its second thread.
#include <gtest/gtest.h>

#include <random>

#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

// What a walk did, one line per call; `stopAt` answers false to that call.
struct Log {
    std::vector<std::string> lines;
    int stopAt = -1;
    bool Add(const std::string& line) {
        lines.push_back(line);
        return static_cast<int>(lines.size()) - 1 != stopAt;
    }
    bool Visit(std::int32_t i, const std::uint8_t* data, std::int32_t size) {
        return Add("visit " + std::to_string(i) + " " +
                   test::Sha256Hex(data, static_cast<std::size_t>(size)));
    }
};

// The walk through ForEachEntry, or the same walk as a plain loop.
Status Walk(const Bytes& archive, bool plain, Log& log, std::int32_t step, std::int32_t last) {
    ArchiveReader reader;
    if (reader.Open(archive.data(), archive.size()) != Status::kOk ||
        reader.ReadTable('/') != Status::kOk)
        return Status::kBadTable;
    if (!plain)
        return reader.ForEachEntry(
            [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
                return log.Visit(i, data, size);
            },
            step,
            [&](std::int64_t decoded) { return log.Add("progress " + std::to_string(decoded)); },
            last);
    Bytes buffer(static_cast<std::size_t>(std::max(reader.entries().largestSize, 1)));
    std::int64_t done = 0;
    for (const Batch& batch : reader.batches()) {
        if (batch.first > last) break;
        const Status status = reader.DecodeBatch(
            batch, buffer.data(), step > 0 ? step : batch.total, [&](std::int32_t requested) {
                return log.Add("progress " + std::to_string(done + requested));
            });
        if (status != Status::kOk) return status;
        for (std::int32_t i = batch.first, offset = 0; i < batch.first + batch.count;
             offset += reader.entries().sizes[i++])
            if (!log.Visit(i, buffer.data() + offset, reader.entries().sizes[i]))
                return Status::kStopped;
        done += batch.total;
    }
    return Status::kOk;
}

void ExpectSame(const Bytes& archive, std::int32_t step, std::int32_t last, int stopAt = -1) {
    Log walked, plain;
    walked.stopAt = plain.stopAt = stopAt;
    EXPECT_EQ(Walk(archive, false, walked, step, last), Walk(archive, true, plain, step, last));
    EXPECT_EQ(walked.lines, plain.lines)
        << "step " << step << ", last " << last << ", stop at " << stopAt;
}

// Entries of mixed sizes, text-like so that references are many; some empty,
// so that some batches hold nothing to decode.
Bytes Written(std::uint32_t seed, int count, bool inner) {
    std::mt19937 rng(seed);
    const char* words[] = {"walk ", "batch ", "ring ", "slot ", "\n", "0123 "};
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back({"f" + std::to_string(i), 0, {}});
        for (std::size_t size = rng() % 5 == 0 ? 0 : rng() % 30000;
             entries.back().data.size() < size;)
            for (const char* w = words[rng() % 6]; *w; ++w)
                entries.back().data.push_back(static_cast<std::uint8_t>(*w));
    }
    WriteOptions options;
    options.insertInner = inner;
    Bytes archive;
    EXPECT_EQ(WriteArchive(entries, options, archive, nullptr), Status::kOk);
    return archive;
}

TEST(Walk, SameCallsAsThePlainLoop) {
    const Bytes archive = Written(1, 300, false);
    for (std::int32_t step : {0, 1000, 7777, 100000}) {
        ExpectSame(archive, step, 299);
        ExpectSame(archive, step, 123);
    }
    // A stop asked by a progress call or a visit, early, late and in between.
    Log full;
    Walk(archive, false, full, 1000, 299);
    const int calls = static_cast<int>(full.lines.size());
    for (int stopAt : {0, 1, 2, 17, calls / 3, calls / 2, calls - 2, calls - 1})
        ExpectSame(archive, 1000, 299, stopAt);
}

TEST(Walk, DamagedArchivesFailAtTheSamePoint) {
    const Bytes archive = Written(2, 120, true);
    std::mt19937 rng(3);
    int failures = 0;
    for (int trial = 0; trial < 60; ++trial) {
        Bytes damaged = archive;
        const std::size_t at = 200 + rng() % (damaged.size() - 200);  // past the code block
        damaged[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        if (trial % 3 == 0) damaged.resize(at);  // cut short as well
        Log walked, plain;
        const Status status = Walk(damaged, false, walked, 5000, 119);
        EXPECT_EQ(status, Walk(damaged, true, plain, 5000, 119)) << "trial " << trial;
        EXPECT_EQ(walked.lines, plain.lines) << "trial " << trial;
        failures += status != Status::kOk;
    }
    EXPECT_GT(failures, 10);  // the damage was seen often enough to matter
}

// Five entries of 3,000 bytes, a batch each, in steps of 1,000: the progress
// calls give the entry bytes asked for so far, before each step, and the
// visits the entries' own bytes.
TEST(Walk, ProgressCountsTheBytesAskedFor) {
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 5; ++i)
        entries.push_back({"e" + std::to_string(i), 0, Bytes(3000, 'a' + i)});
    Bytes archive;
    ASSERT_EQ(WriteArchive(entries, WriteOptions(), archive, nullptr), Status::kOk);
    Log log, expected;
    EXPECT_EQ(Walk(archive, false, log, 1000, 2), Status::kOk);
    for (int batch = 0; batch < 3; ++batch) {
        for (int step = 0; step < 3; ++step)
            expected.Add("progress " + std::to_string(3000 * batch + 1000 * step));
        expected.Visit(batch, entries[static_cast<std::size_t>(batch)].data.data(), 3000);
    }
    EXPECT_EQ(log.lines, expected.lines);
}

}  // namespace
}  // namespace qk
