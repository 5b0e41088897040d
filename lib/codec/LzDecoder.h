// LZ reconstruction of the qk1 format: a dictionary decoder without distances.
//
// A reference does not give an offset; it names a slot in a small ring of
// earlier positions kept for each value of the byte before the current
// position (the context). Each step emits one literal byte or copies an
// earlier run, then offers the positions it produced to the rings. The rings
// themselves, which the writer keeps exactly the same way, are in
// format/ContextRings.h.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/InputStream.h"
#include "codec/PrefixDecoder.h"
#include "format/ContextRings.h"

namespace qk {

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
    // failed codeword. Bytes of the block beyond outputPos() may be written
    // too (a copy moves whole words); the steps that produce them write them
    // again. Nothing beyond the block is written.
    int Decode(std::int32_t target);

    std::int32_t outputPos() const { return outputPos_; }
    // True once the decoding has used bits past the end of the input (see
    // PrefixDecoder::ConsumedPastEnd).
    bool consumedPastEnd() const { return decoder_.ConsumedPastEnd(); }
    const ContextRings& rings() const { return rings_; }
    // Input bits read ahead and not yet used.
    std::int64_t unusedInputBits() const { return decoder_.unusedBits(); }

  private:
    template <class Bits>
    std::uint32_t Reference(Bits& bits, std::uint8_t* __restrict output, std::int32_t pos,
                            std::uint8_t c, std::uint32_t s, int& result);

    PrefixDecoder decoder_;
    ContextRings rings_;
    bool insertInner_;
    std::uint8_t* output_ = nullptr;
    std::int32_t outputSize_ = 0;
    std::int32_t outputPos_ = 0;
};

}  // namespace qk
