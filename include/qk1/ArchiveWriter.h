// Writing qk1 archives: the library's archive writer.
//
//   std::vector<qk::ArchiveEntry> entries = ...;   // name (CP932 bytes), time, data
//   qk::WriteOptions options;                      // level, flags, password
//   std::vector<std::uint8_t> archive;
//   std::string error;
//   if (qk::WriteArchive(entries, options, archive, &error) != qk::Status::kOk) ...;
//
// Entries too large to hold all at once are given as EntrySource instead:
// name, time and size up front, the bytes read through a callback when the
// writer reaches the entry's batch, so that the input is held a few batches
// at a time whatever the size of the whole.
//
// The writer keeps the decoder's context rings exactly as the decoder will,
// restarts its LZ history at the entry table and at every batch by the batch
// rule, and codes with the codewords that the decoder derives from the code
// lengths it sends. Every archive is decoded again before it is handed out, so
// the writer never returns an archive that decodes differently from its input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qk1/Status.h"

namespace qk {

struct ArchiveEntry {
    std::string name;        // Shift-JIS (CP932) path, '\' or '/' between components
    std::uint32_t time = 0;  // modification time, seconds since 1970 UTC
    std::vector<std::uint8_t> data;
};

// An entry whose bytes are read on demand. `read` places `count` bytes of
// the entry, from `offset`, into `buffer` and returns true; or returns false
// with what went wrong in `reason` (the writer then stops with kReadFailure,
// naming the entry). The writer may ask for the same bytes more than once (a
// sample to choose its parse, and at levels 8 and 9 a full pass before the
// last); the bytes of the last pass are the ones stored, and checked.
struct EntrySource {
    std::string name;        // Shift-JIS (CP932) path, '\' or '/' between components
    std::uint32_t time = 0;  // modification time, seconds since 1970 UTC
    std::int64_t size = 0;   // bytes of the entry; beyond 2^31 - 1 it is refused unread
    std::function<bool(std::int64_t offset, std::uint8_t* buffer, std::int64_t count,
                       std::string& reason)>
        read;
};

struct WriteOptions {
    // 1 (fastest) to 9 (smallest). Low levels take the best reference at each
    // step; middle ones look a literal ahead and rank choices by the code
    // lengths of a sample parse; 8 and 9 choose every step by the price of
    // all that follows it (9 in two rounds, much slower) and, from 7 on with
    // chooseModes, pick the model size and insertion mode per archive.
    int level = 6;
    bool largeModel = false;   // 512 candidates per context and a 1280-symbol alphabet
    bool insertInner = false;  // offer positions inside copied runs to the rings
    // At levels 7 to 9: try both model sizes and both insertion modes on a
    // sample and use the smallest (largeModel and insertInner are then ignored).
    bool chooseModes = true;
    // Threads that parse batches (and, when choosing modes, the modes) side by
    // side; 0: one per processor.
    int threads = 0;
    bool usePassword = false;
    std::string password;  // CP932 bytes; used when usePassword
    // How many of a ring's slots the match search looks at, newest first
    // (0: all of them).
    int searchDepth = 0;
    bool verify = true;  // decode the result again and compare
    // Input bytes read in and parsed at a time, the blocks of such a group
    // side by side (0: 8 MiB). A batch larger than this is a group of its own.
    std::int64_t groupBytes = 0;
    // Memory for the parse kept between parsing and writing (0: 64 MiB). A
    // larger parse is dropped and made again as the archive is written: the
    // same archive, at the cost of a second parse.
    std::int64_t keptParseBytes = 0;
};

// Writes a complete archive into `out`: kOk, or what stopped it with a reason
// in `error` (when given): kTooLarge (sizes beyond the format's 2^31 limits),
// kInvalidArgument (a name holding a zero byte, an empty password), kNoMemory,
// or kVerifyFailed (the archive did not decode back to its input).
Status WriteArchive(const std::vector<ArchiveEntry>& entries, const WriteOptions& options,
                    std::vector<std::uint8_t>& out, std::string* error);
// Same, taking the entries over (released when the archive is done). The
// same archive results.
Status WriteArchive(std::vector<ArchiveEntry>&& entries, const WriteOptions& options,
                    std::vector<std::uint8_t>& out, std::string* error);
// Same, reading each entry through its callback: the batches are read a
// group at a time (a few tens of MiB, or one batch when it is larger), parsed
// and released, so the input held at once stays near the largest entry's
// size. The parse is kept for writing up to WriteOptions::keptParseBytes and
// made again beyond (the codes are chosen for the whole archive before any is
// written); the archive is built in `out`. Also kReadFailure, when a callback
// fails. The same archive results as from the entries' bytes.
Status WriteArchiveFromSources(const std::vector<EntrySource>& entries, const WriteOptions& options,
                               std::vector<std::uint8_t>& out, std::string* error);

// A self-extracting file into `out`: the program image, the archive, and the
// archive's length as 4 big-endian bytes. kOk or kNoMemory.
Status MakeSelfExtracting(const std::vector<std::uint8_t>& programImage,
                          const std::vector<std::uint8_t>& archive, std::vector<std::uint8_t>& out);

}  // namespace qk
