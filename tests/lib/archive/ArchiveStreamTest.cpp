// Finding the header at the start of a file or through a self-extracting
// trailer (the archive's length in the last 4 bytes), and what is no archive.
#include <gtest/gtest.h>

#include "format/ByteOrder.h"
#include "qk1/ArchiveReader.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

Bytes Concat(std::initializer_list<Bytes> parts, std::uint32_t trailer) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    out.resize(out.size() + 4);
    WriteBigEndian32(trailer, &out[out.size() - 4]);
    return out;
}

TEST(ArchiveStream, HeaderAtTheStartOrThroughTheTrailer) {
    ArchiveHeader h;
    h.flags = 0xF8 | 3;  // bits above the three defined ones are not looked at
    h.totalSize = 77;
    h.tableSize = 8;
    Bytes header(kHeaderSize);
    FormatHeader(h, header.data());
    const Bytes q = {'q', 'k', '0', '1'};
    const struct {
        Bytes file;
        Status status;
        std::int64_t offset;
        std::int32_t dataSize;
    } rows[] = {
        {Concat({header}, 0x40), Status::kOk, 0, 69},  // a header at the start wins
        {Concat({Bytes(1000, 0x90), header, {1, 2}}, 22), Status::kOk, 1000, 69},
        {Concat({q, Bytes(16, 0)}, 0), Status::kOk, 0, 0},  // only a signature
        {Bytes(10, 'q'), Status::kReadFailure, 0, 0},
        {Concat({Bytes(40, 0)}, 0xFFFFFFF0), Status::kNotArchive, 0, 0},  // before the start
        {Concat({Bytes(40, 0), q}, 4), Status::kNotArchive, 0, 0},        // into the trailer
        {Concat({Bytes(40, 0), Bytes(20, 'x')}, 20), Status::kNotArchive, 0, 0},  // no signature
    };
    for (const auto& row : rows) {
        ArchiveReader reader;
        EXPECT_EQ(reader.Open(row.file.data(), row.file.size()), row.status) << &row - rows;
        if (row.status != Status::kOk) continue;
        EXPECT_EQ(reader.header().offset, row.offset);
        EXPECT_EQ(reader.header().dataSize(), row.dataSize);
        EXPECT_EQ(reader.header().largeModel() && reader.header().insertInner(), row.dataSize > 0);
    }
    EXPECT_EQ(ArchiveReader().Open(test::TempDir().path() + "/none.qk1"), Status::kOpenFailure);
}

}  // namespace
}  // namespace qk
