// Cutting a block into literals, candidate references and repeat references,
// with the context rings kept exactly as the decoder keeps them.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/LzDecoder.h"

namespace qk {

// One coded step: a main-alphabet symbol and, for a candidate reference, the
// reference length less 2 (the value the length code carries).
struct Token {
    std::uint16_t symbol;
    std::uint32_t lengthValue;
};

class LzParser {
  public:
    // searchDepth: how many slots of a ring to look at, newest first (0: all).
    LzParser(bool largeModel, bool insertInner, int searchDepth);

    bool valid() const { return rings_.valid(); }

    // Parses one block with fresh rings (greedy, longest gain first) and
    // appends its tokens.
    void ParseBlock(const std::uint8_t* data, std::int32_t size, std::vector<Token>& tokens);

  private:
    ContextRings rings_;
    bool insertInner_;
    std::uint32_t searchDepth_;
};

}  // namespace qk
