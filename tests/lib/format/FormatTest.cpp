// The rules of the format that reader and writer share: the code
// construction (its merge order and tie-breaks decide every codeword), the
// password's key, the entry table and the batch rule.
#include <gtest/gtest.h>

#include <random>

#include "format/ArchiveHeader.h"
#include "format/ByteOrder.h"
#include "format/CodeModel.h"
#include "format/EntryTable.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

// Complete sets give the canonical code, longest first, then by symbol;
// others what the merging makes of them, a length 0 sorting last. Random
// sets of every alphabet size, zeros and 31s included (chains of codewords
// past 32 bits): bit for bit the plain construction's.
TEST(BuildCode, WorkedExamplesAndThePlainConstruction) {
    const std::pair<std::vector<std::uint32_t>, std::vector<std::string>> worked[] = {
        {{1, 2, 3, 3}, {"1", "01", "000", "001"}},
        {{3, 3, 3, 3, 3}, {"01", "10", "11", "000", "001"}},
        {{0, 0, 0, 0, 2, 2, 2, 2}, {"10", "110", "1110", "1111", "000", "001", "010", "011"}}};
    for (const auto& [lengths, words] : worked) {
        const test::PlainCode plain = test::BuildPlainCode(lengths);
        for (std::size_t i = 0; i < words.size(); ++i) {
            EXPECT_EQ(plain.lengths[i], words[i].size());
            EXPECT_EQ(plain.codes[i] >> (32 - words[i].size()), std::stoul(words[i], nullptr, 2));
        }
    }
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> lengths(round % 3 == 0 ? 128 : round % 3 == 1 ? 768 : 1280);
        const std::uint32_t top = round % 4 == 0 ? 32 : 1 + rng() % 16;
        for (std::uint8_t& l : lengths) l = static_cast<std::uint8_t>(rng() % top);
        std::vector<std::uint32_t> codes(lengths.size());
        std::vector<std::uint16_t> bits(lengths.size());
        ASSERT_TRUE(BuildCodeFromLengths(lengths.data(), static_cast<int>(lengths.size()),
                                         codes.data(), bits.data()));
        const test::PlainCode plain = test::BuildPlainCode({lengths.begin(), lengths.end()});
        ASSERT_EQ(codes, plain.codes) << "round " << round;
        ASSERT_EQ(bits, plain.lengths) << "round " << round;
    }
}

// Worked out by hand from the rule: bytes from 0x80 enter sign-extended, the
// length modulo 256.
TEST(DeriveKey, KeyAndCheckOfWorkedPasswords) {
    std::string high;
    for (int b = 0x80; b < 0x100; ++b) high += static_cast<char>(b);
    const std::tuple<std::string, const char*, int> rows[] = {
        {"", "00000000", 0},
        {"\xFF", "fffffffd", 0},
        {"\x80\x81\xFE", "fffbf7f8", 255},
        {"\x83\x70\x83\x58 word", "0078bc38", 185},
        {"pw", "ffff98a4", 232},
        {std::string(256, 'a'), "c07fc000", 128},
        {high, "f0004080", 128}};
    for (const auto& [password, key, check] : rows) {
        const PasswordKey k = DeriveKey(password);
        EXPECT_EQ(test::ToHex(k.key, 4), key);
        EXPECT_EQ(k.check, check) << key;
    }
}

Bytes Table(const std::vector<std::int32_t>& sizes, const std::vector<std::string>& names) {
    Bytes t(8 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        WriteBigEndian32(static_cast<std::uint32_t>(sizes[i]), &t[4 * i]);
        WriteBigEndian32(1000 + static_cast<std::uint32_t>(i), &t[4 * (sizes.size() + i)]);
    }
    for (const auto& n : names) t.insert(t.end(), n.c_str(), n.c_str() + n.size() + 1);
    return t;
}

// Both separators become the one asked for, but for a second byte after a
// lead byte (0x80-0x9F, 0xE0-0xEF). Inconsistent tables are rejected.
TEST(EntryTable, NamesGetTheSeparatorAskedForAndBadTablesAreRejected) {
    const std::vector<std::string> names = {"dir/sub\\a", "\x80\\\x9F\\\xE0/\xEF/",
                                            "\x7F\\\xA0\\\xDF/\xF0/", "\x95\x5C/x\x81"};
    const std::vector<std::string> posix = {"dir/sub/a", names[1], "\x7F/\xA0/\xDF/\xF0/",
                                            names[3]};
    const std::vector<std::string> windows = {"dir\\sub\\a", names[1], "\x7F\\\xA0\\\xDF\\\xF0\\",
                                              "\x95\x5C\\x\x81"};
    const Bytes t = Table({3, 0, 9, 4}, names);
    const auto size = static_cast<std::int32_t>(t.size());
    EntryTable table;
    for (char separator : {'/', '\\'}) {
        ASSERT_TRUE(ParseEntryTable(t.data(), size, 4, separator, table));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(table.names.Item(i), (separator == '/' ? posix : windows)[i]) << i;
        EXPECT_EQ(table.sizes, (std::vector<std::int32_t>{3, 0, 9, 4}));
        EXPECT_EQ(table.times, (std::vector<std::uint32_t>{1000, 1001, 1002, 1003}));
        EXPECT_EQ(table.largestSize, 9);
    }
    EXPECT_FALSE(ParseEntryTable(t.data(), size - 1, 4, '/', table));  // the last name's zero
    EXPECT_FALSE(ParseEntryTable(t.data(), 31, 4, '/', table));        // 8N beyond the table
    EXPECT_FALSE(ParseEntryTable(t.data(), size, -1, '/', table));
    EXPECT_FALSE(ParseEntryTable(t.data(), size, 5, '/', table));
    const Bytes negative = Table({5, -5}, {"a", "b"});
    EXPECT_FALSE(ParseEntryTable(negative.data(), 20, 2, '/', table));
    EXPECT_TRUE(ParseEntryTable(t.data(), 0, 0, '/', table));
}

TEST(FormBatches, TakeEntriesWhileTheSumFitsTheLargest) {
    using Cut = std::vector<std::vector<std::int32_t>>;  // first, count, total
    const std::pair<std::vector<std::int32_t>, Cut> rows[] = {
        {{100, 50, 60, 100}, {{0, 1, 100}, {1, 1, 50}, {2, 1, 60}, {3, 1, 100}}},
        {{30, 30, 40, 100}, {{0, 3, 100}, {3, 1, 100}}},
        {{5, 0, 5, 0}, {{0, 2, 5}, {2, 2, 5}}},
        {{0, 0}, {{0, 2, 0}}},
        {{}, {}}};
    for (const auto& [sizes, expected] : rows) {
        Cut cut;
        for (const Batch& b :
             FormBatches(sizes, sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end())))
            cut.push_back({b.first, b.count, b.total});
        EXPECT_EQ(cut, expected);
    }
}

}  // namespace
}  // namespace qk
