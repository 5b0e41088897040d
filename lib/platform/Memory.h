// Memory for large blocks of output: a batch is decoded into one block of the
// largest entry's size, which may be hundreds of megabytes that are written
// once, front to back.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace qk::platform {

// A block of `size` bytes, uninitialised, released by the destructor. Large
// blocks are mapped from the system directly and, where it offers them, in
// huge pages: first touching 120 MiB in 4 KiB pages costs some 30,000 page
// faults, a good part of decoding it. Where the system can map pages in
// without writing them (Linux 5.14 and later), a second thread maps the block
// in front to back while its owner fills it, so that the clearing of fresh
// pages happens beside the decoding instead of inside it. Check valid() for a
// failed allocation.
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
    std::atomic<bool> stop_{false};
    std::thread populate_;  // maps the pages in ahead of their first write
};

}  // namespace qk::platform
