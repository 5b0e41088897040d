#include "archive/EntryTable.h"

#include <cstring>

namespace qk {

namespace {

std::uint32_t ReadBigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

}  // namespace

void NormaliseSeparators(std::string& name, char separator) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(name[i]);
        if (b == 0x5C || b == 0x2F) {
            name[i] = separator;
            b = static_cast<std::uint8_t>(separator);
        }
        if (IsLeadByte(b)) ++i;  // the trail byte is never a separator
    }
}

bool EntryTable::Parse(const std::uint8_t* table, std::int32_t tableSize, std::int32_t count,
                       char separator) {
    if (count < 0 || tableSize < 0 || std::int64_t{count} * 8 > tableSize) return false;
    entryCount = count;
    sizes.resize(static_cast<std::size_t>(count));
    times.resize(static_cast<std::size_t>(count));
    largestSize = 0;

    std::size_t walk = static_cast<std::size_t>(count) * 8;
    const std::size_t end = static_cast<std::size_t>(tableSize);
    for (std::int32_t i = 0; i < count; ++i) {
        const void* zero = walk < end ? std::memchr(table + walk, 0, end - walk) : nullptr;
        if (!zero) return false;
        const std::size_t length = static_cast<const std::uint8_t*>(zero) - (table + walk);
        std::string name(reinterpret_cast<const char*>(table + walk), length);
        NormaliseSeparators(name, separator);
        names.Add(std::move(name));
        walk += length + 1;

        sizes[i] = static_cast<std::int32_t>(ReadBigEndian(table + 4 * i));
        times[i] = ReadBigEndian(table + 4 * (count + i));
        if (sizes[i] < 0) return false;
        if (sizes[i] > largestSize) largestSize = sizes[i];
    }
    return true;
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
