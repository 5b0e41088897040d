// The production LzDecoder (with its fast PrefixDecoder) against the plain,
// step-by-step form kept in the test tree, over the same stream: blocks of
// random sizes, each decoded in one to four Decode calls. After every call both
// must give the same result, the same output position, the same bytes and the
// same rings. The only difference allowed is the production decoder's refusal
// to run on far past the end of the data, and only after it has fetched more
// than a valid stream's look-ahead of filler bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "codec/LzDecoder.h"
#include "support/ReferenceDecoder.h"

namespace {

void CheckSameRings(const qk::ContextRings& fast, const qk::test::ReferenceLzDecoder& reference) {
    const qk::test::ReferenceLzDecoder::Rings plain = reference.rings();
    const std::uint32_t n = fast.slotCount;
    QK_FUZZ_CHECK(n == plain.slotCount);
    for (std::uint32_t c = 0; c < 256; ++c) {
        QK_FUZZ_CHECK(fast.head[c] == plain.head[c]);
        QK_FUZZ_CHECK(fast.filled[c] == plain.filled[c]);
        for (std::uint32_t k = 0; k < fast.filled[c]; ++k) {
            QK_FUZZ_CHECK(fast.entries[c * n + k].position == plain.positions[c * n + k]);
            QK_FUZZ_CHECK(fast.entries[c * n + k].length == plain.lengths[c * n + k]);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using qk::fuzz::kLzConfigSize;
    if (size < kLzConfigSize) return 0;
    const bool large = data[0] & 1;
    const bool inner = data[0] & 2;
    const int blocks = 1 + ((data[0] >> 2) & 7);
    const int chunkLimit = qk::fuzz::ChunkLimit(data[0] >> 5);
    const std::uint8_t* stream = data + kLzConfigSize;
    const std::size_t streamSize = size - kLzConfigSize;

    qk::fuzz::ByteStream fastInput(stream, streamSize, chunkLimit);
    qk::fuzz::ByteStream plainInput(stream, streamSize, chunkLimit);
    qk::LzDecoder fast(&fastInput, inner, large);
    QK_FUZZ_CHECK(fast.valid());
    qk::test::ReferenceLzDecoder plain(&plainInput, inner, large);

    for (int b = 0; b < blocks; ++b) {
        const std::uint8_t* config = data + 1 + 4 * b;
        const std::int32_t blockSize =
            static_cast<std::int32_t>((std::uint32_t{config[0]} << 16) |
                                      (std::uint32_t{config[1]} << 8) | config[2]) %
            (qk::fuzz::kMaxBlock + 1);
        const std::uint8_t pattern = config[3];
        // The buffers start different, so that a byte one decoder leaves
        // unwritten shows up as a difference.
        std::vector<std::uint8_t> fastOut(static_cast<std::size_t>(blockSize) + 1, 0xA5);
        std::vector<std::uint8_t> plainOut(static_cast<std::size_t>(blockSize) + 1, 0x5A);
        fast.Reset(fastOut.data(), blockSize);
        plain.Reset(plainOut.data(), blockSize);

        const int calls = 1 + (pattern & 3);
        for (int i = 1; i <= calls; ++i) {
            std::int32_t target = static_cast<std::int32_t>(std::int64_t{blockSize} * i / calls);
            if (i == calls && (pattern & 4)) target = blockSize + 1000;
            const bool farPastEnd = plainInput.fillerReads > qk::fuzz::kGiveUpBytes;
            const std::int32_t before = fast.outputPos();

            const int fastResult = fast.Decode(target);
            const int plainResult = plain.Decode(target);
            QK_FUZZ_CHECK(fastResult >= 0 && fastResult <= 2);
            QK_FUZZ_CHECK(fast.outputPos() <= blockSize);
            if (farPastEnd && target > before && before < blockSize) {
                QK_FUZZ_CHECK(fastResult == 2 && fast.outputPos() == before);
            }

            const std::int32_t pos = fast.outputPos();
            const bool same =
                fastResult == plainResult && pos == plain.outputPos &&
                std::memcmp(fastOut.data(), plainOut.data(), static_cast<std::size_t>(pos)) == 0;
            if (!same) {
                QK_FUZZ_CHECK(fastInput.fillerReads > qk::fuzz::kLookAheadBytes);
                QK_FUZZ_CHECK(fastResult == 2);
                return 0;
            }
            if (fastResult == 0) QK_FUZZ_CHECK(pos >= target || pos == blockSize);
            if (fastResult != 0) break;
        }
        CheckSameRings(fast.rings(), plain);
    }
    return 0;
}
