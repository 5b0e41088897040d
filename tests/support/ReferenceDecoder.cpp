#include "support/ReferenceDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec/LzDecoder.h"
#include "format/ArchiveHeader.h"
#include "format/EntryTable.h"
#include "support/TestSupport.h"

namespace qk::test {

PlainCode BuildPlainCode(const std::vector<std::uint32_t>& lengths) {
    struct Group {
        std::uint32_t depth;
        std::vector<std::uint16_t> symbols;
    };
    PlainCode code{std::vector<std::uint32_t>(lengths.size()),
                   std::vector<std::uint16_t>(lengths.size())};
    std::vector<Group> list;
    for (std::size_t i = 0; i < lengths.size(); ++i)
        list.push_back({lengths[i], {static_cast<std::uint16_t>(i)}});
    std::stable_sort(list.begin(), list.end(),
                     [](const Group& a, const Group& b) { return a.depth < b.depth; });
    while (list.size() > 1) {
        Group second = std::move(list.back());
        list.pop_back();
        Group merged = std::move(list.back());
        list.pop_back();
        for (std::uint16_t s : merged.symbols) ++code.lengths[s], code.codes[s] >>= 1;
        for (std::uint16_t s : second.symbols)
            ++code.lengths[s], code.codes[s] = (code.codes[s] >> 1) | 0x80000000u;
        --merged.depth;
        merged.symbols.insert(merged.symbols.end(), second.symbols.begin(), second.symbols.end());
        std::size_t at = list.size();
        while (at > 0 && list[at - 1].depth >= merged.depth) --at;
        list.insert(list.begin() + static_cast<long>(at), std::move(merged));
    }
    return code;
}

ReferencePrefixDecoder::ReferencePrefixDecoder(InputStream* input, bool largeModel)
    : input_(input) {
    ConsumeBits(0);
    std::vector<std::uint32_t> symbolLengths(largeModel ? 1280 : 768), lengthLengths(128);
    for (std::uint32_t& l : symbolLengths) l = window >> 27, ConsumeBits(5);
    for (std::uint32_t& l : lengthLengths) l = window >> 27, ConsumeBits(5);
    const PlainCode symbols = BuildPlainCode(symbolLengths);
    lengthCode_ = BuildPlainCode(lengthLengths);
    for (std::size_t i = 0; i < symbolLengths.size(); ++i)
        sorted_.push_back({symbols.codes[i], symbols.lengths[i], static_cast<std::uint16_t>(i)});
    std::sort(sorted_.begin(), sorted_.end(), [](const Sorted& a, const Sorted& b) {
        return a.code != b.code ? a.code < b.code : a.symbol < b.symbol;
    });
    // Per 12-bit prefix, the first position other than 0 whose codeword starts
    // with it; 0 for prefix 0; a prefix no codeword starts with takes the one below.
    firstIndex_.assign(4096, 65535);
    for (std::size_t i = sorted_.size() - 1; i >= 1; --i)
        firstIndex_[sorted_[i].code >> 20] = static_cast<std::uint16_t>(i);
    firstIndex_[0] = 0;
    for (int p = 1; p < 4096; ++p)
        if (firstIndex_[p] == 65535) firstIndex_[p] = firstIndex_[p - 1];
}

// Byte i of the stream. Past the end of the data every byte is the first
// byte of the last read that gave any; reads are of 512 bytes.
std::uint8_t ReferencePrefixDecoder::ByteAt(std::uint64_t i) {
    while (i >= bytes_.size() && !ended_) {
        std::uint8_t chunk[512];
        const int n = input_->Read(chunk, 512);
        ended_ = n == 0;
        if (n > 0) filler_ = chunk[0];
        bytes_.insert(bytes_.end(), chunk, chunk + n);
    }
    return i < bytes_.size() ? bytes_[i] : filler_;
}

void ReferencePrefixDecoder::ConsumeBits(unsigned k) {
    position_ += k;
    std::uint64_t bits = 0;
    for (std::uint64_t b = position_ / 8; b < position_ / 8 + 5; ++b) bits = bits << 8 | ByteAt(b);
    window = static_cast<std::uint32_t>(bits >> (8 - position_ % 8));
}

bool ReferencePrefixDecoder::Matches(std::uint32_t code, unsigned length) const {
    return length <= 32 && (length == 0 || (code ^ window) >> (32 - length) == 0);
}

// The 12-bit prefix names a position of the sorted codes; a codeword there
// shorter than 12 bits is taken as it is, else the search goes on from it.
std::uint16_t ReferencePrefixDecoder::DecodeSymbol() {
    std::size_t i = firstIndex_[window >> 20];
    if (sorted_[i].length < 12) {
        ConsumeBits(sorted_[i].length);
        return sorted_[i].symbol;
    }
    for (; i < sorted_.size(); ++i) {
        if (Matches(sorted_[i].code, sorted_[i].length)) {
            ConsumeBits(sorted_[i].length);
            return sorted_[i].symbol;
        }
    }
    failed = true;
    return 0;
}

// A length symbol 0..126, or after the escape 127 a 5-bit size n-1 and n bits.
std::uint32_t ReferencePrefixDecoder::DecodeLength() {
    for (unsigned i = 0; i < 128; ++i) {
        if (!Matches(lengthCode_.codes[i], lengthCode_.lengths[i])) continue;
        ConsumeBits(lengthCode_.lengths[i]);
        if (i < 127) return i;
        const unsigned n = (window >> 27) + 1;
        ConsumeBits(5);
        const std::uint32_t v = window;
        ConsumeBits(n);
        return n == 32 ? v : v >> (32 - n);
    }
    failed = true;
    return 0;
}

ReferenceLzDecoder::ReferenceLzDecoder(InputStream* input, bool inner, bool largeModel)
    : decoder_(input, largeModel), insertInner_(inner), slotCount_(largeModel ? 512 : 256) {}

void ReferenceLzDecoder::Reset(std::uint8_t* output, std::int32_t size) {
    positions_.assign(256 * slotCount_, 0);
    lengths_.assign(256 * slotCount_, 0);
    head_.assign(256, 0);
    filled_.assign(256, 0);
    output_ = output;
    outputSize_ = size;
    outputPos = insertPos_ = 0;
}

void ReferenceLzDecoder::Enter(std::uint8_t context, std::int32_t position, std::uint32_t length) {
    const std::uint32_t slot = slotCount_ * context + head_[context];
    positions_[slot] = static_cast<std::uint32_t>(position);
    lengths_[slot] = length;
    filled_[context] = std::max<std::uint16_t>(filled_[context], ++head_[context]);
    head_[context] = static_cast<std::uint16_t>(head_[context] % slotCount_);
}

// Each step: a literal, or a copy through a ring slot of the context byte
// (the byte before the step; none before the first). A candidate reference
// (symbol below n) reads its length; a repeat reference takes the slot's
// length and, in a full ring, moves the head's entry into the slot used.
// Then the step's first position enters its ring, and with insertInner the
// positions inside it enter rings that have never been full.
int ReferenceLzDecoder::Decode(std::int32_t target) {
    const std::uint32_t n = slotCount_;
    while (outputPos < std::min(target, outputSize_)) {
        const std::uint32_t s = decoder_.DecodeSymbol();
        std::uint64_t length = 1;
        if (s >= 2 * n) {
            output_[outputPos] = static_cast<std::uint8_t>(s - 2 * n);
        } else {
            const std::uint32_t base = n * (outputPos > 0 ? output_[insertPos_] : 0);
            const std::uint32_t head = base + head_[base / n];
            const std::uint32_t slot = base + (head - base + s) % n;
            const std::uint32_t source = positions_[slot];
            if (s < n) {
                length = decoder_.DecodeLength() + std::uint64_t{2};
            } else {
                length = lengths_[slot];
                if (positions_[head] != 0) {
                    positions_[slot] = positions_[head];
                    lengths_[slot] = lengths_[head];
                }
            }
            if (static_cast<std::uint64_t>(outputPos) + length >
                static_cast<std::uint64_t>(outputSize_))
                return 1;
            if (source == 0 || source >= static_cast<std::uint32_t>(outputSize_)) return 2;
            for (std::uint64_t k = 0; k < length; ++k) output_[outputPos + k] = output_[source + k];
        }
        outputPos += static_cast<std::int32_t>(length);
        if (outputPos - 1 <= insertPos_) continue;
        Enter(output_[insertPos_], insertPos_ + 1, static_cast<std::uint32_t>(length));
        for (auto left = static_cast<std::uint32_t>(length - 1); outputPos - 1 > ++insertPos_;
             --left) {
            const std::uint8_t c = output_[insertPos_];
            if (insertInner_ && filled_[c] <= head_[c]) Enter(c, insertPos_ + 1, left);
        }
    }
    return decoder_.failed ? 2 : 0;
}

Decoded DecodeBothForms(const std::vector<std::uint8_t>& file, const Feed& feed) {
    Decoded decoded;
    ArchiveHeader header;
    if (file.size() < feed.offset + kHeaderSize || !ParseHeader(&file[feed.offset], header)) {
        ADD_FAILURE() << "no archive header at " << feed.offset;
        return {-1, {}, {}, {}};
    }
    Bytes data(file.begin() + static_cast<long>(feed.offset + kHeaderSize), file.end());
    if (header.passwordSet()) {
        const PasswordKey key = DeriveKey(feed.password);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] ^= key.key[i % 4];
    }
    MemoryStream fastInput(data, feed.chunk), plainInput(data);
    LzDecoder fast(&fastInput, header.insertInner(), header.largeModel());
    ReferenceLzDecoder plain(&plainInput, header.insertInner(), header.largeModel());
    std::mt19937 rng(feed.seed);
    const auto decodeBlock = [&](std::int32_t size) {
        Bytes a(static_cast<std::size_t>(size) + 1, 0xEE), b(a);
        fast.Reset(a.data(), size);
        plain.Reset(b.data(), size);
        std::int64_t target = 0;
        int result = 0;
        do {
            target += feed.maxStep ? 1 + rng() % feed.maxStep : std::max(size, 1);
            const auto t = static_cast<std::int32_t>(std::min<std::int64_t>(target, size));
            result = fast.Decode(t);
            const int expected = plain.Decode(t);
            if (result != expected || fast.outputPos() != plain.outputPos) {
                ADD_FAILURE() << "block " << decoded.blocks.size() << ", target " << t
                              << ": result " << result << " at " << fast.outputPos()
                              << ", the plain form's " << expected << " at " << plain.outputPos;
                result = -1;
            }
        } while (result == 0 && target < size);
        const auto end = a.begin() + std::min(fast.outputPos(), plain.outputPos);
        EXPECT_TRUE(std::equal(a.begin(), end, b.begin())) << "block " << decoded.blocks.size();
        EXPECT_EQ(a.back(), 0xEE) << "written past block " << decoded.blocks.size();
        a.pop_back();
        decoded.blocks.push_back(std::move(a));
        return result;
    };
    decoded.result = decodeBlock(header.tableSize);
    if (decoded.result == 0 && ParseEntryTable(decoded.blocks[0].data(), header.tableSize,
                                               header.entryCount, '/', decoded.entries)) {
        decoded.batches = FormBatches(decoded.entries.sizes, decoded.entries.largestSize);
        for (const Batch& batch : decoded.batches)
            if ((decoded.result = decodeBlock(batch.total)) != 0) break;
    }
    if (decoded.result == 0) {  // the margin to the allowance of 64 filler bytes
        EXPECT_FALSE(fast.consumedPastEnd());
        EXPECT_LE(fastInput.endReads, 8);
    }
    return decoded;
}

}  // namespace qk::test
