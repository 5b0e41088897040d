#include "encoder/ArchiveWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "archive/ArchiveStream.h"
#include "archive/EntryTable.h"
#include "codec/CodeModel.h"
#include "codec/LzDecoder.h"
#include "encoder/BitPacker.h"
#include "encoder/CodeLengths.h"
#include "encoder/LzParser.h"

namespace qk {

namespace {

constexpr int kMaxCodeLength = 31;
constexpr int kLengthSymbols = 128;
constexpr std::uint32_t kEscape = 127;
constexpr std::int64_t kFormatLimit = std::numeric_limits<std::int32_t>::max();

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

// The decoder's view of the compressed bytes during verification.
class BufferStream : public InputStream {
  public:
    BufferStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int Read(std::uint8_t* buffer, int count) override {
        const std::size_t n = std::min(size_ - pos_, static_cast<std::size_t>(count));
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<int>(n);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// One LZ block's bytes: the table, or the entries of one batch back to back.
struct Block {
    const std::uint8_t* data;
    std::int32_t size;
};

// Decodes `compressed` block by block and compares with the input blocks.
bool DecodesBack(const std::uint8_t* compressed, std::size_t size, const WriteOptions& options,
                 const std::vector<Block>& blocks) {
    BufferStream stream(compressed, size);
    std::unique_ptr<LzDecoder> decoder(
        new (std::nothrow) LzDecoder(&stream, options.insertInner, options.largeModel));
    if (!decoder || !decoder->valid()) return false;
    std::int32_t largest = 0;
    for (const Block& b : blocks) largest = std::max(largest, b.size);
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow)
                                               std::uint8_t[largest > 0 ? largest : 1]);
    if (!buffer) return false;
    for (const Block& b : blocks) {
        decoder->Reset(buffer.get(), b.size);
        if (decoder->Decode(b.size) != LzDecoder::kDone) return false;
        if (b.size > 0 && std::memcmp(buffer.get(), b.data, static_cast<std::size_t>(b.size)) != 0)
            return false;
    }
    return true;
}

}  // namespace

bool WriteArchive(const std::vector<ArchiveEntry>& entries, const WriteOptions& options,
                  std::vector<std::uint8_t>& out, std::string* error) {
    if (entries.size() > static_cast<std::size_t>(kFormatLimit / 8))
        return Fail(error, "too many entries");
    if (options.usePassword && options.password.empty())
        return Fail(error, "the password is empty");

    // The entry table: sizes, times, then the names with their zero bytes.
    std::vector<std::uint8_t> table;
    std::vector<std::int32_t> sizes;
    std::int64_t total = 0;
    for (const ArchiveEntry& e : entries) {
        if (e.data.size() > static_cast<std::size_t>(kFormatLimit)) {
            return Fail(error, "entry too large for the format: " + e.name);
        }
        if (e.name.find('\0') != std::string::npos) return Fail(error, "a name holds a zero byte");
        sizes.push_back(static_cast<std::int32_t>(e.data.size()));
        total += static_cast<std::int64_t>(e.data.size());
    }
    for (std::int32_t s : sizes) PutBigEndian(table, static_cast<std::uint32_t>(s));
    for (const ArchiveEntry& e : entries) PutBigEndian(table, e.time);
    for (const ArchiveEntry& e : entries) {
        table.insert(table.end(), e.name.begin(), e.name.end());
        table.push_back(0);
    }
    total += static_cast<std::int64_t>(table.size());
    if (total > kFormatLimit)
        return Fail(error, "archive content too large for the format (2 GiB)");

    // LZ blocks: the table, then every batch by the decoder's batch rule.
    const std::int32_t largest = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    const std::vector<Batch> batches = FormBatches(sizes, largest);
    std::vector<std::vector<std::uint8_t>> batchData;
    std::vector<Block> blocks{{table.data(), static_cast<std::int32_t>(table.size())}};
    for (const Batch& b : batches) {
        const ArchiveEntry* first = &entries[static_cast<std::size_t>(b.first)];
        if (b.count == 1) {
            blocks.push_back({first->data.data(), b.total});
            continue;
        }
        std::vector<std::uint8_t> joined;
        joined.reserve(static_cast<std::size_t>(b.total));
        for (std::int32_t i = 0; i < b.count; ++i)
            joined.insert(joined.end(), first[i].data.begin(), first[i].data.end());
        batchData.push_back(std::move(joined));
        blocks.push_back({batchData.back().data(), b.total});
    }

    LzParser parser(options.largeModel, options.insertInner, options.searchDepth);
    if (!parser.valid()) return Fail(error, "not enough memory");
    std::vector<Token> tokens;
    std::vector<std::size_t> blockEnds;
    for (const Block& b : blocks) {
        parser.ParseBlock(b.data, b.size, tokens);
        blockEnds.push_back(tokens.size());
    }

    // Code lengths from the counts; the codewords are the decoder's own.
    const int symbolCount = options.largeModel ? 1280 : 768;
    const unsigned slotCount = options.largeModel ? 512 : 256;
    std::vector<std::uint64_t> symbolCounts(static_cast<std::size_t>(symbolCount), 0);
    std::vector<std::uint64_t> lengthCounts(kLengthSymbols, 0);
    for (const Token& t : tokens) {
        ++symbolCounts[t.symbol];
        if (t.symbol < slotCount) ++lengthCounts[std::min<std::uint32_t>(t.lengthValue, kEscape)];
    }
    const std::vector<std::uint8_t> symbolLengths = ChooseCodeLengths(symbolCounts, kMaxCodeLength);
    const std::vector<std::uint8_t> lengthLengths = ChooseCodeLengths(lengthCounts, kMaxCodeLength);
    std::vector<std::uint32_t> symbolCodes(symbolLengths.size()), lengthCodes(lengthLengths.size());
    std::vector<std::uint16_t> symbolBits(symbolLengths.size()), lengthBits(lengthLengths.size());
    if (!BuildCodeFromLengths(symbolLengths.data(), symbolCount, symbolCodes.data(),
                              symbolBits.data()) ||
        !BuildCodeFromLengths(lengthLengths.data(), kLengthSymbols, lengthCodes.data(),
                              lengthBits.data())) {
        return Fail(error, "not enough memory");
    }
    for (int i = 0; i < symbolCount; ++i) {
        if (symbolBits[i] != symbolLengths[i])
            return Fail(error, "internal error: code lengths not complete");
    }

    // Header, code-length block, then every token.
    ArchiveHeader header;
    header.flags =
        static_cast<std::uint8_t>((options.largeModel ? 1 : 0) | (options.insertInner ? 2 : 0) |
                                  (options.usePassword ? 4 : 0));
    PasswordKey key{{0, 0, 0, 0}, 0};
    if (options.usePassword) key = DeriveKey(options.password);
    header.passwordCheck = key.check;
    header.totalSize = static_cast<std::int32_t>(total);
    header.tableSize = static_cast<std::int32_t>(table.size());
    header.entryCount = static_cast<std::int32_t>(entries.size());

    out.assign(kHeaderSize, 0);
    FormatHeader(header, out.data());
    BitPacker bits(out);
    for (std::uint8_t l : symbolLengths) bits.Put(l, 5);
    for (std::uint8_t l : lengthLengths) bits.Put(l, 5);
    for (const Token& t : tokens) {
        bits.PutCode(symbolCodes[t.symbol], symbolBits[t.symbol]);
        if (t.symbol >= slotCount) continue;
        if (t.lengthValue < kEscape) {
            bits.PutCode(lengthCodes[t.lengthValue], lengthBits[t.lengthValue]);
        } else {
            const unsigned n =
                std::max<unsigned>(1u, static_cast<unsigned>(std::bit_width(t.lengthValue)));
            bits.PutCode(lengthCodes[kEscape], lengthBits[kEscape]);
            bits.Put(n - 1, 5);
            bits.Put(t.lengthValue, n);
        }
    }
    bits.Flush();

    if (options.verify &&
        !DecodesBack(out.data() + kHeaderSize, out.size() - kHeaderSize, options, blocks)) {
        out.clear();
        return Fail(error, "internal error: the archive does not decode back to its input");
    }
    if (options.usePassword) {
        for (std::size_t i = kHeaderSize; i < out.size(); ++i)
            out[i] ^= key.key[(i - kHeaderSize) & 3];
    }
    return true;
}

std::vector<std::uint8_t> MakeSelfExtracting(const std::vector<std::uint8_t>& programImage,
                                             const std::vector<std::uint8_t>& archive) {
    std::vector<std::uint8_t> out(programImage);
    out.insert(out.end(), archive.begin(), archive.end());
    PutBigEndian(out, static_cast<std::uint32_t>(archive.size()));
    return out;
}

}  // namespace qk
