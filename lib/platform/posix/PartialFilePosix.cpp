// POSIX side of the registry of partial files: a few fixed slots, each a
// folder descriptor and a name, published through a lock-free atomic so that
// a signal handler may read them at any moment of the writer's work.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "platform/PartialFile.h"

namespace qk::platform {

namespace {

// kFree -> kFilling (the writer copies the name) -> kActive -> kFree. The
// handler only touches kActive slots; a slot is filled completely before it
// is published.
enum SlotState : int { kFree = 0, kFilling = 1, kActive = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    int folder = AT_FDCWD;
    char name[PATH_MAX + 1];
};

constexpr int kSlots = 4;
Slot gSlots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");

}  // namespace

namespace partial {

int Register(int folder, const char* name) noexcept {
    const std::size_t length = std::strlen(name);
    if (length == 0 || length > PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        gSlots[i].folder = folder;
        std::memcpy(gSlots[i].name, name, length + 1);
        gSlots[i].state.store(kActive);
        return i;
    }
    return -1;
}

void Unregister(int slot) noexcept {
    if (slot >= 0 && slot < kSlots) gSlots[slot].state.store(kFree);
}

}  // namespace partial

void DiscardPartialFiles() noexcept {
    for (Slot& slot : gSlots) {
        int expected = kActive;
        if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
        ::unlinkat(slot.folder, slot.name, 0);
        slot.state.store(kFree);
    }
}

}  // namespace qk::platform
