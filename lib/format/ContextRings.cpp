#include "format/ContextRings.h"

#include <cstring>
#include <new>

namespace qk {

ContextRings::ContextRings(bool largeModel)
    : slotCount(largeModel ? 512 : 256), entries(new (std::nothrow) Entry[256 * slotCount]) {
    Clear();
}

void ContextRings::Clear() {
    std::memset(head, 0, sizeof head);
    std::memset(filled, 0, sizeof filled);
    fullRings = 0;
}

}  // namespace qk
