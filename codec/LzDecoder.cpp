#include "codec/LzDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qk {

ContextRings::ContextRings(bool largeModel)
    : slotCount(largeModel ? 512 : 256),
      positions(new (std::nothrow) std::uint32_t[256 * slotCount]),
      lengths(new (std::nothrow) std::uint32_t[256 * slotCount]) {
    Clear();
}

void ContextRings::Clear() {
    std::memset(head, 0, sizeof head);
    std::memset(filled, 0, sizeof filled);
}

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
// copy would produce them.
inline void CopyRun(std::uint8_t* out, std::uint32_t from, std::uint32_t to, std::uint32_t n) {
    const std::uint32_t distance = to - from;
    if (distance >= n) {
        std::memcpy(out + to, out + from, n);
        return;
    }
    if (distance == 1) {
        std::memset(out + to, out[from], n);
        return;
    }
    // Each pass doubles the repeated pattern that is already in place.
    std::uint32_t done = 0;
    std::uint32_t chunk = distance;
    while (done < n) {
        const std::uint32_t take = std::min(chunk, n - done);
        std::memcpy(out + to + done, out + from, take);
        done += take;
        chunk = to + done - from;
    }
}

}  // namespace

int LzDecoder::Decode(std::int32_t target) {
    const std::uint32_t slotCount = rings_.slotCount;
    if (target > outputSize_) target = outputSize_;

    while (outputPos_ < target) {
        const std::uint32_t s = decoder_.DecodeSymbol();
        const std::uint32_t literal = s - 2 * slotCount;  // wraps for references
        std::uint64_t length;
        if (literal < 256) {
            output_[outputPos_] = static_cast<std::uint8_t>(literal);
            length = 1;
        } else if (s >= 2 * slotCount) {
            // Above every symbol: the decoder has run far past the end of the
            // data, and the block cannot be finished from what the archive holds.
            return kBadReference;
        } else {
            // At position 0 there is no context byte yet and every ring is
            // empty; the context value does not matter.
            const std::uint8_t c = outputPos_ > 0 ? output_[insertPos_] : 0;
            std::uint32_t slot;
            if (s < slotCount) {
                slot = rings_.Slot(c, s);
                length = static_cast<std::uint64_t>(decoder_.DecodeLength()) + 2;
            } else {
                slot = rings_.Slot(c, s - slotCount);
                length = rings_.Occupied(c, slot) ? rings_.lengths[slot] : 0;
            }
            const bool occupied = rings_.Occupied(c, slot);
            const std::uint32_t source = occupied ? rings_.positions[slot] : 0;
            if (s >= slotCount) rings_.MoveHeadInto(c, slot);

            if (length > static_cast<std::uint64_t>(outputSize_ - outputPos_)) return kOverrun;
            if (!occupied || source >= static_cast<std::uint32_t>(outputSize_)) {
                return kBadReference;
            }
            CopyRun(output_, source, static_cast<std::uint32_t>(outputPos_),
                    static_cast<std::uint32_t>(length));
        }
        outputPos_ += static_cast<std::int32_t>(length);

        rings_.EnterStep(output_, insertPos_, outputPos_, static_cast<std::uint32_t>(length),
                         insertInner_);
    }
    return decoder_.failed() ? kBadReference : kDone;
}

}  // namespace qk
