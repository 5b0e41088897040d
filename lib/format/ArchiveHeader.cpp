#include "format/ArchiveHeader.h"

#include <cstring>

#include "format/ByteOrder.h"

namespace qk {

bool ParseHeader(const std::uint8_t* bytes, ArchiveHeader& header) {
    if (std::memcmp(bytes, kSignature, 4) != 0) return false;
    header.flags = bytes[6];
    header.passwordCheck = bytes[7];
    header.totalSize = static_cast<std::int32_t>(ReadBigEndian32(bytes + 8));
    header.tableSize = static_cast<std::int32_t>(ReadBigEndian32(bytes + 12));
    header.entryCount = static_cast<std::int32_t>(ReadBigEndian32(bytes + 16));
    return true;
}

void FormatHeader(const ArchiveHeader& header, std::uint8_t* bytes) {
    std::memcpy(bytes, "qk010400", 6);
    bytes[6] = header.flags;
    bytes[7] = header.passwordCheck;
    WriteBigEndian32(static_cast<std::uint32_t>(header.totalSize), bytes + 8);
    WriteBigEndian32(static_cast<std::uint32_t>(header.tableSize), bytes + 12);
    WriteBigEndian32(static_cast<std::uint32_t>(header.entryCount), bytes + 16);
}

std::int64_t ArchiveOffsetFromTrailer(const std::uint8_t* trailer, std::int64_t fileLength) {
    const std::int64_t offset = fileLength - kTrailerSize - std::int64_t{ReadBigEndian32(trailer)};
    if (offset < 0 || offset + kHeaderSize > fileLength) return -1;
    return offset;
}

PasswordKey DeriveKey(std::string_view password) {
    const std::uint32_t l = static_cast<std::uint32_t>(password.size()) & 0xFF;
    std::uint32_t product = l, sum = l, difference = l, exclusive = l;
    std::uint8_t check = static_cast<std::uint8_t>(l);
    for (std::size_t i = 0; i < password.size(); ++i) {
        const std::uint8_t b = static_cast<std::uint8_t>(password[i]);
        const std::uint32_t v =
            static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(b))) ^
            static_cast<std::uint32_t>(i);
        check = static_cast<std::uint8_t>(check + ((i & 0xFF) ^ b));
        product *= v;
        sum += v;
        difference -= v;
        exclusive ^= v;
    }
    const std::uint32_t k = product + difference * sum + exclusive;
    PasswordKey result;
    WriteBigEndian32(k, result.key);
    result.check = check;
    return result;
}

}  // namespace qk
