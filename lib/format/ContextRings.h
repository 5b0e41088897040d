// The candidate rings of the format's LZ coding, kept alike by the decoder
// and the writer: which slot a symbol names, which positions enter which
// ring and how a repeat reference moves a slot are the format, so they stand
// here once.
#pragma once

#include <cstdint>
#include <memory>

namespace qk {

// Hooks for the writer, which keeps data of its own beside each slot.
struct NoSlotHook {
    void operator()(std::uint32_t /*slot*/, std::uint32_t /*position*/) const {}
};
struct NoSlotMove {
    void operator()(std::uint32_t /*from*/, std::uint32_t /*to*/) const {}
};

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
    // `hook(slot, position)` runs before the slot is written: the writer keeps
    // data of its own per slot.
    template <class Hook = NoSlotHook>
    void Insert(std::uint8_t context, std::uint32_t position, std::uint32_t length, Hook hook = {}) {
        const std::uint32_t base = context * slotCount;
        hook(base + head[context], position);
        entries[base + head[context]] = {position, length};
        if (++head[context] > filled[context]) {
            filled[context] = head[context];
            if (filled[context] == slotCount) ++fullRings;
        }
        if (head[context] == slotCount) head[context] = 0;
    }

    // Inner positions of a step enter only rings that have never been full.
    template <class Hook = NoSlotHook>
    void InsertIfNotFull(std::uint8_t context, std::uint32_t position, std::uint32_t length,
                         Hook hook = {}) {
        if (filled[context] <= head[context]) Insert(context, position, length, hook);
    }

    // A repeat reference through slot `used` of a full ring moves the entry the
    // next insertion would overwrite into the slot just used.
    // `move(from, to)` runs when an entry moves.
    template <class Move = NoSlotMove>
    void MoveHeadInto(std::uint8_t context, std::uint32_t used, Move move = {}) {
        const std::uint32_t h = context * slotCount + head[context];
        if (head[context] < filled[context]) {
            move(h, used);
            entries[used] = entries[h];
        }
    }

    // Offers the positions of a step that ended at `outputPos` (exclusive)
    // with `length` bytes. `insertPos` is the cursor of the next context byte:
    // every position p >= 1 is a candidate for the ring of the byte at p-1,
    // stored with the number of bytes from p to the end of its step. The first
    // position of a step always enters; inner ones only with `inner` and only
    // into rings that have never been full. After the first step of a block
    // (outputPos 1) nothing enters: position 0 has no context.
    template <class Hook = NoSlotHook>
    void EnterStep(const std::uint8_t* output, std::int32_t& insertPos, std::int32_t outputPos,
                   std::uint32_t length, bool inner, Hook hook = {}) {
        if (outputPos - 1 <= insertPos) return;
        Insert(output[insertPos], static_cast<std::uint32_t>(insertPos + 1), length, hook);
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
                            remaining, hook);
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

}  // namespace qk
