#include "format/EntryTable.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "format/ByteOrder.h"

namespace qk {

NameList::NameList(const NameList& other)
    : block_(other.size_ ? new char[other.size_] : nullptr),
      size_(other.size_),
      capacity_(other.size_),
      starts_(other.starts_) {
    if (size_) std::memcpy(block_.get(), other.block_.get(), size_);
}

NameList& NameList::operator=(const NameList& other) {
    if (this != &other) *this = NameList(other);
    return *this;
}

bool NameList::Add(std::string_view name) {
    const std::size_t needed = size_ + name.size() + 1;
    if (needed > UINT32_MAX) return false;
    if (needed > capacity_) {
        const std::size_t capacity = std::max<std::size_t>(needed, capacity_ * 2);
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (size_) std::memcpy(grown.get(), block_.get(), size_);
        block_ = std::move(grown);
        capacity_ = capacity;
    }
    if (starts_.empty()) starts_.push_back(0);
    starts_.reserve(starts_.size() + 1);
    if (!name.empty()) std::memcpy(block_.get() + size_, name.data(), name.size());
    block_[size_ + name.size()] = '\0';
    size_ = needed;
    starts_.push_back(static_cast<std::uint32_t>(size_));
    return true;
}

void NameList::Adopt(std::unique_ptr<char[]> block, std::size_t size,
                     std::vector<std::uint32_t> starts) {
    block_ = std::move(block);
    size_ = capacity_ = size;
    starts_ = std::move(starts);
}

namespace {

void NormaliseSeparators(char* name, std::size_t length, char separator) {
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(name[i]);
        if (b == 0x5C || b == 0x2F) {
            name[i] = separator;
            b = static_cast<std::uint8_t>(separator);
        }
        if (IsLeadByte(b)) ++i;  // the trail byte is never a separator
    }
}

}  // namespace

void NormaliseSeparators(std::string& name, char separator) {
    NormaliseSeparators(name.data(), name.size(), separator);
}

std::vector<std::string> SplitAtSeparators(std::string_view name, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(name[i]);
        if (name[i] == separator) {
            parts.emplace_back();
            continue;
        }
        parts.back() += name[i];
        if (IsLeadByte(b) && i + 1 < name.size()) parts.back() += name[++i];
    }
    return parts;
}

bool ParseEntryTable(const std::uint8_t* table, std::int32_t tableSize, std::int32_t count,
                     char separator, EntryTable& parsed) {
    if (tableSize < 0) return false;
    std::unique_ptr<char[]> block(new char[tableSize > 0 ? tableSize : 1]);
    if (tableSize > 0) std::memcpy(block.get(), table, static_cast<std::size_t>(tableSize));
    return ParseEntryTable(std::move(block), tableSize, count, separator, parsed);
}

// The names stay where they are in the table's block, which becomes the
// name list's; only their offsets are added.
bool ParseEntryTable(std::unique_ptr<char[]> block, std::int32_t tableSize, std::int32_t count,
                     char separator, EntryTable& parsed) {
    if (!block || count < 0 || tableSize < 0 || std::int64_t{count} * 8 > tableSize) return false;
    parsed = EntryTable();
    parsed.entryCount = count;
    parsed.sizes.resize(static_cast<std::size_t>(count));
    parsed.times.resize(static_cast<std::size_t>(count));
    std::vector<std::uint32_t> starts;
    starts.reserve(static_cast<std::size_t>(count) + 1);

    const std::uint8_t* const table = reinterpret_cast<const std::uint8_t*>(block.get());
    std::size_t walk = static_cast<std::size_t>(count) * 8;
    const std::size_t end = static_cast<std::size_t>(tableSize);
    for (std::int32_t i = 0; i < count; ++i) {
        const void* zero = walk < end ? std::memchr(table + walk, 0, end - walk) : nullptr;
        if (!zero) return false;
        const std::size_t length = static_cast<const std::uint8_t*>(zero) - (table + walk);
        NormaliseSeparators(block.get() + walk, length, separator);
        starts.push_back(static_cast<std::uint32_t>(walk));
        walk += length + 1;

        std::int32_t& size = parsed.sizes[static_cast<std::size_t>(i)];
        size = static_cast<std::int32_t>(ReadBigEndian32(table + 4 * i));
        parsed.times[static_cast<std::size_t>(i)] = ReadBigEndian32(table + 4 * (count + i));
        if (size < 0) return false;
        if (size > parsed.largestSize) parsed.largestSize = size;
    }
    starts.push_back(static_cast<std::uint32_t>(walk));
    parsed.names.Adopt(std::move(block), end, std::move(starts));
    return true;
}

void FormatEntryTable(const std::vector<std::int32_t>& sizes,
                      const std::vector<std::uint32_t>& times,
                      const std::vector<std::string_view>& names, std::vector<std::uint8_t>& out) {
    for (std::int32_t s : sizes) AppendBigEndian32(out, static_cast<std::uint32_t>(s));
    for (std::uint32_t t : times) AppendBigEndian32(out, t);
    for (std::string_view name : names) {
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(0);
    }
}

std::vector<Batch> FormBatches(const std::vector<std::int32_t>& sizes, std::int32_t largestSize) {
    std::vector<Batch> batches;
    const std::int32_t n = static_cast<std::int32_t>(sizes.size());
    std::int32_t k = 0;
    while (k < n) {
        Batch batch{k, 0, 0};
        std::int64_t total = 0;
        while (k < n && total + sizes[k] <= largestSize) {
            total += sizes[k];
            ++k;
        }
        // A size above largestSize (only from an unparsed table) still gets a
        // batch of its own, so the walk always advances.
        if (k == batch.first) total = sizes[k++];
        batch.count = k - batch.first;
        batch.total = static_cast<std::int32_t>(total);
        batches.push_back(batch);
    }
    return batches;
}

}  // namespace qk
