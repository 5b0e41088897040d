#include "format/EntryTable.h"

#include <cstring>

#include "format/ByteOrder.h"

namespace qk {

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

bool ParseEntryTable(const std::uint8_t* table, std::int32_t tableSize, std::int32_t count,
                     char separator, EntryTable& parsed) {
    if (count < 0 || tableSize < 0 || std::int64_t{count} * 8 > tableSize) return false;
    parsed = EntryTable();
    std::int32_t& entryCount = parsed.entryCount;
    std::vector<std::int32_t>& sizes = parsed.sizes;
    std::vector<std::uint32_t>& times = parsed.times;
    NameList& names = parsed.names;
    std::int32_t& largestSize = parsed.largestSize;
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

        sizes[i] = static_cast<std::int32_t>(ReadBigEndian32(table + 4 * i));
        times[i] = ReadBigEndian32(table + 4 * (count + i));
        if (sizes[i] < 0) return false;
        if (sizes[i] > largestSize) largestSize = sizes[i];
    }
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
