// Reading a qk1 archive, step by step: the library's public entry for
// everything that decodes archives (the console program and the tools).
//
//   ArchiveReader reader;
//   if (reader.Open(path) != ArchiveReader::Status::kOk) ...;
//   if (reader.header().passwordSet() && !reader.CheckPassword(pw)) ...;
//   if (reader.ReadTable('/') != ArchiveReader::Status::kOk) ...;
//   for (const Batch& b : reader.batches()) reader.DecodeBatch(b, buffer, ...);
//
// Each step reports a Status; nothing throws. The steps keep the order the
// format needs: the password key must be set before the first compressed byte
// is read, which ReadTable does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveStream.h"
#include "archive/EntryTable.h"
#include "codec/LzDecoder.h"

namespace qk {

namespace platform {
class LargeBlock;
}

class ArchiveReader {
  public:
    enum class Status {
        kOk,
        kOpenFailure,    // the file cannot be opened
        kReadFailure,    // fewer than 20 bytes at offset 0
        kNotArchive,     // no signature at offset 0 nor through the trailer
        kWrongPassword,  // check value differs
        kNoMemory,       // a table, ring or batch buffer cannot be allocated
        kOverrun,        // decoding result 1: a copy would run past its block
        kBadReference,   // decoding result 2: a reference to missing data
        kBadTable,       // the decoded table is inconsistent
        kStopped,        // the progress callback asked to stop
    };

    // Maps a decoding result (1 or 2) to its status.
    static Status FromDecodeResult(int result);

    ArchiveReader();
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Opens `path` (program text) and reads its header.
    Status Open(const std::string& path);
    // Same, over an already open file that the reader takes over.
    Status Open(std::FILE* file);

    const ArchiveHeader& header() const { return header_; }

    // Derives the key from the password bytes (CP932), sets it in the stream,
    // and compares the check value. Only meaningful when passwordSet().
    bool CheckPassword(std::string_view password);

    // Allocates the table buffer, builds the decoder (reading the code block)
    // and decodes the entry table; kOk, kNoMemory, kOverrun or kBadReference.
    Status DecodeTable();
    // Parses the decoded table, names with `separator` for both separators:
    // kOk, kBadTable (also for the part of a table that did not decode), or
    // kNoMemory. On failure entries() is left empty.
    Status ParseTable(char separator);
    // DecodeTable then ParseTable.
    Status ReadTable(char separator);

    const EntryTable& entries() const { return entries_; }
    std::vector<Batch> batches() const { return FormBatches(entries_.sizes, entries_.largestSize); }

    // Called before each Decode call of a batch with the bytes of the batch
    // requested so far; returning false stops with kStopped.
    using Progress = std::function<bool(std::int32_t requested)>;

    // Decodes a batch into `buffer` (at least batch.total bytes), in steps of
    // `step` bytes with a progress call before each step.
    Status DecodeBatch(const Batch& batch, std::uint8_t* buffer, std::int32_t step,
                       const Progress& progress);
    // Same without progress.
    Status DecodeBatch(const Batch& batch, std::uint8_t* buffer) {
        return DecodeBatch(batch, buffer, batch.total, nullptr);
    }

    // Walks the entries: decodes batch by batch and hands each entry's bytes
    // to `visit` (index, data, size); `visit` returning false stops with
    // kStopped. Where the batches are small (a few MiB at most) and there is
    // more than one, a second thread decodes the next batches while `visit`
    // handles the ones before; every callback still comes on the calling
    // thread, in the order a walk in turn would make them.
    using Visit = std::function<bool(std::int32_t, const std::uint8_t*, std::int32_t)>;
    Status ForEachEntry(const Visit& visit);

    // Progress of a walk: the entry bytes decoded so far, before each step of
    // `step` bytes; returning false stops with kStopped.
    using WalkProgress = std::function<bool(std::int64_t decoded)>;
    // Same, with progress, ending after the batch that holds entry `last`.
    Status ForEachEntry(const Visit& visit, std::int32_t step, const WalkProgress& progress,
                        std::int32_t last);

    // Allocates the buffers of a walk (one of the largest entry's size, or
    // two for decoding ahead): kOk or kNoMemory. A walk does it itself when
    // it was not done, and releases them when it ends.
    Status PrepareWalk();

    std::FILE* file() const { return stream_ ? stream_->file() : nullptr; }

  private:
    // Reads the header of the stream just made by Open.
    Status OpenStream();
    Status WalkInTurn(const std::vector<Batch>& batches, const Visit& visit, std::int32_t step,
                      const WalkProgress& progress);
    Status WalkAhead(const std::vector<Batch>& batches, const Visit& visit, std::int32_t step,
                     const WalkProgress& progress);

    std::unique_ptr<ArchiveStream> stream_;
    ArchiveHeader header_;
    std::unique_ptr<std::uint8_t[]> tableBlock_;
    std::int32_t tableDecoded_ = 0;  // bytes of the table that DecodeTable produced
    std::unique_ptr<LzDecoder> lzDecoder_;
    EntryTable entries_;
    std::unique_ptr<platform::LargeBlock> walkBuffers_[2];
    std::int64_t walkCapacity_ = 0;  // bytes of each walk buffer
};

}  // namespace qk
