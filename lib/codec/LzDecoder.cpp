#include "codec/LzDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qk {

LzDecoder::LzDecoder(InputStream* input, bool insertInner, bool largeModel)
    : decoder_(input, largeModel), rings_(largeModel), insertInner_(insertInner) {}

void LzDecoder::Reset(std::uint8_t* output, std::int32_t size) {
    rings_.Clear();
    output_ = output;
    outputSize_ = size;
    outputPos_ = 0;
}

namespace {

// Copies a run that may overlap its own source (source behind destination):
// the bytes repeat with the period of the distance, as a byte-wise forward
// copy would produce them. Within the block (`size` bytes) the copy may write
// past the run's end: those bytes belong to steps not yet decoded, which write
// them again. Nothing past the block's end is written.
inline void CopyRun(std::uint8_t* out, std::uint32_t from, std::uint32_t to, std::uint32_t n,
                    std::uint32_t size) {
    const std::uint32_t distance = to - from;
    std::uint8_t* dst = out + to;
    const std::uint8_t* src = out + from;
    // Most runs: two 16-byte moves, the second loaded after the first is
    // stored. Each move's source ends at or before its destination starts
    // (distance >= 16), so it reads only bytes already final, also when the
    // run overlaps its source; 32 bytes from `to` lie inside the block.
    if (n <= 32 && distance >= 16 && size - to >= 32) {
        std::memcpy(dst, src, 16);
        std::memcpy(dst + 16, src + 16, 16);
        return;
    }
    if (n <= 32 && distance >= 8) {
        if (n >= 8) {
            // Whole words, the last one ending exactly at the run's end. Each
            // word's source ends at or before its destination, so it has been
            // written already, also when the run overlaps its source.
            for (std::uint32_t i = 0; i + 8 < n; i += 8) std::memcpy(dst + i, src + i, 8);
            std::memcpy(dst + n - 8, src + n - 8, 8);
        } else if (n >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, src, 4);
            std::memcpy(&tail, src + n - 4, 4);
            std::memcpy(dst, &head, 4);
            std::memcpy(dst + n - 4, &tail, 4);
        } else {
            for (std::uint32_t i = 0; i < n; ++i) dst[i] = src[i];
        }
        return;
    }
    if (distance >= n) {
        std::memcpy(dst, src, n);
        return;
    }
    if (distance == 1) {
        std::memset(dst, *src, n);
        return;
    }
    // Each pass doubles the repeated pattern that is already in place.
    std::uint32_t done = 0;
    std::uint32_t chunk = distance;
    while (done < n) {
        const std::uint32_t take = std::min(chunk, n - done);
        std::memcpy(dst + done, src, take);
        done += take;
        chunk = to + done - from;
    }
}

}  // namespace

// One reference step at `pos` (context byte `c`) whose symbol `s` is below
// 2 * slotCount: finds the source and length in the rings (moving the head
// entry for a repeat reference) and copies; the caller offers the step's
// positions to the rings. Returns the step's length, or 0 with `result` set
// when the reference fails (nothing is written then).
template <class Bits>
inline std::uint32_t LzDecoder::Reference(Bits& bits, std::uint8_t* __restrict output,
                                          std::int32_t pos, std::uint8_t c, std::uint32_t s,
                                          int& result) {
    const std::uint32_t slotCount = rings_.slotCount;
    std::uint32_t slot;
    std::uint64_t length;
    if (s < slotCount) {
        slot = rings_.Slot(c, s);
        length = static_cast<std::uint64_t>(decoder_.DecodeLength(bits)) + 2;
    } else {
        slot = rings_.Slot(c, s - slotCount);
        length = rings_.Occupied(c, slot) ? rings_.entries[slot].length : 0;
    }
    const bool occupied = rings_.Occupied(c, slot);
    const std::uint32_t source = occupied ? rings_.entries[slot].position : 0;
    if (s >= slotCount) rings_.MoveHeadInto(c, slot);

    if (length > static_cast<std::uint64_t>(outputSize_ - pos)) {
        result = kOverrun;
        return 0;
    }
    if (!occupied || source >= static_cast<std::uint32_t>(outputSize_)) {
        result = kBadReference;
        return 0;
    }
    CopyRun(output, source, static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(length),
            static_cast<std::uint32_t>(outputSize_));
    return static_cast<std::uint32_t>(length);
}

