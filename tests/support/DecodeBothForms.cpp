// The production decoder and the plain form run side by side over an archive:
// GoogleTest failures name the first block where they part.
#include <gtest/gtest.h>

#include <random>

#include "codec/LzDecoder.h"
#include "format/ArchiveHeader.h"
#include "format/EntryTable.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk::test {

Decoded DecodeBothForms(const std::vector<std::uint8_t>& file, const Feed& feed) {
    Decoded decoded;
    ArchiveHeader header;
    if (file.size() < feed.offset + kHeaderSize || !ParseHeader(&file[feed.offset], header)) {
        ADD_FAILURE() << "no archive header at " << feed.offset;
        return {-1, {}};
    }
    Bytes data(file.begin() + static_cast<long>(feed.offset + kHeaderSize), file.end());
    if (header.passwordSet()) {
        const PasswordKey key = DeriveKey(feed.password);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] ^= key.key[i % 4];
    }
    MemoryStream fastInput(data, feed.chunk), plainInput(data);
    LzDecoder fast(&fastInput, header.insertInner(), header.largeModel());
    ReferenceLzDecoder plain(&plainInput, header.insertInner(), header.largeModel());
    std::mt19937 rng(1);
    const auto decodeBlock = [&](std::int32_t size) {
        Bytes a(static_cast<std::size_t>(size) + 1, 0xEE), b(a);
        fast.Reset(a.data(), size);
        plain.Reset(b.data(), size);
        std::int64_t target = 0;
        int result = 0;
        do {
            target += feed.maxStep ? 1 + rng() % feed.maxStep : std::max(size, 1);
            const auto t = static_cast<std::int32_t>(std::min<std::int64_t>(target, size));
            result = fast.Decode(t);
            const int expected = plain.Decode(t);
            if (result != expected || fast.outputPos() != plain.outputPos) {
                ADD_FAILURE() << "block " << decoded.blocks.size() << " to " << t << ": " << result
                              << " at " << fast.outputPos() << ", plainly " << expected << " at "
                              << plain.outputPos;
                result = -1;
            }
        } while (result == 0 && target < size);
        const auto end = a.begin() + std::min(fast.outputPos(), plain.outputPos);
        EXPECT_TRUE(std::equal(a.begin(), end, b.begin())) << "block " << decoded.blocks.size();
        EXPECT_EQ(a.back(), 0xEE) << "written past block " << decoded.blocks.size();
        a.pop_back();
        decoded.blocks.push_back(std::move(a));
        return result;
    };
    decoded.result = decodeBlock(header.tableSize);
    EntryTable table;
    if (decoded.result == 0 && ParseEntryTable(decoded.blocks[0].data(), header.tableSize,
                                               header.entryCount, '/', table)) {
        for (const Batch& batch : FormBatches(table.sizes, table.largestSize))
            if ((decoded.result = decodeBlock(batch.total)) != 0) break;
    }
    if (decoded.result == 0) {  // the margin to the allowance of 64 filler bytes
        EXPECT_FALSE(fast.consumedPastEnd());
        EXPECT_LE(fastInput.endReads, 8);
    }
    return decoded;
}

}  // namespace qk::test
