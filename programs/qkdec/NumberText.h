// A count or size as the messages show it: thousands separated by commas.
#pragma once

#include <cstdint>

namespace qk {

// 1234567 reads "1,234,567". Negative values get no separators ("-5000"), as
// the original rule only groups values of 1,000 and above.
class NumberText {
  public:
    explicit NumberText(std::int64_t value);
    const char* c_str() const { return text_; }

  private:
    char text_[32];  // the longest, -9223372036854775808 or 9,223,...,807, has 25 characters
};

}  // namespace qk