// The loop keeps the stream's bit state (a PrefixDecoder::Cursor), the output
// position and the byte before it (the context of the next step) in locals.
// After every step but the block's first, the next position to enter a ring
// is the one just produced, so the cursor of context bytes the rings keep is
// always outputPos - 1 and needs no variable of its own.
//
// Literals take the short path: one table read, which for a pair entry
// decides two of them, the byte stores and one ring entry each. A pair is
// taken only when both bytes lie below `target` (two steps, never split
// across calls differently from two single ones).
int LzDecoder::Decode(std::int32_t target) {
    const std::uint32_t slotCount = rings_.slotCount;
    const std::uint32_t firstLiteral = 2 * slotCount;
    if (target > outputSize_) target = outputSize_;

    std::uint8_t* __restrict output = output_;
    std::int32_t pos = outputPos_;
    int result = kDone;
    PrefixDecoder::Cursor bits = decoder_.Take();

    if (pos == 0 && pos < target) {
        // The block's first step: no context byte, every ring empty, and
        // position 0 enters no ring.
        const std::uint32_t s = decoder_.DecodeSymbol(bits);
        if (s - firstLiteral < 256) {
            output[0] = static_cast<std::uint8_t>(s - firstLiteral);
            pos = 1;
        } else if (s < slotCount) {
            // Every reference fails here, a candidate reference whose length
            // runs past the block as an overrun.
            const std::uint64_t length = std::uint64_t{decoder_.DecodeLength(bits)} + 2;
            result = length > static_cast<std::uint64_t>(outputSize_) ? kOverrun : kBadReference;
        } else {
            result = kBadReference;
        }
    }
    std::uint8_t prev = pos > 0 ? output[pos - 1] : 0;

    while (result == kDone && pos < target) {
        const PrefixDecoder::SymbolEntry e = decoder_.Entry(bits);
        if (e.symbol >= PrefixDecoder::kPairFlag && e.length != 0 && pos + 1 < target) {
            decoder_.ConsumeBits(bits, e.length);
            const std::uint8_t first = static_cast<std::uint8_t>(e.symbol);
            output[pos] = first;
            output[pos + 1] = e.second;
            rings_.Insert(prev, static_cast<std::uint32_t>(pos), 1);
            rings_.Insert(first, static_cast<std::uint32_t>(pos + 1), 1);
            prev = e.second;
            pos += 2;
            continue;
        }
        // A single codeword of the table as read; a longer one, a pair that
        // would pass `target`, or the end of the stream, the long way.
        std::uint32_t s;
        if (e.length != 0 && e.symbol < PrefixDecoder::kPairFlag) {
            decoder_.ConsumeBits(bits, e.length);
            s = e.symbol;
        } else {
            s = decoder_.DecodeSymbol(bits);
        }
        const std::uint32_t literal = s - firstLiteral;  // wraps for references
        if (literal < 256) {
            output[pos] = static_cast<std::uint8_t>(literal);
            rings_.Insert(prev, static_cast<std::uint32_t>(pos), 1);
            prev = static_cast<std::uint8_t>(literal);
            ++pos;
            continue;
        }
        if (s >= firstLiteral) {
            // Above every symbol: the decoder has run far past the end of the
            // data, and the block cannot be finished from what the archive holds.
            result = kBadReference;
            break;
        }
        const std::uint32_t length = Reference(bits, output, pos, prev, s, result);
        if (length == 0) break;
        std::int32_t insertPos = pos - 1;
        pos += static_cast<std::int32_t>(length);
        rings_.EnterStep(output, insertPos, pos, length, insertInner_);
        prev = output[pos - 1];
    }
    decoder_.Put(bits);
    // A failing step leaves the position where the step began.
    outputPos_ = pos;
    if (result != kDone) return result;
    return decoder_.failed() ? kBadReference : kDone;
}

}  // namespace qk
