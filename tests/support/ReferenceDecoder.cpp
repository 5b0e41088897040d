#include "support/ReferenceDecoder.h"

#include <algorithm>

#include "format/ArchiveHeader.h"
#include "format/EntryTable.h"
#include "support/TestSupport.h"

namespace qk::test {

PlainCode BuildPlainCode(const std::vector<std::uint32_t>& lengths) {
    struct Group {
        std::uint32_t depth;
        std::vector<std::uint16_t> symbols;
    };
    PlainCode code;
    code.count = static_cast<int>(lengths.size());
    code.codes.assign(lengths.size(), 0);
    code.lengths.assign(lengths.size(), 0);
    std::vector<Group> list;
    for (std::size_t i = 0; i < lengths.size(); ++i)
        list.push_back({lengths[i], {static_cast<std::uint16_t>(i)}});
    std::stable_sort(list.begin(), list.end(),
                     [](const Group& a, const Group& b) { return a.depth < b.depth; });
    while (list.size() > 1) {
        Group second = std::move(list.back());
        list.pop_back();
        Group first = std::move(list.back());
        list.pop_back();
        for (std::uint16_t s : first.symbols) {
            ++code.lengths[s];
            code.codes[s] >>= 1;
        }
        for (std::uint16_t s : second.symbols) {
            ++code.lengths[s];
            code.codes[s] = (code.codes[s] >> 1) | 0x80000000u;
        }
        Group merged{first.depth - 1, std::move(first.symbols)};
        merged.symbols.insert(merged.symbols.end(), second.symbols.begin(), second.symbols.end());
        std::size_t at = list.size();
        while (at > 0 && list[at - 1].depth >= merged.depth) --at;
        list.insert(list.begin() + static_cast<long>(at), std::move(merged));
    }
    return code;
}

ReferencePrefixDecoder::ReferencePrefixDecoder(InputStream* in, bool largeModel)
    : input(in) {
    inCount = static_cast<std::uint16_t>(input->Read(inBuf, 512));
    inPos = 0;
    sortedCodes.resize(largeModel ? 1280 : 768);
    failed = 0;
    LoadCodeTables();
}

std::uint8_t ReferencePrefixDecoder::NextByte() {
    if (inCount <= inPos) {
        inCount = static_cast<std::uint16_t>(input->Read(inBuf, 512));
        inPos = 0;
    }
    return inBuf[inPos++];
}

void ReferencePrefixDecoder::Step(unsigned s) {
    if (s == 8) {
        bitBuffer = ((bitBuffer << bitsLeft) | NextByte()) << (8 - bitsLeft);
    } else {
        const std::uint32_t mask = (1u << (8 + s)) - 1;
        if (bitsLeft >= s) {
            bitBuffer = (bitBuffer << s) & mask;
            bitsLeft = static_cast<std::uint8_t>(bitsLeft - s);
            window = (window << s) | (bitBuffer >> 8);
            return;
        }
        bitBuffer = (((bitBuffer << bitsLeft) | NextByte()) << (s - bitsLeft)) & mask;
    }
    bitsLeft = static_cast<std::uint8_t>(bitsLeft + 8 - s);
    window = (window << s) | ((bitBuffer >> 8) & ((1u << s) - 1));
}

void ReferencePrefixDecoder::ConsumeBits(unsigned k) {
    int left = static_cast<int>(k);
    while (left > 0) {
        Step(static_cast<unsigned>(std::min(left, 8)));
        left -= 8;
    }
}

void ReferencePrefixDecoder::LoadCodeTables() {
    ConsumeBits(32);
    std::vector<std::uint32_t> symbolLengths(sortedCodes.size()), lengthLengths(128);
    for (std::uint32_t& l : symbolLengths) {
        l = window >> 27;
        ConsumeBits(5);
    }
    for (std::uint32_t& l : lengthLengths) {
        l = window >> 27;
        ConsumeBits(5);
    }
    symbolModel = BuildPlainCode(symbolLengths);
    lengthModel = BuildPlainCode(lengthLengths);
    for (int i = 0; i < symbolModel.count; ++i) {
        sortedCodes[i] = {symbolModel.codes[i], symbolModel.lengths[i],
                          static_cast<std::uint16_t>(i)};
    }
    std::sort(sortedCodes.begin(), sortedCodes.end(), [](const SortedCode& a, const SortedCode& b) {
        if (a.code != b.code) return a.code < b.code;
        const std::uint32_t wa = a.length | (std::uint32_t{a.symbol} << 16);
        const std::uint32_t wb = b.length | (std::uint32_t{b.symbol} << 16);
        return wa < wb;
    });
    std::fill(firstIndex, firstIndex + 4096, 65535);
    for (int i = symbolModel.count - 1; i >= 1; --i)
        firstIndex[sortedCodes[i].code >> 20] = static_cast<std::uint16_t>(i);
    firstIndex[0] = 0;
    for (int p = 1; p < 4096; ++p)
        if (firstIndex[p] == 65535) firstIndex[p] = firstIndex[p - 1];
}

bool ReferencePrefixDecoder::Matches(std::uint32_t code, unsigned length) const {
    if (length > 32) return false;  // a cut codeword never matches
    const unsigned shift = 32 - length;
    return (shift == 32 ? 0 : code >> shift) == (shift == 32 ? 0 : window >> shift);
}

std::uint16_t ReferencePrefixDecoder::DecodeSymbol() {
    const std::uint32_t w = window;
    int i = firstIndex[w >> 20];
    if (sortedCodes[i].length < 12) {
        ConsumeBits(sortedCodes[i].length);
        return sortedCodes[i].symbol;
    }
    while (i < symbolModel.count) {
        if (Matches(sortedCodes[i].code, sortedCodes[i].length)) {
            ConsumeBits(sortedCodes[i].length);
            return sortedCodes[i].symbol;
        }
        ++i;
    }
    failed = 1;
    return 0;
}

std::uint32_t ReferencePrefixDecoder::DecodeLength() {
    for (unsigned i = 0; i <= 126; ++i) {
        if (Matches(lengthModel.codes[i], lengthModel.lengths[i])) {
            ConsumeBits(lengthModel.lengths[i]);
            return i;
        }
    }
    if (!Matches(lengthModel.codes[127], lengthModel.lengths[127])) {
        failed = 1;
        return 0;
    }
    ConsumeBits(lengthModel.lengths[127]);
    const unsigned n = (window >> 27) + 1;
    ConsumeBits(5);
    const std::uint32_t v = window;
    ConsumeBits(n);
    return n == 32 ? v : v >> (32 - n);
}

ReferenceLzDecoder::ReferenceLzDecoder(InputStream* input, bool inner, bool largeModel)
    : decoder(input, largeModel), insertInner(inner), slotCount(largeModel ? 512 : 256) {
    head.assign(256, 0);
    filled.assign(256, 0);
    slotPositions.assign(256 * slotCount, 0);
    slotLengths.assign(256 * slotCount, 0);
}

void ReferenceLzDecoder::Reset(std::uint8_t* out, std::int32_t size) {
    std::fill(head.begin(), head.end(), 0);
    std::fill(filled.begin(), filled.end(), 0);
    output = out;
    outputSize = size;
    outputPos = 0;
    insertPos = 0;
    std::fill(slotPositions.begin(), slotPositions.end(), 0);
    std::fill(slotLengths.begin(), slotLengths.end(), 0);
}

int ReferenceLzDecoder::Decode(std::int32_t target) {
    const std::uint32_t n = slotCount;
    if (target > outputSize) target = outputSize;
    while (outputPos < target) {
        const std::uint32_t s = decoder.DecodeSymbol();
        std::uint64_t length;
        if (s >= 2 * n) {
            output[outputPos] = static_cast<std::uint8_t>((s - 2 * n) % 256);
            length = 1;
        } else {
            // Before the first byte the context byte does not exist; all rings
            // are empty then, so any context gives the same result.
            const std::uint8_t c = outputPos > 0 ? output[insertPos] : 0;
            std::uint32_t source;
            if (s < n) {
                length = std::uint64_t{decoder.DecodeLength()} + 2;
                source = slotPositions[n * c + (head[c] + s) % n];
            } else {
                const std::uint32_t h = head[c];
                const std::uint32_t j = (h + s - n) % n;
                source = slotPositions[n * c + j];
                length = slotLengths[n * c + j];
                if (slotPositions[n * c + h] != 0) {
                    slotPositions[n * c + j] = slotPositions[n * c + h];
                    slotLengths[n * c + j] = slotLengths[n * c + h];
                }
            }
            if (static_cast<std::uint64_t>(outputPos) + length >
                static_cast<std::uint64_t>(outputSize))
                return 1;
            if (source == 0 || source >= static_cast<std::uint32_t>(outputSize)) return 2;
            for (std::uint64_t k = 0; k < length; ++k) output[outputPos + k] = output[source + k];
        }
        outputPos += static_cast<std::int32_t>(length);
        if (outputPos - 1 > insertPos) {
            std::uint8_t c = output[insertPos];
            slotPositions[n * c + head[c]] = static_cast<std::uint32_t>(insertPos + 1);
            slotLengths[n * c + head[c]] = static_cast<std::uint32_t>(length);
            head[c] = static_cast<std::uint16_t>(head[c] + 1);
            if (filled[c] < head[c]) filled[c] = head[c];
            head[c] = static_cast<std::uint16_t>(head[c] % n);
            ++insertPos;
            std::uint32_t r = static_cast<std::uint32_t>(length) - 1;
            if (!insertInner) {
                insertPos = outputPos - 1;
            } else {
                while (outputPos - 1 > insertPos) {
                    c = output[insertPos];
                    if (filled[c] <= head[c]) {
                        slotPositions[n * c + head[c]] = static_cast<std::uint32_t>(insertPos + 1);
                        slotLengths[n * c + head[c]] = r;
                        head[c] = static_cast<std::uint16_t>(head[c] + 1);
                        filled[c] = head[c];
                        head[c] = static_cast<std::uint16_t>(head[c] % n);
                    }
                    --r;
                    ++insertPos;
                }
            }
        }
    }
    return decoder.failed ? 2 : 0;
}

PlainArchive DecodeWithPlainForm(const std::vector<std::uint8_t>& archive,
                                 std::string_view password) {
    PlainArchive plain;
    ArchiveHeader header;
    if (archive.size() < kHeaderSize || !ParseHeader(archive.data(), header)) {
        plain.result = -1;
        return plain;
    }
    std::vector<std::uint8_t> data(archive.begin() + kHeaderSize, archive.end());
    if (header.passwordSet()) {
        const PasswordKey key = DeriveKey(password);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] ^= key.key[i % 4];
    }
    MemoryStream stream(std::move(data));
    ReferenceLzDecoder decoder(&stream, header.insertInner(), header.largeModel());
    plain.table.resize(static_cast<std::size_t>(header.tableSize));
    decoder.Reset(plain.table.data(), header.tableSize);
    plain.result = decoder.Decode(header.tableSize);
    if (plain.result != 0 || !ParseEntryTable(plain.table.data(), header.tableSize,
                                              header.entryCount, '/', plain.entries))
        return plain;
    for (const Batch& batch : FormBatches(plain.entries.sizes, plain.entries.largestSize)) {
        std::vector<std::uint8_t> block(static_cast<std::size_t>(batch.total));
        decoder.Reset(block.data(), batch.total);
        plain.result = decoder.Decode(batch.total);
        plain.batches.push_back(std::move(block));
        if (plain.result != 0) break;
    }
    return plain;
}

}  // namespace qk::test
