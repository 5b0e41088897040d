// POSIX side of large blocks: anonymous mappings, in huge pages on Linux.
#include <sys/mman.h>

#include <new>
#include <system_error>

#include "platform/Interrupts.h"
#include "platform/Memory.h"

namespace qk::platform {

namespace {

// Below this, the heap serves as well and a huge page would be mostly unused.
constexpr std::size_t kMappedFrom = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
#ifdef MADV_POPULATE_WRITE
// Pages are mapped in by the helper in steps of this many bytes, so that it
// stops soon after the block is released.
constexpr std::size_t kPopulateStep = std::size_t{8} << 20;
#endif

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
#ifdef MADV_POPULATE_WRITE
    // Mapping a page in for writing leaves its bytes as they are (zero for a
    // fresh page, the owner's for one already written), so the helper never
    // races with the owner's writes. A system without the advice refuses the
    // first step, and the owner faults the pages in as before.
    try {
        const InterruptsHeld held;  // the helper never takes them
        populate_ = std::thread([this, length] {
            for (std::size_t at = 0; at < length && !stop_.load(std::memory_order_relaxed);
                 at += kPopulateStep) {
                const std::size_t step = length - at < kPopulateStep ? length - at : kPopulateStep;
                if (::madvise(data_ + at, step, MADV_POPULATE_WRITE) != 0) break;
            }
        });
    } catch (const std::system_error&) {
        // No thread: the pages are faulted in by their first writes.
    }
#endif
}

LargeBlock::~LargeBlock() {
    stop_.store(true, std::memory_order_relaxed);
    if (populate_.joinable()) populate_.join();
    if (mapped_ != 0) {
        ::munmap(data_, mapped_);
    } else {
        delete[] data_;
    }
}

}  // namespace qk::platform
