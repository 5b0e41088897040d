// A count or size as the messages show it: thousands separated by commas.
#pragma once

#include <cstdint>

namespace qk {

// 1234567 reads "1,234,567". Grouping starts at 1,000; anything below,
// negative values included, is plain digits ("-5000"). Counts and sizes are
// never negative in a sound archive, so such a figure only shows what a
// damaged header claims, and needs no grouping.
class NumberText {
  public:
    explicit NumberText(std::int64_t value);
    const char* c_str() const { return text_; }

  private:
    char text_[32];  // the longest, -9223372036854775808 or 9,223,...,807, has 25 characters
};

}  // namespace qk
