#include "qk1/ArchiveReader.h"

#include <new>

#include "archive/ReaderState.h"
#include "format/ArchiveHeader.h"
#include "format/EntryTable.h"
#include "platform/FileSystem.h"

namespace qk {

Status FromDecodeResult(int result) {
    if (result == LzDecoder::kDone) return Status::kOk;
    return result == LzDecoder::kOverrun ? Status::kOverrun : Status::kBadReference;
}

ArchiveReader::ArchiveReader() = default;
ArchiveReader::~ArchiveReader() = default;

Status ArchiveReader::Open(const std::string& path) {
    std::FILE* file = platform::OpenForRead(path);
    if (!file) {
        state_.reset();
        return Status::kOpenFailure;
    }
    return Open(file);
}

Status ArchiveReader::Open(std::FILE* file) {
    const InputCallbacks source = ArchiveStream::FileSource(file);
    return OpenSource(source);
}

Status ArchiveReader::Open(const std::uint8_t* data, std::size_t size) {
    const InputCallbacks source = ArchiveStream::MemorySource(data, size);
    if (!source.context) {
        state_.reset();
        return Status::kNoMemory;
    }
    return OpenSource(source);
}

Status ArchiveReader::Open(const InputCallbacks& source) {
    return OpenSource(source);
}

// Every Open ends here, and from here on the stream owns the source.
Status ArchiveReader::OpenSource(const InputCallbacks& source) {
    header_ = ArchiveHeader();
    entries_ = EntryTable();
    state_.reset(new (std::nothrow) State(source));
    if (!state_) {
        if (source.close) source.close(source.context);
        return Status::kNoMemory;
    }
    if (!state_->stream.isOpen()) return Status::kOpenFailure;
    switch (state_->stream.ReadHeader(header_)) {
        case ArchiveStream::HeaderResult::kOk:
            return Status::kOk;
        case ArchiveStream::HeaderResult::kReadFailure:
            return Status::kReadFailure;
        case ArchiveStream::HeaderResult::kNotArchive:
            return Status::kNotArchive;
    }
    return Status::kNotArchive;
}

std::int64_t ArchiveReader::sourceSize() const {
    return state_ ? state_->stream.size() : -1;
}

std::int64_t ArchiveReader::dataEnd() const {
    if (!state_ || !state_->lzDecoder) return -1;
    const std::int64_t usedBits =
        state_->stream.delivered() * 8 - state_->lzDecoder->unusedInputBits();
    return header_.offset + kHeaderSize + (usedBits + 7) / 8;
}

Status ArchiveReader::CheckPassword(std::string_view password) {
    if (!state_) return Status::kOpenFailure;
    const PasswordKey key = DeriveKey(password);
    state_->stream.SetKey(key.key);
    return key.check == header_.passwordCheck ? Status::kOk : Status::kWrongPassword;
}

Status ArchiveReader::DecodeTable() {
    if (!state_) return Status::kOpenFailure;
    State& s = *state_;
    const std::int32_t tableSize = header_.tableSize;
    if (tableSize < 0) return Status::kBadTable;
    s.tableBlock.reset(new (std::nothrow) char[tableSize > 0 ? tableSize : 1]);
    if (!s.tableBlock) return Status::kNoMemory;
    s.lzDecoder.reset(new (std::nothrow)
                          LzDecoder(&s.stream, header_.insertInner(), header_.largeModel()));
    if (!s.lzDecoder || !s.lzDecoder->valid()) return Status::kNoMemory;
    s.lzDecoder->Reset(reinterpret_cast<std::uint8_t*>(s.tableBlock.get()), tableSize);
    const int result = s.lzDecoder->Decode(tableSize);
    s.tableDecoded = s.lzDecoder->outputPos();
    return FromDecodeResult(result);
}

// A table whose decoding failed is still parsed as far as it was decoded: the
// rest of its buffer was never written, and a claimed size may be far larger
// than anything the archive produced.
Status ArchiveReader::ParseTable(char separator) {
    // The block becomes the name list's: the table is parsed once.
    if (!state_ || !state_->tableBlock) return Status::kBadTable;
    bool parsed = false;
    try {
        parsed = ParseEntryTable(std::move(state_->tableBlock), state_->tableDecoded,
                                 header_.entryCount, separator, entries_);
    } catch (const std::bad_alloc&) {
        entries_ = EntryTable();
        return Status::kNoMemory;
    }
    if (!parsed) {
        // Leave no half-parsed table behind for batches() or ForEachEntry.
        entries_ = EntryTable();
        return Status::kBadTable;
    }
    return Status::kOk;
}

Status ArchiveReader::ReadTable(char separator) {
    const Status decoded = DecodeTable();
    if (decoded != Status::kOk) return decoded;
    return ParseTable(separator);
}

std::vector<Batch> ArchiveReader::batches() const {
    return FormBatches(entries_.sizes, entries_.largestSize);
}

Status ArchiveReader::DecodeBatch(const Batch& batch, std::uint8_t* buffer, std::int32_t step,
                                  const Progress& progress) {
    if (!state_ || !state_->lzDecoder) return Status::kBadTable;
    LzDecoder& decoder = *state_->lzDecoder;
    decoder.Reset(buffer, batch.total);
    // A batch that decodes from bytes past the end of the file is whole in
    // `buffer`, but its tail may be wrong.
    const Status done = decoder.consumedPastEnd() ? Status::kCutShort : Status::kOk;
    if (batch.total <= 0) return done;
    if (step <= 0) step = batch.total;
    std::int64_t requested = 0;
    do {
        if (progress && !progress(static_cast<std::int32_t>(requested))) return Status::kStopped;
        requested += step;
        const std::int32_t target =
            requested > batch.total ? batch.total : static_cast<std::int32_t>(requested);
        const int result = decoder.Decode(target);
        if (result != LzDecoder::kDone) return FromDecodeResult(result);
    } while (requested < batch.total);
    return decoder.consumedPastEnd() ? Status::kCutShort : Status::kOk;
}

}  // namespace qk
