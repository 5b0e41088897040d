// The entry table of a qk1 archive (sizes, times and names of the entries)
// and the batch rule that cuts the entry data into LZ blocks.
//
// Table layout: N big-endian sizes, N big-endian times, N names each ended by
// a zero byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qk1/Archive.h"

namespace qk {

// True for the first byte of a Shift-JIS double-byte character as the format
// scans text: 0x80-0x9F and 0xE0-0xEF.
inline bool IsLeadByte(std::uint8_t b) {
    return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// Rewrites both separators of a name (0x5C and 0x2F) to `separator`, leaving
// the second byte of a double-byte character alone.
void NormaliseSeparators(std::string& name, char separator);

// The components of a name whose separators are `separator` (as the table
// reader leaves them): the byte after a lead byte is never a separator.
std::vector<std::string> SplitAtSeparators(std::string_view name, char separator);

// Parses a decoded table into `table`. False when the table is inconsistent:
// a negative count, 8N beyond the table, a name without its zero byte inside
// the table, or a negative size. Names get `separator` for both separators.
bool ParseEntryTable(const std::uint8_t* bytes, std::int32_t tableSize, std::int32_t entryCount,
                     char separator, EntryTable& table);
// Same over the table's own block (at least tableSize bytes), which the name
// list takes over: the names stay where they are, so the parsed table costs
// its decoded size and a few bytes per entry.
bool ParseEntryTable(std::unique_ptr<char[]> block, std::int32_t tableSize, std::int32_t entryCount,
                     char separator, EntryTable& table);

// Appends the table of these entries (the writer's side).
void FormatEntryTable(const std::vector<std::int32_t>& sizes,
                      const std::vector<std::uint32_t>& times,
                      const std::vector<std::string_view>& names, std::vector<std::uint8_t>& out);

// The batch rule: a batch takes entries while their sum stays at or below the
// largest entry size; the first entry that would exceed it starts the next.
// Empty entries join the current batch. The writer must cut its blocks here.
std::vector<Batch> FormBatches(const std::vector<std::int32_t>& sizes, std::int32_t largestSize);

}  // namespace qk
