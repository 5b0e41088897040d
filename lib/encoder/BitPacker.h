// Bits out, most significant bit of each byte first, as the decoder reads them.
#pragma once

#include <cstdint>
#include <vector>

namespace qk {

class BitPacker {
  public:
    explicit BitPacker(std::vector<std::uint8_t>& out) : out_(out) {}

    // Appends the low `count` bits of `value` (count <= 32), first bit highest.
    void Put(std::uint32_t value, unsigned count) {
        if (count == 0) return;
        if (count < 32) value &= (1u << count) - 1;
        pending_ = (pending_ << count) | value;
        pendingBits_ += count;
        while (pendingBits_ >= 8) {
            pendingBits_ -= 8;
            out_.push_back(static_cast<std::uint8_t>(pending_ >> pendingBits_));
        }
    }

    // Appends a left-aligned codeword of `length` bits.
    void PutCode(std::uint32_t code, unsigned length) { Put(code >> (32 - length), length); }

    // Pads the last byte with zero bits.
    void Flush() {
        if (pendingBits_ > 0)
            out_.push_back(static_cast<std::uint8_t>(pending_ << (8 - pendingBits_)));
        pendingBits_ = 0;
    }

  private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t pending_ = 0;
    unsigned pendingBits_ = 0;
};

}  // namespace qk
