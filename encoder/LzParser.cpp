#include "encoder/LzParser.h"

#include <algorithm>
#include <bit>

namespace qk {

namespace {

// Rough bit costs of the coded forms, enough to rank choices greedily.
constexpr int kLiteralBits = 8;
constexpr int kReferenceSymbolBits = 10;

int LengthBits(std::uint32_t value) {
    if (value <= 126) return 6;
    return 7 + 5 + std::bit_width(value);
}

std::uint32_t MatchLength(const std::uint8_t* data, std::uint32_t from, std::uint32_t at,
                          std::uint32_t limit) {
    std::uint32_t n = 0;
    while (n < limit && data[from + n] == data[at + n]) ++n;
    return n;
}

}  // namespace

LzParser::LzParser(bool largeModel, bool insertInner, int searchDepth)
    : rings_(largeModel),
      insertInner_(insertInner),
      searchDepth_(static_cast<std::uint32_t>(searchDepth)) {}

void LzParser::ParseBlock(const std::uint8_t* data, std::int32_t size, std::vector<Token>& tokens) {
    const std::uint32_t n = rings_.slotCount;
    rings_.Clear();
    std::int32_t pos = 0;
    std::int32_t insertPos = 0;
    while (pos < size) {
        std::uint32_t length = 1;
        Token token{static_cast<std::uint16_t>(2 * n + data[pos]), 0};
        bool repeat = false;
        std::uint32_t usedSlot = 0;

        if (pos > 0) {
            const std::uint8_t c = data[insertPos];
            const std::uint32_t filled = rings_.filled[c];
            const std::uint32_t head = rings_.head[c];
            const std::uint32_t base = c * n;
            const std::uint32_t depth = searchDepth_ == 0 ? filled : std::min(filled, searchDepth_);
            const std::uint32_t limit = static_cast<std::uint32_t>(size - pos);
            int bestGain = 0;
            for (std::uint32_t t = 0; t < depth; ++t) {
                const std::uint32_t k = (head + n - 1 - t) % n;  // newest first
                const std::uint32_t from = rings_.positions[base + k];
                if (data[from] != data[pos]) continue;
                const std::uint32_t m =
                    MatchLength(data, from, static_cast<std::uint32_t>(pos), limit);
                const std::uint32_t offset = (k + n - head) % n;
                const std::uint32_t stored = rings_.lengths[base + k];
                if (stored >= 1 && stored <= m) {
                    const int gain =
                        static_cast<int>(std::min<std::uint32_t>(stored, 1u << 24)) * kLiteralBits -
                        kReferenceSymbolBits;
                    if (gain > bestGain) {
                        bestGain = gain;
                        length = stored;
                        token = {static_cast<std::uint16_t>(n + offset), 0};
                        repeat = true;
                        usedSlot = base + k;
                    }
                }
                if (m >= 2) {
                    const int gain =
                        static_cast<int>(std::min<std::uint32_t>(m, 1u << 24)) * kLiteralBits -
                        kReferenceSymbolBits - LengthBits(m - 2);
                    if (gain > bestGain) {
                        bestGain = gain;
                        length = m;
                        token = {static_cast<std::uint16_t>(offset), m - 2};
                        repeat = false;
                    }
                }
            }
            if (repeat) rings_.MoveHeadInto(c, usedSlot);
        }
        tokens.push_back(token);
        pos += static_cast<std::int32_t>(length);
        rings_.EnterStep(data, insertPos, pos, length, insertInner_);
    }
}

}  // namespace qk
