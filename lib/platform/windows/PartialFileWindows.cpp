// Windows side of the registry of partial files: the handles of the files
// being written (opened with DELETE access), which the console control
// handler marks for deletion before the process ends; the system deletes
// them when it closes the handles. A lock keeps the handler from a writer
// that is creating its file, putting it in place or removing it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <atomic>

#include "platform/PartialFile.h"

namespace qk::platform {

namespace {

constexpr int kSlots = 4;
std::atomic<void*> gSlots[kSlots];
SRWLOCK gLock = SRWLOCK_INIT;

}  // namespace

namespace partial {

int Register(void* handle) noexcept {
    for (int i = 0; i < kSlots; ++i) {
        void* expected = nullptr;
        if (gSlots[i].compare_exchange_strong(expected, handle)) return i;
    }
    return -1;
}

void Unregister(int slot) noexcept {
    if (slot >= 0 && slot < kSlots) gSlots[slot].store(nullptr);
}

void Lock() noexcept {
    ::AcquireSRWLockExclusive(&gLock);
}

void Unlock() noexcept {
    ::ReleaseSRWLockExclusive(&gLock);
}

}  // namespace partial

// The lock is taken for good: the process ends right after.
void DiscardPartialFiles() noexcept {
    ::AcquireSRWLockExclusive(&gLock);
    for (std::atomic<void*>& slot : gSlots) {
        void* handle = slot.exchange(nullptr);
        if (!handle) continue;
        FILE_DISPOSITION_INFO disposition;
        disposition.DeleteFile = TRUE;
        ::SetFileInformationByHandle(static_cast<HANDLE>(handle), FileDispositionInfo, &disposition,
                                     sizeof disposition);
    }
}

}  // namespace qk::platform
