// The reference archives written by an independent implementation of the
// format, each checked against its recorded expectation: header, table,
// batches, the failing batch and every decoded entry's digest. The production
// decoder and the plain reference form must both agree with it, and the
// reader gives the same from a path, from memory and from callbacks that
// deliver a few bytes at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "format/ArchiveHeader.h"
#include "codec/LzDecoder.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveReader.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;
using test::Json;

std::string Outcome(ArchiveReader::Status s) {
    switch (s) {
        case ArchiveReader::Status::kOk:
            return "ok";
        case ArchiveReader::Status::kOverrun:
            return "decode_error_1";
        case ArchiveReader::Status::kBadReference:
            return "decode_error_2";
        case ArchiveReader::Status::kNotArchive:
            return "not_archive";
        case ArchiveReader::Status::kReadFailure:
            return "read_failure";
        case ArchiveReader::Status::kWrongPassword:
            return "wrong_password";
        default:
            return "other";
    }
}

// kStdio: an open stdio stream without a file descriptor (POSIX fmemopen),
// whose size is found by seeking.
enum class Source { kPath, kMemory, kTrickle, kStdio };

// A caller's source over memory that hands out at most 7 bytes a read.
struct Trickle {
    const Bytes& bytes;
    std::size_t position = 0;
    bool closed = false;

    InputCallbacks Callbacks() {
        InputCallbacks c;
        c.context = this;
        c.read = [](void* t, std::uint8_t* buffer, std::int64_t count) -> std::int64_t {
            Trickle& self = *static_cast<Trickle*>(t);
            const std::size_t n = std::min<std::size_t>(
                {7, static_cast<std::size_t>(count), self.bytes.size() - self.position});
            std::copy_n(self.bytes.begin() + static_cast<long>(self.position), n, buffer);
            self.position += n;
            return static_cast<std::int64_t>(n);
        };
        c.seek = [](void* t, std::int64_t offset) {
            Trickle& self = *static_cast<Trickle*>(t);
            if (offset < 0 || static_cast<std::size_t>(offset) > self.bytes.size()) return false;
            self.position = static_cast<std::size_t>(offset);
            return true;
        };
        c.size = [](void* t) {
            return static_cast<std::int64_t>(static_cast<Trickle*>(t)->bytes.size());
        };
        c.close = [](void* t) { static_cast<Trickle*>(t)->closed = true; };
        return c;
    }
};

class VectorTest : public testing::TestWithParam<std::string> {};
class VectorSourceTest : public testing::TestWithParam<std::tuple<std::string, Source>> {};

TEST_P(VectorSourceTest, DecodesAsRecorded) {
    const auto& [name, source] = GetParam();
    const Json expect = test::LoadVectorExpectation(name);
    const std::string path = test::VectorsDir() + "/" + name + ".qk1";
    const Bytes file = test::ReadFileBytes(path);
    ASSERT_EQ(test::Sha256Hex(file.data(), file.size()), expect["file_sha256"].text);

    Trickle trickle{file};
    ArchiveReader reader;
    ArchiveReader::Status status = Status::kOpenFailure;
    switch (source) {
        case Source::kPath:
            status = reader.Open(path);
            break;
        case Source::kMemory:
            status = reader.Open(file.data(), file.size());
            break;
        case Source::kTrickle:
            status = reader.Open(trickle.Callbacks());
            break;
        case Source::kStdio:
#ifdef _WIN32
            GTEST_SKIP() << "no fmemopen";
#else
            status = reader.Open(::fmemopen(const_cast<std::uint8_t*>(file.data()), file.size(), "rb"));
#endif
            break;
    }
    const std::string outcome = expect["outcome"].text;
    if (status != ArchiveReader::Status::kOk) {
        EXPECT_EQ(Outcome(status), outcome);
        return;
    }
    const Json& h = expect["header"];
    EXPECT_EQ(reader.header().offset, h["offset"].Int());
    EXPECT_EQ(reader.header().flags, h["flags"].Int());
    EXPECT_EQ(reader.header().totalSize, h["total_size"].Int());
    EXPECT_EQ(reader.header().tableSize, h["table_size"].Int());
    EXPECT_EQ(reader.header().entryCount, h["entry_count"].Int());
    EXPECT_EQ(reader.header().dataSize(), h["data_size"].Int());

    std::string password;
    if (reader.header().passwordSet()) {
        if (expect["password_hex"].IsNull()) {
            EXPECT_EQ(outcome, "no_password");
            return;
        }
        const Bytes pw = test::FromHex(expect["password_hex"].text);
        password.assign(pw.begin(), pw.end());
        if (reader.CheckPassword(password) != Status::kOk) {
            EXPECT_EQ(outcome, "wrong_password");
            return;
        }
    }
    status = reader.DecodeTable();
    EXPECT_EQ(status == ArchiveReader::Status::kOk        ? 0
              : status == ArchiveReader::Status::kOverrun ? 1
                                                          : 2,
              expect["table_result"].Int());
    ASSERT_EQ(reader.ParseTable('\\'), ArchiveReader::Status::kOk);

    const EntryTable& table = reader.entries();
    const Json& entries = expect["table_entries"];
    ASSERT_EQ(static_cast<std::size_t>(table.entryCount), entries.items.size());
    for (int i = 0; i < table.entryCount; ++i) {
        const std::string n(table.names.Item(i));
        EXPECT_EQ(test::ToHex(reinterpret_cast<const std::uint8_t*>(n.data()), n.size()),
                  entries[i]["name_hex"].text);
        EXPECT_EQ(table.sizes[i], entries[i]["size"].Int());
        EXPECT_EQ(table.times[i], static_cast<std::uint32_t>(entries[i]["time"].Int()));
    }

    const std::vector<Batch> batches = reader.batches();
    const Json& expectedBatches = expect["batches"];
    ASSERT_EQ(batches.size(), expectedBatches.items.size());
    for (std::size_t b = 0; b < batches.size(); ++b) {
        EXPECT_EQ(batches[b].first, expectedBatches[b][0].Int());
        EXPECT_EQ(batches[b].count, expectedBatches[b][1].Int());
        EXPECT_EQ(batches[b].total, expectedBatches[b][2].Int());
    }

    std::vector<std::string> digests;
    status = reader.ForEachEntry([&](std::int32_t, const std::uint8_t* data, std::int32_t size) {
        digests.push_back(test::Sha256Hex(data, static_cast<std::size_t>(size)));
        return true;
    });
    EXPECT_EQ(Outcome(status), outcome);
    const Json& decoded = expect["entries_decoded"];
    ASSERT_EQ(digests.size(), decoded.items.size());
    for (std::size_t i = 0; i < digests.size(); ++i)
        EXPECT_EQ(digests[i], decoded[i]["sha256"].text);
}

