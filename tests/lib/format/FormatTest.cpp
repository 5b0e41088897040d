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

std::vector<std::string> Codewords(const std::vector<std::uint8_t>& lengths) {
    std::vector<std::uint32_t> codes(lengths.size());
    std::vector<std::uint16_t> bits(lengths.size());
    EXPECT_TRUE(BuildCodeFromLengths(lengths.data(), static_cast<int>(lengths.size()), codes.data(),
                                     bits.data()));
    std::vector<std::string> out(lengths.size());
    for (std::size_t i = 0; i < lengths.size(); ++i)
        for (unsigned b = 0; b < bits[i] && b < 32; ++b)
            out[i] += (codes[i] >> (31 - b)) & 1 ? '1' : '0';
    return out;
}

TEST(BuildCode, WorkedExamplesAndThePlainConstruction) {
    using Words = std::vector<std::string>;
    // Complete sets give the canonical code, longest first, then by symbol;
    // others what the merging makes of them, a length 0 sorting last.
    EXPECT_EQ(Codewords({1, 2, 3, 3}), (Words{"1", "01", "000", "001"}));
    EXPECT_EQ(Codewords({2, 3, 3, 2, 2}), (Words{"01", "000", "001", "10", "11"}));
    EXPECT_EQ(Codewords({3, 3, 3, 3, 3}), (Words{"01", "10", "11", "000", "001"}));
    EXPECT_EQ(Codewords({0, 0, 0, 0, 2, 2, 2, 2}),
              (Words{"10", "110", "1110", "1111", "000", "001", "010", "011"}));
    // Random sets of every alphabet size, zeros and 31s included (chains of
    // codewords past 32 bits): bit for bit the plain construction's.
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
    const struct {
        std::string password;
        const char* key;
        int check;
    } rows[] = {{"", "00000000", 0},
                {"\xFF", "fffffffd", 0},
                {"\x80\x81\xFE", "fffbf7f8", 255},
                {"\x83\x70\x83\x58 word", "0078bc38", 185},
                {"pw", "ffff98a4", 232},
                {std::string(256, 'a'), "c07fc000", 128},
                {high, "f0004080", 128}};
    for (const auto& row : rows) {
        const PasswordKey k = DeriveKey(row.password);
        EXPECT_EQ(test::ToHex(k.key, 4), row.key);
        EXPECT_EQ(k.check, row.check) << row.key;
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
// lead byte (0x80-0x9F, 0xE0-0xEF).
TEST(EntryTable, NamesGetTheSeparatorAskedFor) {
    const std::vector<std::string> names = {"dir/sub\\a", "\x80\\\x9F\\\xE0/\xEF/",
                                            "\x7F\\\xA0\\\xDF/\xF0/", "\x95\x5C/x\x81"};
    const std::vector<std::string> posix = {"dir/sub/a", names[1], "\x7F/\xA0/\xDF/\xF0/",
                                            names[3]};
    const std::vector<std::string> windows = {"dir\\sub\\a", names[1], "\x7F\\\xA0\\\xDF\\\xF0\\",
                                              "\x95\x5C\\x\x81"};
    const Bytes t = Table({3, 0, 9, 4}, names);
    for (char separator : {'/', '\\'}) {
        EntryTable table;
        ASSERT_TRUE(
            ParseEntryTable(t.data(), static_cast<std::int32_t>(t.size()), 4, separator, table));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(table.names.Item(i), (separator == '/' ? posix : windows)[i]) << i;
        EXPECT_EQ(table.sizes, (std::vector<std::int32_t>{3, 0, 9, 4}));
        EXPECT_EQ(table.times, (std::vector<std::uint32_t>{1000, 1001, 1002, 1003}));
        EXPECT_EQ(table.largestSize, 9);
    }
}

TEST(EntryTable, InconsistentTablesAreRejected) {
    const Bytes t = Table({5, 7}, {"a", "b"}), negative = Table({5, -5}, {"a", "b"});
    const auto size = static_cast<std::int32_t>(t.size());
    EntryTable parsed;
    EXPECT_TRUE(ParseEntryTable(t.data(), size, 2, '/', parsed));
    EXPECT_FALSE(
        ParseEntryTable(t.data(), size - 1, 2, '/', parsed));     // the last name loses its zero
    EXPECT_FALSE(ParseEntryTable(t.data(), 15, 2, '/', parsed));  // 8N beyond the table
    EXPECT_FALSE(ParseEntryTable(t.data(), size, -1, '/', parsed));
    EXPECT_FALSE(ParseEntryTable(t.data(), size, 3, '/', parsed));
    EXPECT_FALSE(ParseEntryTable(negative.data(), size, 2, '/', parsed));
    EXPECT_TRUE(ParseEntryTable(t.data(), 0, 0, '/', parsed));
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
