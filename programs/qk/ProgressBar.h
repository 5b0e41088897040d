// A one-line progress bar on standard error: share done, bytes, rate and the
// current name. It draws nothing unless standard error is a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qk::tool {

class ProgressBar {
  public:
    // `enabled` false gives a bar that never draws.
    ProgressBar(bool enabled, std::int64_t total);
    ~ProgressBar() { Clear(); }

    // Redraws at most ten times a second, and always when `done` reaches the total.
    void Update(std::int64_t done, std::string_view label);
    // Erases the bar so that other text can be written; the next Update draws it again.
    void Clear();

  private:
    double Seconds() const;

    bool enabled_;
    std::int64_t total_;
    double start_;
    double lastDraw_ = -1;
    bool drawn_ = false;
};

}  // namespace qk::tool
