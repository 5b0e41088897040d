// Key derivation, the scrambling of reads, and finding the header at the start
// of a file or through a self-extracting trailer, from a file and from memory.
#include <gtest/gtest.h>

#include <list>

#include "archive/ArchiveStream.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

std::uint32_t KeyWord(const PasswordKey& k) {
    return (std::uint32_t{k.key[0]} << 24) | (std::uint32_t{k.key[1]} << 16) |
           (std::uint32_t{k.key[2]} << 8) | k.key[3];
}

TEST(DeriveKey, SignedBytesIndexAndLengthEnterAsTheFormatSays) {
    // One byte 0xFF at position 0: v = -1. P = 1 * -1, S = 1 - 1 = 0,
    // D = 1 + 1 = 2, X = 1 ^ -1; K = P + D*S + X = -1 + 0 + 0xFFFFFFFE.
    const PasswordKey k = DeriveKey(std::string("\xFF", 1));
    EXPECT_EQ(KeyWord(k), 0xFFFFFFFFu + 0u + 0xFFFFFFFEu);
    EXPECT_EQ(k.check, static_cast<std::uint8_t>(1 + (0 ^ 0xFF)));

    // 256 bytes: the length enters modulo 256, so everything starts at 0 and
    // the product stays 0.
    const std::string long256(256, 'a');
    std::uint32_t sum = 0, diff = 0, x = 0;
    std::uint8_t check = 0;
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint32_t v = std::uint32_t{'a'} ^ i;
        sum += v, diff -= v, x ^= v;
        check = static_cast<std::uint8_t>(check + ((i & 0xFF) ^ 'a'));
    }
    const std::uint32_t k256 = 0 + diff * sum + x;
    const PasswordKey got = DeriveKey(long256);
    EXPECT_EQ(KeyWord(got), k256);
    EXPECT_EQ(got.check, check);
}

// Every case runs over a file (false) and over memory (true).
class ArchiveFile : public testing::TestWithParam<bool> {
  protected:
    InputCallbacks Write(const Bytes& bytes) {
        if (GetParam()) {
            kept_.push_back(bytes);
            return ArchiveStream::MemorySource(kept_.back().data(), kept_.back().size());
        }
        const std::string path = dir_.path() + "/a.qk1";
        test::WriteFileBytes(path, bytes);
        return ArchiveStream::FileSource(platform::OpenForRead(path));
    }
    static Bytes Header(std::uint8_t flags, std::uint32_t total) {
        ArchiveHeader h;
        h.flags = flags;
        h.passwordCheck = 0x5A;
        h.totalSize = static_cast<std::int32_t>(total);
        h.tableSize = 8;
        h.entryCount = 1;
        Bytes b(kHeaderSize);
        FormatHeader(h, b.data());
        return b;
    }
    test::TempDir dir_;
    std::list<Bytes> kept_;
};

INSTANTIATE_TEST_SUITE_P(FileAndMemory, ArchiveFile, testing::Bool());

TEST_P(ArchiveFile, ReadsUnscrambleWithTheKeyRestartingAtEachRead) {
    Bytes file = Header(4, 100);
    for (int i = 0; i < 517; ++i) file.push_back(static_cast<std::uint8_t>(i));
    ArchiveStream stream(Write(file));
    ArchiveHeader h;
    ASSERT_EQ(stream.ReadHeader(h), ArchiveStream::HeaderResult::kOk);
    EXPECT_TRUE(h.passwordSet());
    EXPECT_EQ(h.passwordCheck, 0x5A);
    const std::uint8_t key[4] = {0x10, 0x20, 0x30, 0x40};
    stream.SetKey(key);
    std::uint8_t buf[512];
    ASSERT_EQ(stream.Read(buf, 512), 512);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(buf[i], static_cast<std::uint8_t>(i) ^ key[i % 4]);
    ASSERT_EQ(stream.Read(buf, 512), 5);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(buf[i], static_cast<std::uint8_t>(512 + i) ^ key[i % 4]);
    EXPECT_EQ(stream.Read(buf, 512), 0);
}

TEST_P(ArchiveFile, HeaderAtStartWinsOverATrailer) {
    Bytes file = Header(0xF8 | 3, 77);  // high flag bits are not examined
    file.insert(file.end(), {1, 2, 3, 0, 0, 0, 0x40});
    ArchiveStream stream(Write(file));
    ArchiveHeader h;
    ASSERT_EQ(stream.ReadHeader(h), ArchiveStream::HeaderResult::kOk);
    EXPECT_EQ(h.offset, 0);
    EXPECT_TRUE(h.largeModel() && h.insertInner() && !h.passwordSet());
    EXPECT_EQ(h.totalSize, 77);
    EXPECT_EQ(h.dataSize(), 69);
    std::uint8_t first;
    ASSERT_EQ(stream.Read(&first, 1), 1);
    EXPECT_EQ(first, 1);  // positioned right behind the header
}

TEST_P(ArchiveFile, SelfExtractingFileIsFoundThroughItsTrailer) {
    Bytes file(1000, 0x90);  // a program image
    const Bytes archive = [] {
        Bytes a = Header(0, 5);
        a.insert(a.end(), {9, 8, 7});
        return a;
    }();
    file.insert(file.end(), archive.begin(), archive.end());
    const std::uint32_t n = static_cast<std::uint32_t>(archive.size());
    file.insert(file.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                             static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    ArchiveStream stream(Write(file));
    ArchiveHeader h;
    ASSERT_EQ(stream.ReadHeader(h), ArchiveStream::HeaderResult::kOk);
    EXPECT_EQ(h.offset, 1000);
    std::uint8_t buf[512];
    ASSERT_EQ(stream.Read(buf, 512), 7);  // the data, then the trailer bytes
    EXPECT_EQ(buf[0], 9);
}

TEST_P(ArchiveFile, BadTrailersAndShortFilesAreNotArchives) {
    ArchiveHeader h;
    {
        ArchiveStream s(Write(Bytes(10, 'q')));
        EXPECT_EQ(s.ReadHeader(h), ArchiveStream::HeaderResult::kReadFailure);
    }
    {  // a trailer pointing before the start of the file
        Bytes f(40, 0);
        f.insert(f.end(), {0xFF, 0xFF, 0xFF, 0xF0});
        ArchiveStream s(Write(f));
        EXPECT_EQ(s.ReadHeader(h), ArchiveStream::HeaderResult::kNotArchive);
    }
    {  // a trailer whose 20 bytes would run into the trailer itself: no stale bytes
        Bytes f(40, 0);
        f.insert(f.end(), {'q', 'k', '0', '1', 0, 0, 0, 4});
        ArchiveStream s(Write(f));
        EXPECT_EQ(s.ReadHeader(h), ArchiveStream::HeaderResult::kNotArchive);
    }
    {  // a signature at the start but nothing else passes the header check
        Bytes f = {'q', 'k', '0', '1'};
        f.resize(20, 0);
        ArchiveStream s(Write(f));
        EXPECT_EQ(s.ReadHeader(h), ArchiveStream::HeaderResult::kOk);
    }
    ArchiveStream missing(ArchiveStream::FileSource(platform::OpenForRead(dir_.path() + "/none.qk1")));
    EXPECT_FALSE(missing.isOpen());
}

}  // namespace
}  // namespace qk
