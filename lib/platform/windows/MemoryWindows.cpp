// Windows side of large blocks: the heap. Large pages need a privilege that
// ordinary accounts lack, and VirtualAlloc's pages are faulted in as the
// heap's are.
#include <new>

#include "platform/Memory.h"

namespace qk::platform {

LargeBlock::LargeBlock(std::size_t size)
    : data_(new (std::nothrow) std::uint8_t[size ? size : 1]) {}

LargeBlock::~LargeBlock() {
    delete[] data_;
}

}  // namespace qk::platform
