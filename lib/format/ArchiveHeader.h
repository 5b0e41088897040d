// The 20-byte header of a qk1 archive, the self-extracting trailer, and the
// password's key and check value.
//
// Header: "qk01", two bytes nobody reads ("04" by the writer), the flags, the
// password check value, then the total decoded size, the table size and the
// entry count as big-endian 32-bit integers. A self-extracting program ends
// with the archive's length as 4 big-endian bytes, the archive right before.
#pragma once

#include <cstdint>
#include <string_view>

#include "qk1/Archive.h"

namespace qk {

constexpr int kHeaderSize = 20;
constexpr int kTrailerSize = 4;
constexpr char kSignature[4] = {'q', 'k', '0', '1'};

// Decodes header fields from 20 bytes. False when the signature is missing.
bool ParseHeader(const std::uint8_t* bytes, ArchiveHeader& header);

// Serialises a header (the writer's side), with "04" in the unread bytes 4-5.
void FormatHeader(const ArchiveHeader& header, std::uint8_t* bytes);

// Where the archive of a self-extracting file of `fileLength` bytes starts,
// from the trailer's 4 bytes; -1 when the trailer leaves no room for a header.
std::int64_t ArchiveOffsetFromTrailer(const std::uint8_t* trailer, std::int64_t fileLength);

// The scrambling key and check value that a password gives.
struct PasswordKey {
    std::uint8_t key[4];
    std::uint8_t check;
};

// Derives key and check from the password bytes. The arithmetic of the format:
// four 32-bit accumulators (product, sum, difference, xor) over each byte read
// as a signed char and xored with its index, combined as P + D*S + X, key in
// big-endian order; the check sums (index xor byte) over unsigned bytes.
PasswordKey DeriveKey(std::string_view password);

}  // namespace qk
