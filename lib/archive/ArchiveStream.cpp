#include "archive/ArchiveStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "format/ArchiveHeader.h"
#include "platform/FileSystem.h"

namespace qk {

namespace {

std::int64_t FileRead(void* context, std::uint8_t* buffer, std::int64_t count) {
    return static_cast<std::int64_t>(
        std::fread(buffer, 1, static_cast<std::size_t>(count), static_cast<std::FILE*>(context)));
}

bool FileSeek(void* context, std::int64_t offset) {
    std::FILE* file = static_cast<std::FILE*>(context);
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t FileSize(void* context) {
    return platform::FileSizeOf(static_cast<std::FILE*>(context));
}

void FileClose(void* context) {
    std::fclose(static_cast<std::FILE*>(context));
}

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

std::int64_t MemoryRead(void* context, std::uint8_t* buffer, std::int64_t count) {
    Memory& m = *static_cast<Memory*>(context);
    const std::size_t n = std::min(m.size - m.position, static_cast<std::size_t>(count));
    if (n > 0) std::memcpy(buffer, m.data + m.position, n);
    m.position += n;
    return static_cast<std::int64_t>(n);
}

bool MemorySeek(void* context, std::int64_t offset) {
    Memory& m = *static_cast<Memory*>(context);
    if (offset < 0 || static_cast<std::uint64_t>(offset) > m.size) return false;
    m.position = static_cast<std::size_t>(offset);
    return true;
}

std::int64_t MemorySize(void* context) {
    return static_cast<std::int64_t>(static_cast<Memory*>(context)->size);
}

void MemoryClose(void* context) {
    delete static_cast<Memory*>(context);
}

}  // namespace

InputCallbacks ArchiveStream::FileSource(std::FILE* file) {
    if (!file) return {};
    return {file, FileRead, FileSeek, FileSize, FileClose};
}

InputCallbacks ArchiveStream::MemorySource(const std::uint8_t* data, std::size_t size) {
    Memory* memory = new (std::nothrow) Memory{data, size};
    if (!memory) return {};
    return {memory, MemoryRead, MemorySeek, MemorySize, MemoryClose};
}

ArchiveStream::ArchiveStream(const InputCallbacks& source) : source_(source) {}

ArchiveStream::~ArchiveStream() {
    if (source_.close) source_.close(source_.context);
}

std::int64_t ArchiveStream::size() const {
    return source_.size ? source_.size(source_.context) : -1;
}

bool ArchiveStream::ReadAt(std::int64_t offset, std::uint8_t* buffer, std::int64_t count) {
    if (offset < 0 || !source_.seek || !source_.seek(source_.context, offset)) return false;
    while (count > 0) {
        const std::int64_t n = source_.read(source_.context, buffer, count);
        if (n <= 0 || n > count) return false;
        buffer += n;
        count -= n;
    }
    return true;
}

ArchiveStream::HeaderResult ArchiveStream::ReadHeader(ArchiveHeader& header) {
    std::uint8_t bytes[kHeaderSize];
    if (!isOpen() || !ReadAt(0, bytes, kHeaderSize)) return HeaderResult::kReadFailure;
    if (ParseHeader(bytes, header)) {
        header.offset = 0;
        return HeaderResult::kOk;
    }

    // A self-extracting program: the archive ends 4 bytes before the end of
    // the file, and those 4 bytes give its length.
    const std::int64_t length = size();
    std::uint8_t trailer[kTrailerSize];
    if (length < kTrailerSize || !ReadAt(length - kTrailerSize, trailer, kTrailerSize))
        return HeaderResult::kNotArchive;
    const std::int64_t offset = ArchiveOffsetFromTrailer(trailer, length);
    if (offset < 0 || !ReadAt(offset, bytes, kHeaderSize) || !ParseHeader(bytes, header))
        return HeaderResult::kNotArchive;
    header.offset = offset;
    return HeaderResult::kOk;
}

void ArchiveStream::SetKey(const std::uint8_t key[4]) {
    std::memcpy(key_, key, 4);
}

// The key index restarts at 0 on every read; the decoder asks for multiples
// of 4, so it always equals the byte's distance from the data start mod 4. A
// caller's source may deliver less than asked before its end, so the read
// goes on until the count is reached or the source has nothing more.
int ArchiveStream::Read(std::uint8_t* buffer, int count) {
    if (!isOpen() || count <= 0) return 0;
    int n = 0;
    while (n < count) {
        const std::int64_t got = source_.read(source_.context, buffer + n, count - n);
        if (got <= 0 || got > count - n) break;
        n += static_cast<int>(got);
    }
    delivered_ += n;
    if ((key_[0] | key_[1] | key_[2] | key_[3]) == 0) return n;  // no password: nothing to undo
    for (int i = 0; i < n; ++i) buffer[i] ^= key_[i & 3];
    return n;
}

}  // namespace qk
