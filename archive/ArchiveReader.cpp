#include "archive/ArchiveReader.h"

#include <new>

#include "platform/Memory.h"

namespace qk {

ArchiveReader::ArchiveReader() = default;
ArchiveReader::~ArchiveReader() = default;

ArchiveReader::Status ArchiveReader::FromDecodeResult(int result) {
    if (result == LzDecoder::kDone) return Status::kOk;
    return result == LzDecoder::kOverrun ? Status::kOverrun : Status::kBadReference;
}

ArchiveReader::Status ArchiveReader::Open(const std::string& path) {
    stream_.reset(new (std::nothrow) ArchiveStream(path));
    return OpenStream();
}

ArchiveReader::Status ArchiveReader::Open(std::FILE* file) {
    stream_.reset(new (std::nothrow) ArchiveStream(file));
    if (!stream_ && file) std::fclose(file);
    return OpenStream();
}

ArchiveReader::Status ArchiveReader::OpenStream() {
    if (!stream_) return Status::kNoMemory;
    if (!stream_->isOpen()) return Status::kOpenFailure;
    switch (stream_->ReadHeader(header_)) {
        case ArchiveStream::HeaderResult::kOk:
            return Status::kOk;
        case ArchiveStream::HeaderResult::kReadFailure:
            return Status::kReadFailure;
        case ArchiveStream::HeaderResult::kNotArchive:
            return Status::kNotArchive;
    }
    return Status::kNotArchive;
}

bool ArchiveReader::CheckPassword(std::string_view password) {
    const PasswordKey key = DeriveKey(password);
    stream_->SetKey(key.key);
    return key.check == header_.passwordCheck;
}

ArchiveReader::Status ArchiveReader::DecodeTable() {
    const std::int32_t tableSize = header_.tableSize;
    if (tableSize < 0) return Status::kBadTable;
    tableBlock_.reset(new (std::nothrow) std::uint8_t[tableSize > 0 ? tableSize : 1]);
    if (!tableBlock_) return Status::kNoMemory;
    lzDecoder_.reset(new (std::nothrow)
                         LzDecoder(stream_.get(), header_.insertInner(), header_.largeModel()));
    if (!lzDecoder_ || !lzDecoder_->valid()) return Status::kNoMemory;
    lzDecoder_->Reset(tableBlock_.get(), tableSize);
    const int result = lzDecoder_->Decode(tableSize);
    tableDecoded_ = lzDecoder_->outputPos();
    return FromDecodeResult(result);
}

// A table whose decoding failed is still parsed as far as it was decoded: the
// rest of its buffer was never written, and a claimed size may be far larger
// than anything the archive produced.
ArchiveReader::Status ArchiveReader::ParseTable(char separator) {
    if (!tableBlock_) return Status::kBadTable;
    bool parsed = false;
    try {
        parsed = entries_.Parse(tableBlock_.get(), tableDecoded_, header_.entryCount, separator);
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

ArchiveReader::Status ArchiveReader::ReadTable(char separator) {
    const Status decoded = DecodeTable();
    if (decoded != Status::kOk) return decoded;
    return ParseTable(separator);
}

ArchiveReader::Status ArchiveReader::DecodeBatch(const Batch& batch, std::uint8_t* buffer,
                                                 std::int32_t step, const Progress& progress) {
    if (!lzDecoder_) return Status::kBadTable;
    lzDecoder_->Reset(buffer, batch.total);
    if (batch.total <= 0) return Status::kOk;
    if (step <= 0) step = batch.total;
    std::int64_t requested = 0;
    do {
        if (progress && !progress(static_cast<std::int32_t>(requested))) return Status::kStopped;
        requested += step;
        const std::int32_t target =
            requested > batch.total ? batch.total : static_cast<std::int32_t>(requested);
        const int result = lzDecoder_->Decode(target);
        if (result != LzDecoder::kDone) return FromDecodeResult(result);
    } while (requested < batch.total);
    return Status::kOk;
}

}  // namespace qk
