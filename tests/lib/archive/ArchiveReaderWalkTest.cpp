// Walks over the entries against the plain loop over the batches (DecodeBatch
// then the entries of the batch, in turn): the same progress calls, visits,
// bytes and result, in the same order, on intact and damaged archives, and
// when a progress call or a visit asks to stop. Batches here are small, so
// the walk decodes ahead on its second thread.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using Status = ArchiveReader::Status;

// Entries of mixed sizes, text-like so that references are many; some
// empty, so that some batches hold nothing to decode.
std::vector<ArchiveEntry> Entries(std::uint32_t seed, int count) {
    std::mt19937 rng(seed);
    const char* words[] = {"walk ", "batch ", "ring ", "slot ", "\n", "0123 "};
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < count; ++i) {
        ArchiveEntry e;
        e.name = "f" + std::to_string(i);
        const std::size_t size = rng() % 5 == 0 ? 0 : rng() % 30000;
        while (e.data.size() < size) {
            const std::string w = words[rng() % 6];
            e.data.insert(e.data.end(), w.begin(), w.end());
        }
        e.data.resize(size);
        entries.push_back(std::move(e));
    }
    return entries;
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

std::string VisitLine(std::int32_t i, const std::uint8_t* data, std::int32_t size) {
    std::uint32_t sum = 2166136261u;
    for (std::int32_t k = 0; k < size; ++k) sum = (sum ^ data[k]) * 16777619u;
    return "visit " + std::to_string(i) + " " + std::to_string(size) + " " + std::to_string(sum);
}

class WalkTest : public testing::Test {
  protected:
    void Save(const Bytes& archive) { test::WriteFileBytes(path_, archive); }

    // False when the archive does not open as far as its batches.
    bool Open(ArchiveReader& reader) {
        return reader.Open(path_) == Status::kOk && reader.ReadTable('\\') == Status::kOk;
    }

    // The walk through ForEachEntry.
    Status Walk(Log& log, std::int32_t step, std::int32_t last) {
        ArchiveReader reader;
        if (!Open(reader)) return Status::kBadTable;
        return reader.ForEachEntry(
            [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
                return log.Add(VisitLine(i, data, size));
            },
            step,
            [&](std::int64_t decoded) { return log.Add("progress " + std::to_string(decoded)); },
            last);
    }

    // The same walk as a plain loop over DecodeBatch.
    Status Plain(Log& log, std::int32_t step, std::int32_t last) {
        ArchiveReader reader;
        if (!Open(reader)) return Status::kBadTable;
        Bytes buffer(static_cast<std::size_t>(std::max(reader.entries().largestSize, 1)));
        std::int64_t done = 0;
        for (const Batch& batch : reader.batches()) {
            if (batch.first > last) break;
            const Status status = reader.DecodeBatch(
                batch, buffer.data(), step > 0 ? step : batch.total, [&](std::int32_t requested) {
                    return log.Add("progress " + std::to_string(done + requested));
                });
            if (status != Status::kOk) return status;
            std::int32_t offset = 0;
            for (std::int32_t i = batch.first; i < batch.first + batch.count; ++i) {
                const std::int32_t size = reader.entries().sizes[i];
                if (!log.Add(VisitLine(i, buffer.data() + offset, size))) return Status::kStopped;
                offset += size;
            }
            done += batch.total;
        }
        return Status::kOk;
    }

    // Both walks with the same settings give the same log and result.
    void ExpectSame(std::int32_t step, std::int32_t last, int stopAt, const std::string& what) {
        Log walked, plain;
        walked.stopAt = plain.stopAt = stopAt;
        const Status a = Walk(walked, step, last);
        const Status b = Plain(plain, step, last);
        EXPECT_EQ(a, b) << what;
        EXPECT_EQ(walked.lines, plain.lines) << what;
    }

    test::TempDir dir_;
    std::string path_ = dir_.path() + "/walk.qk1";
};

