// What an opened qk1 archive tells: its header fields, its entry table and
// the batches its entry data is cut into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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
// They lie in one block, each ended by a zero byte, with their offsets
// beside them: a few bytes per entry over the names themselves, however many
// entries a table claims.
class NameList {
  public:
    NameList() = default;
    NameList(const NameList& other);
    NameList& operator=(const NameList& other);
    NameList(NameList&&) noexcept = default;
    NameList& operator=(NameList&&) noexcept = default;

    // Appends a copy of `name` (false, and nothing added, when the block
    // would pass 4 GiB). May throw std::bad_alloc.
    bool Add(std::string_view name);
    // Takes over `size` bytes at `block` that hold the names: name i starts
    // at starts[i] and ends with the zero byte before starts[i + 1]; `starts`
    // has one offset more than there are names.
    void Adopt(std::unique_ptr<char[]> block, std::size_t size, std::vector<std::uint32_t> starts);

    std::string_view Item(int i) const {
        const std::uint32_t start = starts_[static_cast<std::size_t>(i)];
        const std::uint32_t next = starts_[static_cast<std::size_t>(i) + 1];
        return std::string_view(block_.get() + start, next - start - 1);
    }
    int Count() const { return starts_.empty() ? 0 : static_cast<int>(starts_.size() - 1); }

  private:
    std::unique_ptr<char[]> block_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::vector<std::uint32_t> starts_;  // where each name starts, and where the last one ends
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
