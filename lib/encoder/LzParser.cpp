#include "encoder/LzParser.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "encoder/RingSearch.h"

namespace qk {

PriceTable PriceTable::Default(bool largeModel) {
    PriceTable p{};
    const std::uint32_t n = largeModel ? 512 : 256;
    for (std::uint32_t o = 0; o < n; ++o) {
        const std::uint32_t age = static_cast<std::uint32_t>(std::bit_width(n - 1 - o));
        p.symbol[o] = kUnit * 8 + kUnit * age / 2;
        p.symbol[n + o] = kUnit * 8 + kUnit * age / 2;
    }
    for (std::uint32_t b = 0; b < 256; ++b) p.symbol[2 * n + b] = kUnit * 13 / 2;
    for (std::uint32_t v = 0; v < 128; ++v)
        p.length[v] = kUnit * (1 + static_cast<std::uint32_t>(std::bit_width(v)));
    p.length[127] = kUnit * 10;
    p.averageLiteral = kUnit * 13 / 2;
    return p;
}

PriceTable PriceTable::FromCodeLengths(bool largeModel, const std::vector<std::uint8_t>& symbolBits,
                                       const std::vector<std::uint8_t>& lengthBits,
                                       const std::vector<std::uint64_t>& symbolCounts) {
    PriceTable p{};
    const std::uint32_t n = largeModel ? 512 : 256;
    for (std::size_t i = 0; i < symbolBits.size() && i < 1280; ++i)
        p.symbol[i] = kUnit * symbolBits[i];
    for (std::size_t i = 0; i < lengthBits.size() && i < 128; ++i)
        p.length[i] = kUnit * lengthBits[i];
    std::uint64_t weighted = 0, literals = 0;
    for (std::uint32_t b = 0; b < 256; ++b) {
        weighted += symbolCounts[2 * n + b] * p.symbol[2 * n + b];
        literals += symbolCounts[2 * n + b];
    }
    p.averageLiteral = literals ? static_cast<std::uint32_t>(weighted / literals) : kUnit * 8;
    return p;
}

std::uint32_t PriceTable::Length(std::uint32_t value) const {
    if (value < 127) return length[value];
    return length[127] + kUnit * (5 + static_cast<std::uint32_t>(std::bit_width(value)));
}

LzParser::LzParser(bool largeModel, bool insertInner, int searchDepth)
    : LzParser(ParserSettings{largeModel, insertInner, static_cast<std::uint32_t>(searchDepth), 0,
                              256, false}) {}

LzParser::LzParser(const ParserSettings& settings)
    : settings_(settings),
      rings_(settings.largeModel),
      keys_(new (std::nothrow) std::uint32_t[256 * rings_.slotCount + 16]()),
      shortKeys_(new (std::nothrow) std::uint16_t[256 * rings_.slotCount + 16]()),
      prices_(PriceTable::Default(settings.largeModel)) {
    if (settings_.niceLength < 4) settings_.niceLength = 4;
    if (settings_.optimal) work_.reset(new (std::nothrow) OptimalWork(rings_.slotCount));
}

std::uint32_t LzParser::KeyAt(std::uint32_t position) const {
    const std::uint8_t* p = data_ + position;
    const std::uint32_t left = size_ - position;
    if (left >= 4) {
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
    }
    std::uint32_t key = 0;
    for (std::uint32_t i = 0; i < left; ++i) key |= std::uint32_t{p[i]} << (8 * i);
    return key;
}

// The rings' insertion rule, keeping the first bytes of every entered
// position beside its slot.
void LzParser::EnterStep(std::int32_t& insertPos, std::int32_t outputPos, std::uint32_t length) {
    rings_.EnterStep(data_, insertPos, outputPos, length, settings_.insertInner,
                     [this](std::uint32_t slot, std::uint32_t position) {
                         keys_[slot] = KeyAt(position);
                         shortKeys_[slot] = static_cast<std::uint16_t>(keys_[slot]);
                     });
}

// Length of the common run of `from` and `at`, known to be at least `matched`,
// up to `limit`.
std::uint32_t LzParser::Extend(std::uint32_t from, std::uint32_t at, std::uint32_t matched,
                               std::uint32_t limit) const {
    std::uint32_t m = matched;
    while (m + 8 <= limit) {
        const std::uint64_t x = Load64(data_ + from + m) ^ Load64(data_ + at + m);
        if (x != 0) return m + static_cast<std::uint32_t>(std::countr_zero(x)) / 8;
        m += 8;
    }
    while (m < limit && data_[from + m] == data_[at + m]) ++m;
    return m;
}

// The best way to code the bytes at `pos`: the literal, or the reference through
// ring `context` whose bytes save the most against their literal cost.
LzParser::Choice LzParser::Best(std::int32_t pos, std::uint8_t context) const {
    const std::uint32_t n = rings_.slotCount;
    const std::int64_t average = prices_.averageLiteral;
    Choice best;
    const std::uint8_t byte = data_[pos];
    best.token = {static_cast<std::uint16_t>(2 * n + byte), 0};
    best.gain = average - prices_.symbol[2 * n + byte];
    if (pos == 0) return best;

    const std::uint32_t filled = rings_.filled[context];
    const std::uint32_t head = rings_.head[context];
    const std::uint32_t base = context * n;
    const std::uint32_t limit = size_ - static_cast<std::uint32_t>(pos);
    const std::uint32_t depth = settings_.searchDepth == 0 ? n : std::min(settings_.searchDepth, n);
    const std::uint32_t nice = settings_.niceLength;
    const std::uint32_t current = KeyAt(static_cast<std::uint32_t>(pos));
    const std::uint32_t* keys = keys_.get() + base;
    const std::uint32_t mask = settings_.oneByteRepeats  ? 0xFF
                               : settings_.minMatch >= 3 ? 0xFFFFFF
                                                         : 0xFFFF;

    for (const auto& range : NewestSlots(head, filled, depth, n).ranges) {
        const std::uint32_t end = range[1];
        for (std::uint32_t group = range[0]; group < end; group += 16) {
            std::uint32_t bits = MatchMask16(keys + group, current, mask);
            if (end - group < 16) bits &= (1u << (end - group)) - 1;
            while (bits != 0) {
                const std::uint32_t k = group + static_cast<std::uint32_t>(std::countr_zero(bits));
                bits &= bits - 1;
                const std::uint32_t offset = (k + n - head) % n;
                const std::uint32_t from = rings_.entries[base + k].position;
                const std::uint32_t stored = rings_.entries[base + k].length;
                const std::uint32_t x = keys[k] ^ current;
                std::uint32_t m = x == 0 ? 4 : static_cast<std::uint32_t>(std::countr_zero(x)) / 8;
                m = std::min(m, limit);
                if (m < 2) {
                    // Only a one-byte repeat can use this slot.
                    if (stored == 1 && m == 1) {
                        const std::int64_t gain = average - prices_.symbol[n + offset];
                        if (gain > best.gain) {
                            best = {1,
                                    gain,
                                    {static_cast<std::uint16_t>(n + offset), 0},
                                    true,
                                    base + k};
                        }
                    }
                    continue;
                }
                if (m == 4)
                    m = Extend(from, static_cast<std::uint32_t>(pos), 4,
                               std::min(limit, std::max(nice, stored)));
                if (m >= nice) m = Extend(from, static_cast<std::uint32_t>(pos), m, limit);

                const std::int64_t candidateGain = static_cast<std::int64_t>(m) * average -
                                                   prices_.symbol[offset] - prices_.Length(m - 2);
                if (candidateGain > best.gain) {
                    best = {
                        m, candidateGain, {static_cast<std::uint16_t>(offset), m - 2}, false, 0};
                }
                if (stored >= 1 && stored <= m) {
                    const std::int64_t gain =
                        static_cast<std::int64_t>(stored) * average - prices_.symbol[n + offset];
                    if (gain > best.gain) {
                        best = {stored,
                                gain,
                                {static_cast<std::uint16_t>(n + offset), 0},
                                true,
                                base + k};
                    }
                }
                if (m >= nice) return best;
            }
        }
    }
    return best;
}

void LzParser::ParseBlock(const std::uint8_t* data, std::int32_t size, TokenList& tokens) {
    if (settings_.optimal) {
        ParseBlockOptimal(data, size, tokens);
        return;
    }
    const std::uint32_t n = rings_.slotCount;
    data_ = data;
    size_ = static_cast<std::uint32_t>(size);
    rings_.Clear();
    std::int32_t pos = 0;
    std::int32_t insertPos = 0;
    const std::int64_t average = prices_.averageLiteral;
    while (pos < size) {
        const std::uint8_t c = pos > 0 ? data[insertPos] : 0;
        Choice here = Best(pos, c);
        if (settings_.lazySteps > 0 && here.length > 1 && here.length < settings_.niceLength) {
            // A literal first may open a better reference. The rings are not
            // advanced for the look, which is close enough to decide.
            std::int64_t literalGain = 0;
            for (int step = 1; step <= settings_.lazySteps && pos + step < size; ++step) {
                const std::uint8_t b = data[pos + step - 1];
                literalGain += average - prices_.symbol[2 * n + b];
                const Choice next = Best(pos + step, b);
                if (next.length > here.length && next.gain + literalGain > here.gain + average) {
                    here = Choice{};
                    here.token = {static_cast<std::uint16_t>(2 * n + data[pos]), 0};
                    break;
                }
            }
        }
        if (here.repeat) {
            rings_.MoveHeadInto(c, here.slot, [this](std::uint32_t from, std::uint32_t to) {
                keys_[to] = keys_[from];
                shortKeys_[to] = shortKeys_[from];
            });
        }
        tokens.push_back(here.token);
        pos += static_cast<std::int32_t>(here.length);
        EnterStep(insertPos, pos, here.length);
    }
}

}  // namespace qk
