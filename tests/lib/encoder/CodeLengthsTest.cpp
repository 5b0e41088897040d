#include <gtest/gtest.h>

#include <random>

#include "format/ArchiveHeader.h"
#include "format/CodeModel.h"
#include "encoder/CodeLengths.h"

namespace qk {
namespace {

// The lengths must be complete and within the limit, or the decoder's code
// construction would derive other lengths than the writer codes with.
void ExpectCompleteAndReproduced(const std::vector<std::uint64_t>& counts, int limit) {
    const std::vector<std::uint8_t> lengths = ChooseCodeLengths(counts, limit);
    double kraft = 0;
    for (std::uint8_t l : lengths) {
        ASSERT_GE(l, 1);
        ASSERT_LE(l, limit);
        kraft += std::ldexp(1.0, -l);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    std::vector<std::uint32_t> codes(counts.size());
    std::vector<std::uint16_t> bits(counts.size());
    ASSERT_TRUE(BuildCodeFromLengths(lengths.data(), static_cast<int>(counts.size()), codes.data(),
                                     bits.data()));
    for (std::size_t i = 0; i < counts.size(); ++i) ASSERT_EQ(bits[i], lengths[i]);
}

TEST(ChooseCodeLengths, CompleteForAnyCounts) {
    ExpectCompleteAndReproduced(std::vector<std::uint64_t>(768, 0), 31);
    std::vector<std::uint64_t> one(768, 0);
    one[600] = 1000;
    ExpectCompleteAndReproduced(one, 31);
    EXPECT_EQ(ChooseCodeLengths(one, 31)[600], 1);
    // Fibonacci-like counts would make a plain Huffman code deeper than 31.
    std::vector<std::uint64_t> fib(128, 0);
    std::uint64_t a = 1, b = 1;
    for (auto& c : fib) {
        c = a;
        const std::uint64_t next = std::min<std::uint64_t>(a + b, 1ull << 40);
        a = b;
        b = next;
    }
    ExpectCompleteAndReproduced(fib, 31);
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint64_t> counts(1280);
        for (auto& c : counts) c = rng() % 4 == 0 ? 0 : rng() % (1u << (rng() % 20));
        ExpectCompleteAndReproduced(counts, 31);
    }
}

TEST(ChooseCodeLengths, FrequentSymbolsGetShortCodes) {
    std::vector<std::uint64_t> counts(768, 0);
    counts[10] = 1000;
    counts[20] = 500;
    counts[30] = 250;
    counts[40] = 250;
    const auto lengths = ChooseCodeLengths(counts, 31);
    EXPECT_LT(lengths[10], lengths[20]);
    EXPECT_LE(lengths[20], lengths[30]);
    EXPECT_LE(lengths[10], 2);
}

}  // namespace
}  // namespace qk
