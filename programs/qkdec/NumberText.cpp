#include "qkdec/NumberText.h"

#include <cinttypes>
#include <cstdio>

namespace qk {

NumberText::NumberText(std::int64_t value) {
    if (value < 1000) {
        std::snprintf(text_, sizeof text_, "%" PRId64, value);
        return;
    }
    // Groups of three digits from the right; the first group has no padding.
    int groups[7];
    int count = 0;
    std::int64_t rest = value;
    while (rest >= 1000) {
        groups[count++] = static_cast<int>(rest % 1000);
        rest /= 1000;
    }
    int n = std::snprintf(text_, sizeof text_, "%d", static_cast<int>(rest));
    while (count > 0) {
        n += std::snprintf(text_ + n, sizeof text_ - static_cast<std::size_t>(n), ",%03d",
                           groups[--count]);
    }
}

}  // namespace qk
