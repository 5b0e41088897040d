// Word-wise helpers of the parsers' ring search: loads for comparing runs,
// and the test of sixteen slots' first bytes at once (SSE2 where the target
// has it, a plain loop elsewhere).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define QK_SSE2 1
#endif

namespace qk {

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

// Bit i set when slot `first + i` of `keys` agrees with `want` under `mask`,
// for the 16 slots from `first`.
inline std::uint32_t MatchMask16(const std::uint32_t* keys, std::uint32_t want,
                                 std::uint32_t mask) {
#ifdef QK_SSE2
    const __m128i m = _mm_set1_epi32(static_cast<int>(mask));
    const __m128i w = _mm_set1_epi32(static_cast<int>(want & mask));
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i v =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 4 * i)), m);
        bits |= static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, w))))
                << (4 * i);
    }
    return bits;
#else
    std::uint32_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<std::uint32_t>(((keys[i] ^ want) & mask) == 0) << i;
    return bits;
#endif
}

// Bit i set when the 16-bit key `first + i` of `keys` equals `want`, for the
// 16 keys from `first`: the two-byte test in a third of the work of the
// masked 32-bit one.
inline std::uint32_t MatchMask16x16(const std::uint16_t* keys, std::uint16_t want) {
#ifdef QK_SSE2
    const __m128i w = _mm_set1_epi16(static_cast<short>(want));
    const __m128i lo = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(keys)), w);
    const __m128i hi =
        _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 8)), w);
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(lo, hi)));
#else
    std::uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= static_cast<std::uint32_t>(keys[i] == want) << i;
    return bits;
#endif
}

// The slots a search looks at: the newest `depth` of a ring of `n` slots
// with `filled` entries and its head at `head`, which lie just below the head
// (wrapping round a full ring), as up to two ranges [begin, end). Older
// entries are not looked at.
struct NewestSlots {
    std::uint32_t ranges[2][2];

    NewestSlots(std::uint32_t head, std::uint32_t filled, std::uint32_t depth, std::uint32_t n)
        : ranges{{0, filled}, {0, 0}} {
        if (depth >= filled) return;
        if (head >= depth) {
            ranges[0][0] = head - depth;
            ranges[0][1] = head;
        } else {
            ranges[0][1] = head;
            ranges[1][0] = n - (depth - head);
            ranges[1][1] = n;
        }
    }
};

}  // namespace qk
