// LZ reconstruction of the qk1 format: a dictionary decoder without distances.
//
// A reference does not give an offset; it names a slot in a small ring of
// earlier positions kept for each value of the byte before the current
// position (the context). Each step emits one literal byte or copies an
// earlier run, then offers the positions it produced to the rings. The writer
// keeps the rings exactly the same way (ContextRings below serves both), so the
// rules here, which slot a symbol names, which positions enter which ring and a
// repeat reference's slot move, are the format.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/InputStream.h"
#include "codec/PrefixDecoder.h"

namespace qk {

// The candidate rings of one block: for each context byte c a ring of
// slotCount (position, length) entries. Occupied slots are always 0..filled-1
// (a ring fills from slot 0 and only a full ring wraps), so emptiness is read
// from `filled` and starting a block only has to clear head and filled.
class ContextRings {
  public:
    explicit ContextRings(bool largeModel);

    bool valid() const { return entries != nullptr; }

    // Empties every ring.
    void Clear();

    // slotCount is a power of two, so the ring index wraps with a mask.
    std::uint32_t Slot(std::uint8_t context, std::uint32_t offset) const {
        return context * slotCount + ((head[context] + offset) & (slotCount - 1));
    }
    bool Occupied(std::uint8_t context, std::uint32_t slot) const {
        return (slot - context * slotCount) < filled[context];
    }

    // Enters `position` with `length` as the newest entry of the ring of
    // `context`, overwriting the oldest once the ring is full.
    void Insert(std::uint8_t context, std::uint32_t position, std::uint32_t length) {
        const std::uint32_t base = context * slotCount;
        entries[base + head[context]] = {position, length};
        if (++head[context] > filled[context]) {
            filled[context] = head[context];
            if (filled[context] == slotCount) ++fullRings;
        }
        if (head[context] == slotCount) head[context] = 0;
    }

    // Inner positions of a step enter only rings that have never been full.
    void InsertIfNotFull(std::uint8_t context, std::uint32_t position, std::uint32_t length) {
        if (filled[context] <= head[context]) Insert(context, position, length);
    }

    // A repeat reference through slot `used` of a full ring moves the entry the
    // next insertion would overwrite into the slot just used.
    void MoveHeadInto(std::uint8_t context, std::uint32_t used) {
        const std::uint32_t h = context * slotCount + head[context];
        if (head[context] < filled[context]) entries[used] = entries[h];
    }

    // Offers the positions of a step that ended at `outputPos` (exclusive)
    // with `length` bytes. `insertPos` is the cursor of the next context byte:
    // every position p >= 1 is a candidate for the ring of the byte at p-1,
    // stored with the number of bytes from p to the end of its step. The first
    // position of a step always enters; inner ones only with `inner` and only
    // into rings that have never been full. After the first step of a block
    // (outputPos 1) nothing enters: position 0 has no context.
    void EnterStep(const std::uint8_t* output, std::int32_t& insertPos, std::int32_t outputPos,
                   std::uint32_t length, bool inner) {
        if (outputPos - 1 <= insertPos) return;
        Insert(output[insertPos], static_cast<std::uint32_t>(insertPos + 1), length);
        ++insertPos;
        if (!inner) {
            insertPos = outputPos - 1;
            return;
        }
        // Once every ring has been full, inner positions enter nowhere.
        if (fullRings == 256) {
            insertPos = outputPos - 1;
            return;
        }
        std::uint32_t remaining = length - 1;
        while (outputPos - 1 > insertPos) {
            InsertIfNotFull(output[insertPos], static_cast<std::uint32_t>(insertPos + 1),
                            remaining);
            --remaining;
            ++insertPos;
        }
    }

    std::uint32_t slotCount;
    std::uint16_t head[256];
    std::uint16_t filled[256];
    std::uint32_t fullRings = 0;  // rings whose filled has reached slotCount
    // A slot's position and length side by side: a step reads or writes
    // both, so one cache line serves it.
    struct Entry {
        std::uint32_t position;
        std::uint32_t length;
    };
    std::unique_ptr<Entry[]> entries;
};

class LzDecoder {
  public:
    enum Result { kDone = 0, kOverrun = 1, kBadReference = 2 };

    // Builds the prefix decoder (reading the code block from `input`) and the
    // rings. Check valid() for failed allocations.
    LzDecoder(InputStream* input, bool insertInner, bool largeModel);

    bool valid() const { return decoder_.valid() && rings_.valid(); }

    // Starts a new block of `size` bytes in `output`, with empty rings. The bit
    // stream carries on.
    void Reset(std::uint8_t* output, std::int32_t size);

    // Decodes until at least `target` bytes of the block exist (a step is never
    // split, so up to the block's end). Returns kDone, kOverrun when a copy would
    // run past the block, or kBadReference for a reference to an empty slot or a
    // failed codeword.
    int Decode(std::int32_t target);

    std::int32_t outputPos() const { return outputPos_; }
    const ContextRings& rings() const { return rings_; }

  private:
    PrefixDecoder decoder_;
    ContextRings rings_;
    bool insertInner_;
    std::uint8_t* output_ = nullptr;
    std::int32_t outputSize_ = 0;
    std::int32_t outputPos_ = 0;
    std::int32_t insertPos_ = 0;
};

}  // namespace qk
