// One archive opened for the reading commands: the header, the password, the
// entry table, and a walk over the entries' bytes with a progress report.
// All of it is the library's ArchiveReader; this adds the user's side
// (messages, the password question, names in the user's charset).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "qk1/ArchiveReader.h"
#include "qk/Charset.h"
#include "qk/CommandLine.h"

namespace qk::tool {

// What a reader status means, for a message.
std::string DescribeStatus(ArchiveReader::Status status);

class ArchiveSession {
  public:
    // `reportErrors` false leaves the message of a failed Open to the caller
    // (error()).
    ArchiveSession(const Options& options, const NameCodec& codec, bool reportErrors = true)
        : options_(options), codec_(codec), reportErrors_(reportErrors) {}

    // Opens `path` (program text), settles the password and reads the entry
    // table. False after a message on standard error.
    bool Open(const std::string& path);

    ArchiveReader& reader() { return reader_; }
    const ArchiveHeader& header() const { return reader_.header(); }
    const EntryTable& entries() const { return reader_.entries(); }
    std::int32_t count() const { return reader_.entries().entryCount; }
    const std::string& path() const { return path_; }
    // What went wrong in Open.
    const std::string& error() const { return error_; }
    // The archive's name for messages.
    const std::string& shownPath() const { return shownPath_; }

    // Entry i's name as the user sees it, '/' between components.
    std::string DisplayName(std::int32_t i) const;
    // Entry i's stored name, '\' between components.
    std::string_view StoredName(std::int32_t i) const { return entries().names.Item(i); }

    // "entry NAME" or "entries NAME, NAME..." for the batch that holds entry
    // i, for a message about the whole batch (a cut-short archive).
    std::string BatchNames(std::int32_t i) const;

    // Sum of all entry sizes.
    std::int64_t TotalSize() const;

    // Decodes the batches in order up to the one holding entry `last` and
    // hands every entry's bytes to `visit` (false stops the walk with
    // kStopped). `progress` hears of the decoded bytes now and then.
    using Visit = std::function<bool(std::int32_t, const std::uint8_t*, std::int32_t)>;
    ArchiveReader::Status Walk(const Visit& visit,
                               const std::function<void(std::int64_t)>& progress,
                               std::int32_t last);

  private:
    bool SettlePassword();
    void Fail(const std::string& reason);

    const Options& options_;
    const NameCodec& codec_;
    bool reportErrors_;
    ArchiveReader reader_;
    std::string path_;
    std::string shownPath_;
    std::string error_;
};

}  // namespace qk::tool
