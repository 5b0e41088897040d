// Code lengths for the writer: length-limited, complete prefix codes.
#pragma once

#include <cstdint>
#include <vector>

namespace qk {

// Chooses a code length for every symbol from its count: each length from 1
// to maxLength, the set complete (Kraft sum exactly 1) so that the decoder's
// code construction reproduces exactly these lengths. Unused symbols get the
// longest codes; used ones get optimal lengths under the limit
// (package-merge). Requires counts.size() >= 2 and <= 2^maxLength.
std::vector<std::uint8_t> ChooseCodeLengths(const std::vector<std::uint64_t>& counts,
                                            int maxLength);

}  // namespace qk
