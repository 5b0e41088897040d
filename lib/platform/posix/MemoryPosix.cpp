// POSIX side of large blocks: anonymous mappings, in huge pages on Linux.
#include <sys/mman.h>

#include <new>

#include "platform/Memory.h"

namespace qk::platform {

namespace {

// Below this, the heap serves as well and a huge page would be mostly unused.
constexpr std::size_t kMappedFrom = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The address sanitizer guards heap blocks only: under it every block comes
// from the heap, so that a write past the end is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapOnly = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kHeapOnly = true;
#else
constexpr bool kHeapOnly = false;
#endif
#else
constexpr bool kHeapOnly = false;
#endif

}  // namespace

LargeBlock::LargeBlock(std::size_t size) {
    if (size == 0) size = 1;
    if (size < kMappedFrom || kHeapOnly) {
        data_ = new (std::nothrow) std::uint8_t[size];
        return;
    }
    const std::size_t length = (size + kHugePage - 1) & ~(kHugePage - 1);
    void* memory =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
#ifdef MADV_HUGEPAGE
    // Advice only: where huge pages are off, the block stays in small ones.
    ::madvise(memory, length, MADV_HUGEPAGE);
#endif
    data_ = static_cast<std::uint8_t*>(memory);
    mapped_ = length;
}

LargeBlock::~LargeBlock() {
    if (mapped_ != 0) {
        ::munmap(data_, mapped_);
    } else {
        delete[] data_;
    }
}

}  // namespace qk::platform
