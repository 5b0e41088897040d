// The archive as the decoder's byte source: a file, a block of memory or a
// caller's callbacks, with the password scrambling undone on every read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "codec/InputStream.h"
#include "qk1/ArchiveReader.h"

namespace qk {

class ArchiveStream final : public InputStream {
  public:
    enum class HeaderResult { kOk, kReadFailure, kNotArchive };

    // Reads from `source`; its close callback runs when the stream is
    // destroyed. A source without a read callback is not open.
    explicit ArchiveStream(const InputCallbacks& source);
    ~ArchiveStream();
    ArchiveStream(const ArchiveStream&) = delete;
    ArchiveStream& operator=(const ArchiveStream&) = delete;

    // Sources over a stdio file (closed with the stream; null: not open) and
    // over memory that the caller keeps. Null context when out of memory.
    static InputCallbacks FileSource(std::FILE* file);
    static InputCallbacks MemorySource(const std::uint8_t* data, std::size_t size);

    bool isOpen() const { return source_.read != nullptr; }

    // Finds the header at offset 0 or through a self-extracting trailer (the
    // last 4 bytes give the archive's length) and leaves the source positioned
    // at the compressed data.
    HeaderResult ReadHeader(ArchiveHeader& header);

    void SetKey(const std::uint8_t key[4]);

    int Read(std::uint8_t* buffer, int count) override;

    // Bytes of the whole source, or -1 when it cannot tell.
    std::int64_t size() const;
    // Bytes handed out by Read so far.
    std::int64_t delivered() const { return delivered_; }

  private:
    // Reads exactly `count` bytes at `offset`; false on any shortfall.
    bool ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count);

    InputCallbacks source_;
    std::uint8_t key_[4] = {0, 0, 0, 0};
    std::int64_t delivered_ = 0;
};

}  // namespace qk
