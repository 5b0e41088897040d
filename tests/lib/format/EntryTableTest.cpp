// Parsing the decoded entry table and cutting it into batches.
#include <gtest/gtest.h>

#include "format/EntryTable.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

bool Parses(const std::uint8_t* table, std::int32_t size, std::int32_t count, char separator) {
    EntryTable parsed;
    return ParseEntryTable(table, size, count, separator, parsed);
}

Bytes MakeTable(const std::vector<std::int32_t>& sizes, const std::vector<std::string>& names) {
    Bytes t;
    auto put = [&t](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) t.push_back(static_cast<std::uint8_t>(v >> s));
    };
    for (auto s : sizes) put(static_cast<std::uint32_t>(s));
    for (std::size_t i = 0; i < sizes.size(); ++i) put(1000 + static_cast<std::uint32_t>(i));
    for (const auto& n : names) {
        t.insert(t.end(), n.begin(), n.end());
        t.push_back(0);
    }
    return t;
}

TEST(EntryTable, NamesAreNormalisedAndTrailBytesKept) {
    const Bytes t = MakeTable({5, 7, 0}, {"dir/sub\\a.txt", "\x95\x5C/x", "e\x81"});
    EntryTable table;
    ASSERT_TRUE(ParseEntryTable(t.data(), static_cast<std::int32_t>(t.size()), 3, '\\', table));
    EXPECT_EQ(table.names.Item(0), "dir\\sub\\a.txt");
    EXPECT_EQ(table.names.Item(1), "\x95\x5C\\x");  // 0x5C after a lead byte stays
    EXPECT_EQ(table.names.Item(2), "e\x81");        // a lead byte before the end
    EXPECT_EQ(table.largestSize, 7);
    EXPECT_EQ(table.times[2], 1002u);

    EntryTable posix;
    ASSERT_TRUE(ParseEntryTable(t.data(), static_cast<std::int32_t>(t.size()), 3, '/', posix));
    EXPECT_EQ(posix.names.Item(0), "dir/sub/a.txt");
    EXPECT_EQ(posix.names.Item(1), "\x95\x5C/x");
}

TEST(EntryTable, InconsistentTablesAreRejected) {
    const Bytes t = MakeTable({5, 7}, {"a", "b"});
    const auto size = static_cast<std::int32_t>(t.size());
    EntryTable table;
    EXPECT_TRUE(Parses(t.data(), size, 2, '/'));
    EXPECT_FALSE(Parses(t.data(), size - 1, 2, '/'));  // last name loses its zero
    EXPECT_FALSE(Parses(t.data(), 12, 2, '/'));        // 8N beyond the table
    EXPECT_FALSE(Parses(t.data(), size, -1, '/'));
    EXPECT_FALSE(Parses(t.data(), size, 3, '/'));
    const Bytes negative = MakeTable({-5}, {"a"});
    EXPECT_FALSE(
        Parses(negative.data(), static_cast<std::int32_t>(negative.size()), 1, '/'));
    EntryTable empty;
    EXPECT_TRUE(ParseEntryTable(t.data(), 0, 0, '/', empty));
    EXPECT_EQ(empty.largestSize, 0);
    EXPECT_TRUE(FormBatches(empty.sizes, 0).empty());
}

TEST(FormBatches, TakeEntriesWhileTheSumFitsTheLargest) {
    auto cut = [](std::vector<std::int32_t> sizes) {
        std::int32_t largest = 0;
        for (auto s : sizes) largest = std::max(largest, s);
        std::vector<std::vector<std::int32_t>> out;
        for (const Batch& b : FormBatches(sizes, largest)) {
            out.push_back({b.first, b.count, b.total});
        }
        return out;
    };
    using V = std::vector<std::vector<std::int32_t>>;
    EXPECT_EQ(cut({100, 50, 60, 100}), (V{{0, 1, 100}, {1, 1, 50}, {2, 1, 60}, {3, 1, 100}}));
    EXPECT_EQ(cut({30, 30, 40, 100}), (V{{0, 3, 100}, {3, 1, 100}}));
    EXPECT_EQ(cut({0, 0, 5}), (V{{0, 3, 5}}));
    EXPECT_EQ(cut({0, 0}), (V{{0, 2, 0}}));
    EXPECT_EQ(cut({5, 0, 5, 0}), (V{{0, 2, 5}, {2, 2, 5}}));
}

}  // namespace
}  // namespace qk
