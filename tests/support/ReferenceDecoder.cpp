#include "support/ReferenceDecoder.h"

#include <algorithm>

namespace qk::test {

PlainCode BuildPlainCode(const std::vector<std::uint32_t>& lengths) {
    struct Group {
        std::uint32_t depth;
        std::vector<std::uint16_t> symbols;
    };
    PlainCode code{std::vector<std::uint32_t>(lengths.size()),
                   std::vector<std::uint16_t>(lengths.size())};
    std::vector<Group> list;
    for (std::size_t i = 0; i < lengths.size(); ++i)
        list.push_back({lengths[i], {static_cast<std::uint16_t>(i)}});
    std::stable_sort(list.begin(), list.end(),
                     [](const Group& a, const Group& b) { return a.depth < b.depth; });
    while (list.size() > 1) {
        Group second = std::move(list.back());
        list.pop_back();
        Group merged = std::move(list.back());
        list.pop_back();
        for (std::uint16_t s : merged.symbols) ++code.lengths[s], code.codes[s] >>= 1;
        for (std::uint16_t s : second.symbols)
            ++code.lengths[s], code.codes[s] = (code.codes[s] >> 1) | 0x80000000u;
        --merged.depth;
        merged.symbols.insert(merged.symbols.end(), second.symbols.begin(), second.symbols.end());
        std::size_t at = list.size();
        while (at > 0 && list[at - 1].depth >= merged.depth) --at;
        list.insert(list.begin() + static_cast<long>(at), std::move(merged));
    }
    return code;
}

}  // namespace qk::test
