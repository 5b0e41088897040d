// Shared by the fuzz targets and the seed writer: the layout of each target's
// input, an in-memory stream that counts the filler reads past its end, and the
// check that turns a broken invariant into a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/InputStream.h"

namespace qk::fuzz {

// A broken invariant is a finding like a crash: report it and abort, so that
// libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

#define QK_FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::qk::fuzz::Fail(#condition, __FILE__, __LINE__))

// The bytes of a test input, delivered at most `chunkLimit` at a time. Every
// Read past the end returns 0 and is counted: the decoders call Read once per
// filler byte they invent, so `fillerReads` tells how far past the end of the
// data a decoder has fetched.
class ByteStream : public InputStream {
  public:
    ByteStream(const std::uint8_t* data, std::size_t size, int chunkLimit)
        : data_(data), size_(size), chunkLimit_(chunkLimit > 0 ? chunkLimit : 1 << 30) {}

    int Read(std::uint8_t* buffer, int count) override {
        std::size_t n = size_ - pos_;
        if (n > static_cast<std::size_t>(count)) n = static_cast<std::size_t>(count);
        if (n > static_cast<std::size_t>(chunkLimit_)) n = static_cast<std::size_t>(chunkLimit_);
        if (n == 0) {
            ++fillerReads;
            return 0;
        }
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<int>(n);
    }

    long fillerReads = 0;

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    int chunkLimit_;
};

// The production decoder fetches at most 8 bytes beyond the last bit it has
// consumed; a stream that never consumes past its end therefore never causes
// more filler reads than this. Only beyond it may the production decoder stop
// where the plain form runs on.
constexpr long kLookAheadBytes = 8;
// The plain form fetches lazily: its filler reads are the bytes it has consumed
// past the end, plus at most 4 for its window. Once the two decoders, still in
// step, have consumed this far past the end, the production decoder must have
// given up on the stream.
constexpr long kGiveUpBytes = 256;

// Short reads: a selector of 0 to 7 picks how many bytes a Read may deliver.
inline int ChunkLimit(unsigned selector) {
    static const int kLimits[8] = {0, 0, 0, 0, 1, 3, 100, 511};
    return kLimits[selector & 7];
}

// qk_fuzz_archive: [password length (low 4 bits) | batch step selector (high 4
// bits)] [password] [archive file].
inline std::vector<std::uint8_t> ArchiveInput(const std::vector<std::uint8_t>& password,
                                              unsigned stepSelector,
                                              const std::vector<std::uint8_t>& archive) {
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>((password.size() & 15) | (stepSelector << 4)));
    out.insert(out.end(), password.begin(), password.begin() + (password.size() & 15));
    out.insert(out.end(), archive.begin(), archive.end());
    return out;
}

// qk_fuzz_prefix_codes: [flags: large model (bit 0), chunk selector (bits 1-3)]
// [operation count n] [n operations] [compressed stream from the code block on].
inline std::vector<std::uint8_t> PrefixCodesInput(bool largeModel,
                                                  const std::vector<std::uint8_t>& operations,
                                                  const std::vector<std::uint8_t>& stream) {
    std::vector<std::uint8_t> out;
    out.push_back(largeModel ? 1 : 0);
    const std::size_t n = operations.size() > 255 ? 255 : operations.size();
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), operations.begin(), operations.begin() + static_cast<long>(n));
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

// qk_fuzz_lz_differential: a fixed configuration, then the compressed stream
// from the code block on. Byte 0: large model (bit 0), insert inner (bit 1),
// blocks - 1 (bits 2-4), chunk selector (bits 5-7). Then per block (8 of them,
// only the first `blocks` used) 4 bytes: the block size, 3 bytes big-endian
// (taken modulo kMaxBlock + 1), and a target pattern: 1 to 4 Decode calls at
// even steps (bits 0-1), the last one past the block's end (bit 2).
constexpr int kLzBlocks = 8;
constexpr std::size_t kLzConfigSize = 1 + 4 * kLzBlocks;
constexpr std::int32_t kMaxBlock = 1 << 17;

struct LzBlock {
    std::int32_t size;
    std::uint8_t pattern;
};

inline std::vector<std::uint8_t> LzInput(bool largeModel, bool insertInner,
                                         const std::vector<LzBlock>& blocks,
                                         const std::vector<std::uint8_t>& stream) {
    std::vector<std::uint8_t> out(kLzConfigSize, 0);
    const std::size_t n =
        blocks.empty() ? 1 : (blocks.size() > kLzBlocks ? kLzBlocks : blocks.size());
    out[0] =
        static_cast<std::uint8_t>((largeModel ? 1 : 0) | (insertInner ? 2 : 0) | ((n - 1) << 2));
    for (std::size_t i = 0; i < n && i < blocks.size(); ++i) {
        const std::uint32_t size = static_cast<std::uint32_t>(blocks[i].size);
        out[1 + 4 * i] = static_cast<std::uint8_t>(size >> 16);
        out[2 + 4 * i] = static_cast<std::uint8_t>(size >> 8);
        out[3 + 4 * i] = static_cast<std::uint8_t>(size);
        out[4 + 4 * i] = blocks[i].pattern;
    }
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

}  // namespace qk::fuzz