// The plain form decodes every vector to the same bytes and results.
TEST_P(VectorTest, PlainFormAgrees) {
    const std::string name = GetParam();
    const Json expect = test::LoadVectorExpectation(name);
    if (expect["outcome"].text == "not_archive" || expect["outcome"].text == "read_failure") return;
    const Bytes file = test::ReadFileBytes(test::VectorsDir() + "/" + name + ".qk1");
    const std::size_t offset = static_cast<std::size_t>(expect["header"]["offset"].Int());
    Bytes data(file.begin() + static_cast<long>(offset) + 20, file.end());
    if (!expect["password_hex"].IsNull()) {
        const Bytes pw = test::FromHex(expect["password_hex"].text);
        const PasswordKey key = DeriveKey(std::string(pw.begin(), pw.end()));
        for (std::size_t i = 0; i < data.size(); ++i) data[i] ^= key.key[i % 4];
    }
    const int flags = static_cast<int>(expect["header"]["flags"].Int());
    test::MemoryStream a(data), b(data);
    LzDecoder fast(&a, flags & 2, flags & 1);
    test::ReferenceLzDecoder plain(&b, flags & 2, flags & 1);
    std::vector<int> sizes{static_cast<int>(expect["header"]["table_size"].Int())};
    for (const Json& batch : expect["batches"].items)
        sizes.push_back(static_cast<int>(batch[2].Int()));
    for (int size : sizes) {
        Bytes x(size), y(size);
        fast.Reset(x.data(), size);
        plain.Reset(y.data(), size);
        const int rx = fast.Decode(size);
        ASSERT_EQ(rx, plain.Decode(size));
        ASSERT_EQ(x, y);
        if (rx != 0) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Reference, VectorTest, testing::ValuesIn(test::VectorNames()));
INSTANTIATE_TEST_SUITE_P(Reference, VectorSourceTest,
                         testing::Combine(testing::ValuesIn(test::VectorNames()),
                                          testing::Values(Source::kPath, Source::kMemory,
                                                          Source::kTrickle, Source::kStdio)));

// The reader calls a caller's close once, when it lets go of the source.
TEST(ReaderSource, CallbacksAreClosedWhenTheReaderIsDone) {
    const Bytes file = test::ReadFileBytes(test::VectorsDir() + "/basic.qk1");
    Trickle first{file}, second{file};
    {
        ArchiveReader reader;
        ASSERT_EQ(reader.Open(first.Callbacks()), Status::kOk);
        EXPECT_FALSE(first.closed);
        ASSERT_EQ(reader.Open(second.Callbacks()), Status::kOk);  // a second open lets go of the first
        EXPECT_TRUE(first.closed);
        EXPECT_EQ(reader.sourceSize(), static_cast<std::int64_t>(file.size()));
    }
    EXPECT_TRUE(second.closed);
}

}  // namespace
}  // namespace qk