TEST_F(WalkTest, SameCallsAsThePlainLoop) {
    const std::vector<ArchiveEntry> entries = Entries(1, 300);
    Bytes archive;
    ASSERT_EQ(WriteArchive(entries, WriteOptions(), archive, nullptr), Status::kOk);
    Save(archive);
    {
        ArchiveReader reader;
        ASSERT_TRUE(Open(reader));
        ASSERT_GT(reader.batches().size(), 50u);
    }
    // The bytes are right, not only alike.
    ArchiveReader reader;
    ASSERT_TRUE(Open(reader));
    int visited = 0;
    EXPECT_EQ(reader.ForEachEntry([&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
        EXPECT_EQ(Bytes(data, data + size), entries[static_cast<std::size_t>(i)].data);
        ++visited;
        return true;
    }),
              Status::kOk);
    EXPECT_EQ(visited, 300);

    for (std::int32_t step : {0, 1000, 7777, 100000}) {
        ExpectSame(step, 299, -1, "whole, step " + std::to_string(step));
        ExpectSame(step, 123, -1, "to entry 123, step " + std::to_string(step));
    }
    // A stop asked by a progress call or a visit, early, late and in between.
    Log full;
    Walk(full, 1000, 299);
    const int calls = static_cast<int>(full.lines.size());
    for (int stopAt : {0, 1, 2, 17, calls / 3, calls / 2, calls - 2, calls - 1}) {
        ExpectSame(1000, 299, stopAt, "stop at call " + std::to_string(stopAt));
    }
}

TEST_F(WalkTest, DamagedArchivesFailAtTheSamePoint) {
    WriteOptions options;
    options.insertInner = true;
    Bytes archive;
    ASSERT_EQ(WriteArchive(Entries(2, 120), options, archive, nullptr), Status::kOk);
    std::mt19937 rng(3);
    int failures = 0;
    for (int trial = 0; trial < 60; ++trial) {
        Bytes damaged = archive;
        // Past the header, the code block and the table's start.
        const std::size_t at = 200 + rng() % (damaged.size() - 200);
        damaged[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        if (trial % 3 == 0) damaged.resize(at);  // cut short as well
        Save(damaged);
        Log walked, plain;
        const Status a = Walk(walked, 5000, 119);
        const Status b = Plain(plain, 5000, 119);
        EXPECT_EQ(a, b) << "trial " << trial;
        EXPECT_EQ(walked.lines, plain.lines) << "trial " << trial;
        if (a != Status::kOk) ++failures;
    }
    EXPECT_GT(failures, 10);  // the damage was seen often enough to matter
}

// Where the data ends, after a walk over every entry: the end of the archive
// the writer made, whatever comes after it, in a plain archive and in a
// self-extracting one, scrambled or not.
TEST(DataEnd, IsTheEndOfTheWrittenArchive) {
    std::mt19937 rng(5);
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 5; ++i) {
        Bytes data(static_cast<std::size_t>(rng() % 3000));
        for (auto& b : data) b = static_cast<std::uint8_t>("abcab\n"[rng() % 6]);
        entries.push_back({"e" + std::to_string(i), 0, data});
    }
    struct Case {
        const char* what;
        bool password;
        std::size_t program;   // bytes of a program before the archive (0: a plain archive)
        std::size_t appended;  // bytes after the archive (before a trailer)
    };
    for (const Case c :
         {Case{"plain", false, 0, 0}, Case{"scrambled", true, 0, 0},
          Case{"followed by bytes", false, 0, 100}, Case{"self-extracting", true, 3000, 0}}) {
        SCOPED_TRACE(c.what);
        WriteOptions options;
        options.usePassword = c.password;
        options.password = "pw";
        Bytes archive;
        ASSERT_EQ(WriteArchive(entries, options, archive, nullptr), Status::kOk);
        const std::int64_t end = static_cast<std::int64_t>(c.program + archive.size());
        Bytes file;
        if (c.program > 0) {
            ASSERT_EQ(MakeSelfExtracting(Bytes(c.program, 0x90), archive, file), Status::kOk);
        } else {
            file = archive;
            file.resize(file.size() + c.appended, 0x55);
        }
        ArchiveReader reader;
        ASSERT_EQ(reader.Open(file.data(), file.size()), Status::kOk);
        EXPECT_EQ(reader.dataEnd(), -1);
        if (c.password) {
            ASSERT_EQ(reader.CheckPassword("pw"), Status::kOk);
        }
        ASSERT_EQ(reader.ReadTable('/'), Status::kOk);
        ASSERT_EQ(reader.ForEachEntry(
                      [](std::int32_t, const std::uint8_t*, std::int32_t) { return true; }),
                  Status::kOk);
        EXPECT_EQ(reader.dataEnd(), end);
    }
}

}  // namespace
}  // namespace qk
