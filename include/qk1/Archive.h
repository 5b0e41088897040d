// What an opened qk1 archive tells: its header fields, its entry table and
// the batches its entry data is cut into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qk {

// Where the archive starts inside its file, and the fields of its header.
struct ArchiveHeader {
    std::int64_t offset = 0;  // 0 for a plain archive; past the program in a self-extracting one
    std::uint8_t flags = 0;
    std::uint8_t passwordCheck = 0;
    std::int32_t totalSize = 0;  // decoded bytes: the entry table and every entry
    std::int32_t tableSize = 0;
    std::int32_t entryCount = 0;

    bool largeModel() const { return flags & 1; }   // 512 candidates per context, 1280 symbols
    bool insertInner() const { return flags & 2; }  // positions inside copies enter the rings
    bool passwordSet() const { return flags & 4; }
    std::int32_t dataSize() const {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(totalSize) -
                                         static_cast<std::uint32_t>(tableSize));
    }
};

// The entry names, in entry order, as stored (Shift-JIS, CP932) but for the
// folder separators, which the reader sets to the one the caller asked for.
class NameList {
  public:
    void Add(std::string name) { items_.push_back(std::move(name)); }
    const std::string& Item(int i) const { return items_[static_cast<std::size_t>(i)]; }
    int Count() const { return static_cast<int>(items_.size()); }

  private:
    std::vector<std::string> items_;
};

// The decoded entry table.
struct EntryTable {
    std::int32_t entryCount = 0;
    std::vector<std::int32_t> sizes;
    std::vector<std::uint32_t> times;  // modification times, seconds since 1970 UTC
    NameList names;
    std::int32_t largestSize = 0;
};

// A run of whole consecutive entries decoded as one block.
struct Batch {
    std::int32_t first;
    std::int32_t count;
    std::int32_t total;  // their bytes together
};

}  // namespace qk
