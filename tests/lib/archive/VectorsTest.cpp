// The reference archives written by an independent implementation of the
// format, each checked against its recorded expectation: header, table,
// batches, outcome and every decoded entry's digest, through the reader from
// a path, from memory and from callbacks that deliver 7 bytes a read, and
// by the plain form beside the production decoder.
#include <gtest/gtest.h>

#include <algorithm>

#include "qk1/ArchiveReader.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using test::Json;

std::string Outcome(Status s) {
    const std::pair<Status, const char*> names[] = {{Status::kOk, "ok"},
                                                    {Status::kOverrun, "decode_error_1"},
                                                    {Status::kBadReference, "decode_error_2"},
                                                    {Status::kNotArchive, "not_archive"},
                                                    {Status::kReadFailure, "read_failure"},
                                                    {Status::kWrongPassword, "wrong_password"}};
    for (const auto& [status, name] : names)
        if (s == status) return name;
    return "other";
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

    // The plain form beside the production decoder: the same result, and the
    // entries of every batch completed hash as recorded.
    test::Feed feed;
    feed.password.assign(pw.begin(), pw.end());
    feed.offset = static_cast<std::size_t>(expect["header"]["offset"].Int());
    const test::Decoded decoded = test::DecodeBothForms(file, feed);
    EXPECT_EQ(decoded.result, outcome == "ok" ? 0 : outcome == "decode_error_1" ? 1 : 2);
    digests.clear();
    for (std::size_t b = 0; b + (decoded.result != 0 ? 2 : 1) < decoded.blocks.size(); ++b) {
        const std::uint8_t* at = decoded.blocks[b + 1].data();
        for (std::int32_t i = 0; i < decoded.batches[b].count; ++i) {
            const auto size =
                static_cast<std::size_t>(decoded.entries.sizes[decoded.batches[b].first + i]);
            digests.push_back(test::Sha256Hex(at, size));
            at += size;
        }
    }
    EXPECT_EQ(digests, expectedDigests);
}

INSTANTIATE_TEST_SUITE_P(Reference, Vector,
                         testing::Combine(testing::ValuesIn(test::VectorNames()),
                                          testing::Values(Source::kPath, Source::kMemory,
                                                          Source::kTrickle)));

}  // namespace
}  // namespace qk
