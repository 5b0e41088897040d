// Byte order of the format: every integer of a header, an entry table and a
// self-extracting trailer is 32 bits, most significant byte first.
#pragma once

#include <cstdint>
#include <vector>

namespace qk {

inline std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

inline void WriteBigEndian32(std::uint32_t v, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

inline void AppendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t bytes[4];
    WriteBigEndian32(v, bytes);
    out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace qk
