// Code construction: the merge order and tie-breaks decide every codeword, so
// these cases pin them down bit for bit.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "format/CodeModel.h"
#include "support/ReferenceDecoder.h"

namespace qk {
namespace {

std::vector<std::string> Codewords(const std::vector<std::uint8_t>& lengths) {
    std::vector<std::uint32_t> codes(lengths.size());
    std::vector<std::uint16_t> bits(lengths.size());
    EXPECT_TRUE(BuildCodeFromLengths(lengths.data(), static_cast<int>(lengths.size()), codes.data(),
                                     bits.data()));
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        std::string s;
        for (unsigned b = 0; b < bits[i] && b < 32; ++b)
            s += (codes[i] >> (31 - b)) & 1 ? '1' : '0';
        out.push_back(s);
    }
    return out;
}

using Words = std::vector<std::string>;

TEST(BuildCode, CompleteSetsGiveTheCanonicalCodeLongestFirst) {
    EXPECT_EQ(Codewords({1, 2, 3, 3}), (Words{"1", "01", "000", "001"}));
    EXPECT_EQ(Codewords({2, 2, 2, 2}), (Words{"00", "01", "10", "11"}));
    EXPECT_EQ(Codewords({3, 3, 2, 2, 2}), (Words{"000", "001", "01", "10", "11"}));
    EXPECT_EQ(Codewords({2, 3, 3, 2, 2}), (Words{"01", "000", "001", "10", "11"}));
}

TEST(BuildCode, IncompleteSetsAreDecidedByTheMerging) {
    EXPECT_EQ(Codewords({0, 0, 1, 1}), (Words{"10", "11", "00", "01"}));
    EXPECT_EQ(Codewords({3, 3, 3, 3, 3}), (Words{"01", "10", "11", "000", "001"}));
    EXPECT_EQ(Codewords({0, 0, 0, 0, 2, 2, 2, 2}),
              (Words{"10", "110", "1110", "1111", "000", "001", "010", "011"}));
}

TEST(BuildCode, EqualLengthsSplitIntoTwoLengthsBySymbol) {
    std::vector<std::uint8_t> lengths(768, 31);
    std::vector<std::uint32_t> codes(768);
    std::vector<std::uint16_t> bits(768);
    ASSERT_TRUE(BuildCodeFromLengths(lengths.data(), 768, codes.data(), bits.data()));
    for (std::uint32_t s = 0; s < 768; ++s) {
        if (s < 256) {
            EXPECT_EQ(bits[s], 9);
            EXPECT_EQ(codes[s] >> 23, 256 + s);
        } else {
            EXPECT_EQ(bits[s], 10);
            EXPECT_EQ(codes[s] >> 22, s - 256);
        }
    }
    std::vector<std::uint8_t> large(1280, 31);
    codes.resize(1280);
    bits.resize(1280);
    ASSERT_TRUE(BuildCodeFromLengths(large.data(), 1280, codes.data(), bits.data()));
    EXPECT_EQ(bits[767], 10);
    EXPECT_EQ(codes[767] >> 22, 256u + 767);
    EXPECT_EQ(bits[768], 11);
    EXPECT_EQ(codes[1279] >> 21, 1279u - 768);
}

TEST(BuildCode, AllZeroLengthsGiveAChainAndCutCodewordsKeep32Bits) {
    std::vector<std::uint8_t> lengths(128, 0);
    std::vector<std::uint32_t> codes(128);
    std::vector<std::uint16_t> bits(128);
    ASSERT_TRUE(BuildCodeFromLengths(lengths.data(), 128, codes.data(), bits.data()));
    EXPECT_EQ(bits[0], 1);
    EXPECT_EQ(codes[0], 0u);
    EXPECT_EQ(bits[5], 6);
    EXPECT_EQ(codes[5], 0xF8000000u);   // 11111 then 0
    EXPECT_EQ(codes[31], 0xFFFFFFFEu);  // 31 ones, then the 0
    EXPECT_EQ(codes[32], 0xFFFFFFFFu);
    EXPECT_EQ(bits[126], 127);
    EXPECT_EQ(bits[127], 127);
}

// Random length sets of every alphabet size the format uses, complete or not,
// zeros and 31s included: the production construction gives the plain one's
// codewords bit for bit.
TEST(BuildCode, AgreesWithThePlainConstruction) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const int count = round % 3 == 0 ? 128 : round % 3 == 1 ? 768 : 1280;
        const std::uint32_t top = round % 4 == 0 ? 32 : 1 + rng() % 16;  // 32: every length
        std::vector<std::uint8_t> lengths(static_cast<std::size_t>(count));
        for (std::uint8_t& l : lengths) l = static_cast<std::uint8_t>(rng() % top);
        std::vector<std::uint32_t> codes(lengths.size());
        std::vector<std::uint16_t> bits(lengths.size());
        ASSERT_TRUE(BuildCodeFromLengths(lengths.data(), count, codes.data(), bits.data()));
        const test::PlainCode plain =
            test::BuildPlainCode(std::vector<std::uint32_t>(lengths.begin(), lengths.end()));
        ASSERT_EQ(codes, plain.codes) << "round " << round;
        ASSERT_EQ(bits, plain.lengths) << "round " << round;
    }
}

}  // namespace
}  // namespace qk
