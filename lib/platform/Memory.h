// Memory for large blocks of output: a batch is decoded into one block of the
// largest entry's size, which may be hundreds of megabytes that are written
// once, front to back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qk::platform {

// A block of `size` bytes, uninitialised, released by the destructor. Large
// blocks are mapped from the system directly and, where it offers them, in
// huge pages: first touching 120 MiB in 4 KiB pages costs some 30,000 page
// faults, a good part of decoding it. Check valid() for a failed allocation.
class LargeBlock {
  public:
    explicit LargeBlock(std::size_t size);
    ~LargeBlock();
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    bool valid() const { return data_ != nullptr; }
    std::uint8_t* get() const { return data_; }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t mapped_ = 0;  // bytes mapped from the system; 0 for the heap
};

}  // namespace qk::platform
