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
    insertPos_ = 0;
}

namespace {

// Copies a run that may overlap its own source (source behind destination):
// the bytes repeat with the period of the distance, as a byte-wise forward
// copy would produce them. Nothing past the run's end is written.
inline void CopyRun(std::uint8_t* out, std::uint32_t from, std::uint32_t to, std::uint32_t n) {
    const std::uint32_t distance = to - from;
    std::uint8_t* dst = out + to;
    const std::uint8_t* src = out + from;
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

int LzDecoder::Decode(std::int32_t target) {
    const std::uint32_t slotCount = rings_.slotCount;
    if (target > outputSize_) target = outputSize_;

    // The block's state in locals for the loop; the output pointer is not
    // aliased by anything else the loop touches, which keeps the decoder's
    // bit state in registers across the byte stores.
    std::uint8_t* __restrict output = output_;
    std::int32_t outputPos = outputPos_;
    std::int32_t insertPos = insertPos_;
    int result = kDone;

    while (outputPos < target) {
        const std::uint32_t s = decoder_.DecodeSymbol();
        const std::uint32_t literal = s - 2 * slotCount;  // wraps for references
        std::uint64_t length;
        if (literal < 256) {
            output[outputPos] = static_cast<std::uint8_t>(literal);
            length = 1;
        } else if (s >= 2 * slotCount) {
            // Above every symbol: the decoder has run far past the end of the
            // data, and the block cannot be finished from what the archive holds.
            result = kBadReference;
            break;
        } else {
            // At position 0 there is no context byte yet and every ring is
            // empty; the context value does not matter.
            const std::uint8_t c = outputPos > 0 ? output[insertPos] : 0;
            std::uint32_t slot;
            if (s < slotCount) {
                slot = rings_.Slot(c, s);
                length = static_cast<std::uint64_t>(decoder_.DecodeLength()) + 2;
            } else {
                slot = rings_.Slot(c, s - slotCount);
                length = rings_.Occupied(c, slot) ? rings_.entries[slot].length : 0;
            }
            const bool occupied = rings_.Occupied(c, slot);
            const std::uint32_t source = occupied ? rings_.entries[slot].position : 0;
            if (s >= slotCount) rings_.MoveHeadInto(c, slot);

            if (length > static_cast<std::uint64_t>(outputSize_ - outputPos)) {
                result = kOverrun;
                break;
            }
            if (!occupied || source >= static_cast<std::uint32_t>(outputSize_)) {
                result = kBadReference;
                break;
            }
            CopyRun(output, source, static_cast<std::uint32_t>(outputPos),
                    static_cast<std::uint32_t>(length));
        }
        outputPos += static_cast<std::int32_t>(length);

        rings_.EnterStep(output, insertPos, outputPos, static_cast<std::uint32_t>(length),
                         insertInner_);
    }
    // A failing step leaves the position where the step began.
    outputPos_ = outputPos;
    insertPos_ = insertPos;
    if (result != kDone) return result;
    return decoder_.failed() ? kBadReference : kDone;
}

}  // namespace qk
