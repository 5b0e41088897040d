// What an ArchiveReader holds once an archive is open: the stream, the
// decoder, the decoded table and the buffers of a walk.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/ArchiveStream.h"
#include "codec/LzDecoder.h"
#include "platform/Memory.h"
#include "qk1/ArchiveReader.h"

namespace qk {

struct ArchiveReader::State {
    explicit State(const InputCallbacks& source) : stream(source) {}

    ArchiveStream stream;
    // The decoded table until ParseTable hands it to the entries' name list.
    std::unique_ptr<char[]> tableBlock;
    std::int32_t tableDecoded = 0;  // bytes of the table that DecodeTable produced
    std::unique_ptr<LzDecoder> lzDecoder;
    std::unique_ptr<platform::LargeBlock> walkBuffers[2];
    std::int64_t walkCapacity = 0;  // bytes of each walk buffer
};

// Maps a decoding result (1 or 2) to its status.
Status FromDecodeResult(int result);

}  // namespace qk
