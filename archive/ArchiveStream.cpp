#include "archive/ArchiveStream.h"

#include <cstring>

#include "platform/FileSystem.h"

namespace qk {

namespace {

std::uint32_t ReadBigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

void WriteBigEndian(std::uint32_t v, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Reads exactly `count` bytes at `offset`; false on any shortfall.
bool ReadAt(std::FILE* file, std::int64_t offset, std::uint8_t* buffer, std::size_t count) {
    if (offset < 0) return false;
#ifdef _WIN32
    if (_fseeki64(file, offset, SEEK_SET) != 0) return false;
#else
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
#endif
    return std::fread(buffer, 1, count, file) == count;
}

}  // namespace

PasswordKey DeriveKey(std::string_view password) {
    const std::uint32_t l = static_cast<std::uint32_t>(password.size()) & 0xFF;
    std::uint32_t product = l, sum = l, difference = l, exclusive = l;
    std::uint8_t check = static_cast<std::uint8_t>(l);
    for (std::size_t i = 0; i < password.size(); ++i) {
        const std::uint8_t b = static_cast<std::uint8_t>(password[i]);
        const std::uint32_t v =
            static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(b))) ^
            static_cast<std::uint32_t>(i);
        check = static_cast<std::uint8_t>(check + ((i & 0xFF) ^ b));
        product *= v;
        sum += v;
        difference -= v;
        exclusive ^= v;
    }
    const std::uint32_t k = product + difference * sum + exclusive;
    PasswordKey result;
    WriteBigEndian(k, result.key);
    result.check = check;
    return result;
}

bool ParseHeader(const std::uint8_t* bytes, ArchiveHeader& header) {
    if (std::memcmp(bytes, kSignature, 4) != 0) return false;
    header.flags = bytes[6];
    header.passwordCheck = bytes[7];
    header.totalSize = static_cast<std::int32_t>(ReadBigEndian(bytes + 8));
    header.tableSize = static_cast<std::int32_t>(ReadBigEndian(bytes + 12));
    header.entryCount = static_cast<std::int32_t>(ReadBigEndian(bytes + 16));
    return true;
}

void FormatHeader(const ArchiveHeader& header, std::uint8_t* bytes) {
    std::memcpy(bytes, "qk010400", 6);
    bytes[6] = header.flags;
    bytes[7] = header.passwordCheck;
    WriteBigEndian(static_cast<std::uint32_t>(header.totalSize), bytes + 8);
    WriteBigEndian(static_cast<std::uint32_t>(header.tableSize), bytes + 12);
    WriteBigEndian(static_cast<std::uint32_t>(header.entryCount), bytes + 16);
}

ArchiveStream::ArchiveStream(const std::string& path) : file_(platform::OpenForRead(path)) {}

ArchiveStream::ArchiveStream(std::FILE* file) : file_(file) {}

ArchiveStream::HeaderResult ArchiveStream::ReadHeader(ArchiveHeader& header) {
    std::uint8_t bytes[kHeaderSize];
    std::FILE* f = file_.get();
    if (!ReadAt(f, 0, bytes, kHeaderSize)) return HeaderResult::kReadFailure;
    if (ParseHeader(bytes, header)) {
        header.offset = 0;
        return HeaderResult::kOk;
    }

    // A self-extracting program: the archive ends 4 bytes before the end of
    // the file, and those 4 bytes give its length.
    const std::int64_t fileLength = platform::FileSizeOf(f);
    std::uint8_t trailer[4];
    if (fileLength < 4 || !ReadAt(f, fileLength - 4, trailer, 4)) return HeaderResult::kNotArchive;
    const std::int64_t offset = fileLength - 4 - std::int64_t{ReadBigEndian(trailer)};
    if (offset < 0 || offset + kHeaderSize > fileLength) return HeaderResult::kNotArchive;
    if (!ReadAt(f, offset, bytes, kHeaderSize) || !ParseHeader(bytes, header)) {
        return HeaderResult::kNotArchive;
    }
    header.offset = offset;
    return HeaderResult::kOk;
}

void ArchiveStream::SetKey(const std::uint8_t key[4]) {
    std::memcpy(key_, key, 4);
}

// The key index restarts at 0 on every read; the decoder asks for multiples
// of 4, so it always equals the byte's distance from the data start mod 4.
int ArchiveStream::Read(std::uint8_t* buffer, int count) {
    if (!file_ || count <= 0) return 0;
    const int n =
        static_cast<int>(std::fread(buffer, 1, static_cast<std::size_t>(count), file_.get()));
    if ((key_[0] | key_[1] | key_[2] | key_[3]) == 0) return n;  // no password: nothing to undo
    for (int i = 0; i < n; ++i) buffer[i] ^= key_[i & 3];
    return n;
}

}  // namespace qk
