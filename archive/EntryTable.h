// The entry table of a qk1 archive (sizes, times and names of the entries)
// and the batch rule that cuts the entry data into LZ blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qk {

// True for the first byte of a Shift-JIS double-byte character as the format
// scans text: 0x80-0x9F and 0xE0-0xEF.
inline bool IsLeadByte(std::uint8_t b) {
    return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// Owned copies of the entry names, in entry order.
class NameList {
  public:
    void Add(std::string name) { items_.push_back(std::move(name)); }
    const std::string& Item(int i) const { return items_[static_cast<std::size_t>(i)]; }
    int Count() const { return static_cast<int>(items_.size()); }

  private:
    std::vector<std::string> items_;
};

// Rewrites both separators of a name (0x5C and 0x2F) to `separator`, leaving
// the second byte of a double-byte character alone.
void NormaliseSeparators(std::string& name, char separator);

// Decoded table layout: N big-endian sizes, N big-endian times, N names each
// ended by a zero byte.
class EntryTable {
  public:
    // Parses a decoded table. False when the table is inconsistent: a negative
    // count, 8N beyond the table, a name without its zero byte inside the
    // table, or a negative size. Names get `separator` for both separators.
    bool Parse(const std::uint8_t* table, std::int32_t tableSize, std::int32_t entryCount,
               char separator);

    std::int32_t entryCount = 0;
    std::vector<std::int32_t> sizes;
    std::vector<std::uint32_t> times;
    NameList names;
    std::int32_t largestSize = 0;
};

// A run of whole consecutive entries decoded as one LZ block.
struct Batch {
    std::int32_t first;
    std::int32_t count;
    std::int32_t total;
};

// The batch rule: a batch takes entries while their sum stays at or below the
// largest entry size; the first entry that would exceed it starts the next.
// Empty entries join the current batch. The writer must cut its blocks here.
std::vector<Batch> FormBatches(const std::vector<std::int32_t>& sizes, std::int32_t largestSize);

}  // namespace qk
