// Reading a qk1 archive, step by step.
//
//   qk::ArchiveReader reader;
//   if (reader.Open(path) != qk::Status::kOk) ...;            // or from memory, or callbacks
//   if (reader.header().passwordSet() &&
//       reader.CheckPassword(password) != qk::Status::kOk) ...;
//   if (reader.ReadTable('/') != qk::Status::kOk) ...;
//   reader.ForEachEntry([](std::int32_t index, const std::uint8_t* data, std::int32_t size) {
//       ...; return true;
//   });
//
// Every step returns a Status (StatusText tells it in words); nothing throws.
// The steps keep the order the format needs: the password key must be set
// before the first compressed byte is read, which ReadTable does. A reader
// opens one archive and is not meant to be shared between threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qk1/Archive.h"
#include "qk1/Status.h"

namespace qk {

// A caller's byte source. `read` places up to `count` bytes at the current
// position into `buffer` and returns how many (0 at the end, negative on an
// error); `seek` moves to `offset` bytes from the start (false on failure);
// `size` gives the total size in bytes (negative when unknown: then a
// self-extracting program cannot be found); `close`, when given, is called
// once when the reader no longer needs the source.
struct InputCallbacks {
    void* context = nullptr;
    std::int64_t (*read)(void* context, std::uint8_t* buffer, std::int64_t count) = nullptr;
    bool (*seek)(void* context, std::int64_t offset) = nullptr;
    std::int64_t (*size)(void* context) = nullptr;
    void (*close)(void* context) = nullptr;
};

class ArchiveReader {
  public:
    using Status = qk::Status;

    ArchiveReader();
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Opens the archive at `path` and reads its header: at the start of the
    // file or, for a self-extracting program, through the trailer at its end.
    // The path is Shift-JIS program text, converted as the library's file
    // system calls convert every path (UTF-8 under a UTF-8 locale).
    Status Open(const std::string& path);
    // Same, over an open file that the reader takes over (and closes).
    Status Open(std::FILE* file);
    // Same, over `size` bytes in memory that stay valid while the reader reads.
    Status Open(const std::uint8_t* data, std::size_t size);
    // Same, over the caller's callbacks.
    Status Open(const InputCallbacks& source);

    const ArchiveHeader& header() const { return header_; }
    // Bytes of the file or memory the archive was opened from (-1: unknown).
    std::int64_t sourceSize() const;
    // Where the compressed data ends, as an offset in the source: just past
    // the last byte the decoding has used so far (read-ahead not counted).
    // After a walk to the last entry it is the end of the archive's data;
    // -1 before the table is decoded. In a well-formed plain archive it is
    // sourceSize(); in a self-extracting one the trailer's 4 bytes follow.
    std::int64_t dataEnd() const;

    // Derives the key from the password bytes (CP932), sets it for the
    // compressed data, and compares the archive's check value: kOk or
    // kWrongPassword. Only meaningful when header().passwordSet().
    Status CheckPassword(std::string_view password);

    // Builds the decoder (reading the code block) and decodes the entry
    // table: kOk, kNoMemory, kOverrun or kBadReference.
    Status DecodeTable();
    // Parses the decoded table, names with `separator` for both separators:
    // kOk, kBadTable (also for the part of a table that did not decode), or
    // kNoMemory. On failure entries() is left empty. The decoded table itself
    // becomes the entries' name list, so it is parsed once (a second call
    // gives kBadTable) and costs its size and a few bytes per entry.
    Status ParseTable(char separator);
    // DecodeTable then ParseTable.
    Status ReadTable(char separator);

    const EntryTable& entries() const { return entries_; }
    // The batches of the entry table: consecutive entries whose sizes add up
    // to at most the largest entry's are decoded as one block.
    std::vector<Batch> batches() const;

    // Called before each decoding step of a batch with the bytes of the batch
    // requested so far; returning false stops with kStopped.
    using Progress = std::function<bool(std::int32_t requested)>;

    // Decodes a batch into `buffer` (at least batch.total bytes), in steps of
    // `step` bytes with a progress call before each step. Batches must be
    // decoded in order, each once. kCutShort when the batch was decoded in
    // full but from bits past the end of the file (or after the table or a
    // batch before it did so): the archive has been cut, and the end of
    // the batch is likely wrong.
    Status DecodeBatch(const Batch& batch, std::uint8_t* buffer, std::int32_t step,
                       const Progress& progress);
    // Same without progress.
    Status DecodeBatch(const Batch& batch, std::uint8_t* buffer) {
        return DecodeBatch(batch, buffer, batch.total, nullptr);
    }

    // Walks the entries: decodes batch by batch and hands each entry's bytes
    // to `visit` (index, data, size); `visit` returning false stops with
    // kStopped. A batch decoded with kCutShort is still handed out, entry by
    // entry, and the walk then ends with kCutShort. Where the batches are
    // small (a few MiB at most) and there is more than one, a second thread
    // decodes the next batches while `visit` handles the ones before; every
    // callback still comes on the calling thread, in the order a walk in
    // turn would make them.
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

  private:
    struct State;

    Status OpenSource(const InputCallbacks& source);
    Status WalkInTurn(const std::vector<Batch>& batches, const Visit& visit, std::int32_t step,
                      const WalkProgress& progress);
    Status WalkAhead(const std::vector<Batch>& batches, const Visit& visit, std::int32_t step,
                     const WalkProgress& progress);

    ArchiveHeader header_;
    EntryTable entries_;
    std::unique_ptr<State> state_;  // the stream, decoder and buffers of the opened archive
};

}  // namespace qk
