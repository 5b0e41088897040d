// The writer's best parse: each step chosen by the price of everything that
// follows it, not only of the step itself.
//
// The rings change with every choice, so the exact optimum is a search over
// ring states. This parse takes a chunk of the block at a time and works in
// three passes over it:
//   1. a quick greedy walk advances a copy of the rings and, at every
//      position of the chunk (and a margin after it), lists the ways to code
//      the bytes there: the candidate references no other beats in both
//      length and price, and the repeat references (without those of one
//      byte, whose search costs most and saves least);
//   2. a backward pass turns the lists into the cheapest price from each
//      position to the end of the margin (`toEnd`), trying every length of
//      each candidate up to kEveryLength and the longest one beyond;
//   3. from the rings as they really are, the steps are taken one by one:
//      at each the exact ring is searched again and the way whose price plus
//      `toEnd` after it is lowest is taken. Every token is therefore valid
//      against the rings the decoder will have; the lists of pass 1 only
//      estimate what follows, and a step that lands where pass 1 saw other
//      options still finds the cheapest way on from there.
// Prices are those of a PriceTable (from the code lengths of an earlier
// parse), in 1/16 bit.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "encoder/LzParser.h"
#include "encoder/RingSearch.h"

namespace qk {

namespace {

// Candidate lengths up to this are each weighed; above it only the longest.
constexpr std::uint32_t kEveryLength = 32;

}  // namespace

LzParser::OptimalWork::OptimalWork(std::uint32_t slotCount)
    : options(new (std::nothrow) Options[kChunk + kMargin]),
      toEnd(new (std::nothrow) std::uint32_t[kChunk + kMargin + 1]),
      entries(new (std::nothrow) ContextRings::Entry[std::size_t{256} * slotCount]),
      keys(new (std::nothrow) std::uint32_t[std::size_t{256} * slotCount + 16]),
      shortKeys(new (std::nothrow) std::uint16_t[std::size_t{256} * slotCount + 16]),
      path(new (std::nothrow) Way[kChunk]) {}

std::uint32_t LzParser::RepeatSlot(std::uint8_t context, std::uint32_t offset) const {
    const std::uint32_t n = rings_.slotCount;
    return context * n + ((rings_.head[context] + offset) & (n - 1));
}

// The ways to code the bytes at `pos` through the ring of `context`.
void LzParser::Collect(std::int32_t pos, std::uint8_t context, std::uint32_t depth, bool oneByte,
                       Options& out) const {
    out.candidates = 0;
    out.repeats = 0;
    out.forced = false;
    if (pos == 0) return;
    const std::uint32_t n = rings_.slotCount;
    const std::uint32_t filled = rings_.filled[context];
    const std::uint32_t head = rings_.head[context];
    const std::uint32_t base = context * n;
    const std::uint32_t limit = size_ - static_cast<std::uint32_t>(pos);
    const std::uint32_t nice = settings_.niceLength;
    const std::uint32_t current = KeyAt(static_cast<std::uint32_t>(pos));
    const std::uint32_t* keys = keys_.get() + base;
    const std::uint16_t* shortKeys = shortKeys_.get() + base;
    const std::uint16_t shortCurrent = static_cast<std::uint16_t>(current);

    // Cheapest slot per match length up to kEveryLength; the longest above.
    constexpr std::uint16_t kNone = std::numeric_limits<std::uint16_t>::max();
    std::uint16_t cheapest[kEveryLength + 1];
    std::uint16_t cheapestOffset[kEveryLength + 1];
    std::fill(cheapest, cheapest + kEveryLength + 1, kNone);
    Option longest{0, kNone, 0};

    auto addRepeat = [&](std::uint32_t length, std::uint32_t offset) {
        const std::uint16_t price = static_cast<std::uint16_t>(prices_.symbol[n + offset]);
        for (int i = 0; i < out.repeats; ++i) {
            if (out.repeat[i].length == length) {
                if (price < out.repeat[i].price)
                    out.repeat[i] = {length, price, static_cast<std::uint16_t>(offset)};
                return;
            }
        }
        if (out.repeats < Options::kRepeats) {
            out.repeat[out.repeats++] = {length, price, static_cast<std::uint16_t>(offset)};
            return;
        }
        // Full: the longer of two repeats saves more; replace the shortest.
        int shortest = 0;
        for (int i = 1; i < out.repeats; ++i)
            if (out.repeat[i].length < out.repeat[shortest].length) shortest = i;
        if (length > out.repeat[shortest].length)
            out.repeat[shortest] = {length, price, static_cast<std::uint16_t>(offset)};
    };

    for (const auto& range : NewestSlots(head, filled, depth, n).ranges) {
        const std::uint32_t rangeEnd = range[1];
        for (std::uint32_t group = range[0]; group < rangeEnd; group += 16) {
            std::uint32_t bits = oneByte ? MatchMask16(keys + group, current, 0xFF)
                                         : MatchMask16x16(shortKeys + group, shortCurrent);
            if (rangeEnd - group < 16) bits &= (1u << (rangeEnd - group)) - 1;
            while (bits != 0) {
                const std::uint32_t k = group + static_cast<std::uint32_t>(std::countr_zero(bits));
                bits &= bits - 1;
                const std::uint32_t offset = (k + n - head) & (n - 1);
                const std::uint32_t x = keys[k] ^ current;
                std::uint32_t m = x == 0 ? 4 : static_cast<std::uint32_t>(std::countr_zero(x)) / 8;
                m = std::min(m, limit);
                // The slot itself is read only for a match: most hits of a
                // one-byte search end here.
                if (m < 2) {
                    if (m == 1 && rings_.entries[base + k].length == 1) addRepeat(1, offset);
                    continue;
                }
                const std::uint32_t from = rings_.entries[base + k].position;
                const std::uint32_t stored = rings_.entries[base + k].length;
                if (m == 4)
                    m = Extend(from, static_cast<std::uint32_t>(pos), 4,
                               std::min(limit, std::max(nice, stored)));
                if (m >= nice) m = Extend(from, static_cast<std::uint32_t>(pos), m, limit);
                if (stored >= 1 && stored <= m) addRepeat(stored, offset);
                const std::uint16_t price = static_cast<std::uint16_t>(prices_.symbol[offset]);
                if (m >= nice) {
                    out.candidates = 1;
                    out.candidate[0] = {m, price, static_cast<std::uint16_t>(offset)};
                    out.forced = true;
                    return;
                }
                if (m > kEveryLength) {
                    if (m > longest.length || (m == longest.length && price < longest.price))
                        longest = {m, price, static_cast<std::uint16_t>(offset)};
                } else if (price < cheapest[m]) {
                    cheapest[m] = price;
                    cheapestOffset[m] = static_cast<std::uint16_t>(offset);
                }
            }
        }
    }

    // Longest first; each further one shorter and cheaper than all before.
    // When the list is full the last place goes to the cheapest.
    std::uint32_t running = kNone;
    auto add = [&](const Option& o) {
        if (out.candidates == Options::kCandidates) --out.candidates;
        out.candidate[out.candidates++] = o;
        running = o.price;
    };
    if (longest.length != 0) add(longest);
    for (std::uint32_t m = kEveryLength; m >= 2; --m) {
        if (cheapest[m] < running) add({m, cheapest[m], cheapestOffset[m]});
    }
}

void LzParser::ParseBlockOptimal(const std::uint8_t* data, std::int32_t size, TokenList& tokens) {
    const std::uint32_t n = rings_.slotCount;
    data_ = data;
    size_ = static_cast<std::uint32_t>(size);
    rings_.Clear();
    if (size <= 0) return;
    const std::uint32_t literalBase = 2 * n;
    const std::int64_t average = prices_.averageLiteral;

    Options* const options = work_->options.get();
    std::uint32_t* const toEnd = work_->toEnd.get();
    const std::size_t slots = std::size_t{256} * n;
    ContextRings::Entry* const savedEntries = work_->entries.get();
    std::uint32_t* const savedKeys = work_->keys.get();
    std::uint16_t savedHead[256], savedFilled[256];
    std::uint32_t lengthPrice[kEveryLength + 1] = {};
    for (std::uint32_t length = 2; length <= kEveryLength; ++length)
        lengthPrice[length] = prices_.Length(length - 2);

    auto moveKey = [this](std::uint32_t from, std::uint32_t to) {
        keys_[to] = keys_[from];
        shortKeys_[to] = shortKeys_[from];
    };

    // The cheapest way at `q` among `o`, with `toEnd` relative to `first`
    // and nothing beyond `last`.
    auto cheapestWay = [&](std::int32_t q, const Options& o, std::int32_t first,
                           std::int32_t last) -> Way {
        const std::uint32_t room = static_cast<std::uint32_t>(last - q);
        auto after = [&](std::uint32_t length) { return toEnd[q + length - first]; };
        Way best{prices_.symbol[literalBase + data[q]] + after(1), 1, 0, 0};
        if (o.forced) {
            const Option& c = o.candidate[0];
            const std::uint32_t length = std::min(c.length, room);
            if (length >= 2)
                best = {c.price + prices_.Length(length - 2) + after(length), length, c.offset, 1};
            return best;
        }
        std::uint32_t done = 1;  // lengths up to here are weighed
        for (int i = o.candidates - 1; i >= 0; --i) {
            const Option& c = o.candidate[i];
            const std::uint32_t top = std::min(c.length, room);
            for (std::uint32_t length = done + 1; length <= std::min(top, kEveryLength); ++length) {
                const std::uint32_t cost = c.price + lengthPrice[length] + after(length);
                if (cost < best.cost) best = {cost, length, c.offset, 1};
            }
            if (top > kEveryLength && top > done) {
                const std::uint32_t cost = c.price + prices_.Length(top - 2) + after(top);
                if (cost < best.cost) best = {cost, top, c.offset, 1};
            }
            done = std::max(done, top);
        }
        for (int i = 0; i < o.repeats; ++i) {
            const Option& r = o.repeat[i];
            if (r.length > room) continue;
            const std::uint32_t cost = r.price + after(r.length);
            if (cost < best.cost) best = {cost, r.length, r.offset, 2};
        }
        return best;
    };

    const int rounds = std::max(1, settings_.optimalRounds);
    // Pass 1 looks at the newest slots only; pass 3 at all of them.
    const std::uint32_t walkDepth =
        settings_.searchDepth == 0 ? n : std::min(settings_.searchDepth, n);
    std::int32_t pos = 0;
    std::int32_t insertPos = 0;
    while (pos < size) {
        const std::int32_t end = std::min(size, pos + kChunk);
        const std::int32_t last = std::min(size, end + kMargin);

        std::memcpy(savedEntries, rings_.entries.get(), slots * sizeof(ContextRings::Entry));
        std::memcpy(savedKeys, keys_.get(), (slots + 16) * sizeof(std::uint32_t));
        std::memcpy(work_->shortKeys.get(), shortKeys_.get(), (slots + 16) * sizeof(std::uint16_t));
        std::memcpy(savedHead, rings_.head, sizeof savedHead);
        std::memcpy(savedFilled, rings_.filled, sizeof savedFilled);
        const std::uint32_t savedFull = rings_.fullRings;
        auto restore = [&] {
            std::memcpy(rings_.entries.get(), savedEntries, slots * sizeof(ContextRings::Entry));
            std::memcpy(keys_.get(), savedKeys, (slots + 16) * sizeof(std::uint32_t));
            std::memcpy(shortKeys_.get(), work_->shortKeys.get(),
                        (slots + 16) * sizeof(std::uint16_t));
            std::memcpy(rings_.head, savedHead, sizeof savedHead);
            std::memcpy(rings_.filled, savedFilled, sizeof savedFilled);
            rings_.fullRings = savedFull;
        };
        const std::int32_t chunkInsert = insertPos;
        Way* const path = work_->path.get();
        std::size_t& pathSteps = work_->pathSteps;
        std::int32_t p = pos;

        for (int round = 0; round < rounds; ++round) {
            const bool lastRound = round == rounds - 1;
            if (round > 0) restore();
            // Pass 1: the ways at every position, along a walk: greedy in the
            // first round, the steps of the round before in the others (the
            // same rings then, so the ways at its steps are exact). Inside a
            // run that reached the nice length only the walk's own steps look.
            std::int32_t stepEnd = pos;
            std::int32_t skipUntil = pos;
            std::int32_t walkInsert = chunkInsert;
            std::size_t pathStep = 0;
            if (round == 0) pathSteps = 0;
            for (std::int32_t q = pos; q < last; ++q) {
                Options& o = options[static_cast<std::size_t>(q - pos)];
                const std::uint8_t c = q > 0 ? data[q - 1] : 0;
                if (q < skipUntil && q != stepEnd) {
                    o.candidates = o.repeats = 0;
                    o.forced = false;
                    continue;
                }
                Collect(q, c, walkDepth, false, o);
                if (o.forced) skipUntil = q + static_cast<std::int32_t>(o.candidate[0].length);
                if (q != stepEnd) continue;
                std::uint32_t length = 1;
                if (pathStep < pathSteps) {
                    const Way& way = path[pathStep++];
                    length = way.length;
                    if (way.kind == 2) rings_.MoveHeadInto(c, RepeatSlot(c, way.offset), moveKey);
                } else {
                    // The way that saves most against literals.
                    std::int64_t gain = average - prices_.symbol[literalBase + data[q]];
                    int repeat = -1;
                    if (o.candidates > 0) {
                        const Option& c0 = o.candidate[0];
                        const std::int64_t g = static_cast<std::int64_t>(c0.length) * average -
                                               c0.price - prices_.Length(c0.length - 2);
                        if (g > gain) gain = g, length = c0.length;
                    }
                    for (int i = 0; i < o.repeats; ++i) {
                        const std::int64_t g =
                            static_cast<std::int64_t>(o.repeat[i].length) * average -
                            o.repeat[i].price;
                        if (g > gain) gain = g, length = o.repeat[i].length, repeat = i;
                    }
                    if (repeat >= 0)
                        rings_.MoveHeadInto(c, RepeatSlot(c, o.repeat[repeat].offset), moveKey);
                }
                stepEnd = q + static_cast<std::int32_t>(length);
                EnterStep(walkInsert, stepEnd, length);
            }

            // Pass 2: the cheapest price from every position to `last`.
            toEnd[last - pos] = 0;
            for (std::int32_t q = last - 1; q >= pos; --q)
                toEnd[q - pos] =
                    cheapestWay(q, options[static_cast<std::size_t>(q - pos)], pos, last).cost;

            restore();

            // Pass 3: the steps, against the rings as the decoder will have
            // them; the last round's are the parse.
            Options here;
            p = pos;
            insertPos = chunkInsert;
            pathSteps = 0;
            while (p < end) {
                const std::uint8_t c = p > 0 ? data[insertPos] : 0;
                Collect(p, c, n, settings_.oneByteRepeats, here);
                const Way way = cheapestWay(p, here, pos, last);
                if (way.kind == 2) rings_.MoveHeadInto(c, RepeatSlot(c, way.offset), moveKey);
                if (lastRound) {
                    if (way.kind == 0) {
                        tokens.push_back({static_cast<std::uint16_t>(literalBase + data[p]), 0});
                    } else if (way.kind == 1) {
                        tokens.push_back({way.offset, way.length - 2});
                    } else {
                        tokens.push_back({static_cast<std::uint16_t>(n + way.offset), 0});
                    }
                } else {
                    path[pathSteps++] = way;  // at most one step per byte of the chunk
                }
                p += static_cast<std::int32_t>(way.length);
                EnterStep(insertPos, p, way.length);
            }
        }
        pos = p;
    }
}

}  // namespace qk
