// The byte source the decoder pulls compressed data from.
#pragma once

#include <cstdint>

namespace qk {

// Delivers the compressed bytes of an archive. The decoder always asks for 512
// bytes, a multiple of four, so a scrambling key that cycles every four bytes
// stays aligned from one call to the next.
class InputStream {
  public:
    // Places up to `count` bytes into `buffer` and returns how many it placed;
    // 0 means the data has ended. Never negative.
    virtual int Read(std::uint8_t* buffer, int count) = 0;

  protected:
    ~InputStream() = default;
};

}  // namespace qk
