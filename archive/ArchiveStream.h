// The archive file as the decoder's byte source, with the password scrambling
// undone on every read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "codec/InputStream.h"

namespace qk {

// Owner of one open stdio file; closes it on destruction.
class FileHolder {
  public:
    FileHolder() = default;
    explicit FileHolder(std::FILE* file) : file_(file) {}
    ~FileHolder() { Close(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    void Close() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }

  private:
    std::FILE* file_ = nullptr;
};

// The scrambling key and check value that a password gives.
struct PasswordKey {
    std::uint8_t key[4];
    std::uint8_t check;
};

// Derives key and check from the password bytes. The arithmetic of the format:
// four 32-bit accumulators (product, sum, difference, xor) over each byte read
// as a signed char and xored with its index, combined as P + D*S + X, key in
// big-endian order; the check sums (index xor byte) over unsigned bytes.
PasswordKey DeriveKey(std::string_view password);

// Where the archive starts inside a file, and its 20-byte header fields.
struct ArchiveHeader {
    std::int64_t offset = 0;  // 0 for a plain archive
    std::uint8_t flags = 0;
    std::uint8_t passwordCheck = 0;
    std::int32_t totalSize = 0;
    std::int32_t tableSize = 0;
    std::int32_t entryCount = 0;

    bool largeModel() const { return flags & 1; }
    bool insertInner() const { return flags & 2; }
    bool passwordSet() const { return flags & 4; }
    std::int32_t dataSize() const {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(totalSize) -
                                         static_cast<std::uint32_t>(tableSize));
    }
};

constexpr int kHeaderSize = 20;
constexpr char kSignature[4] = {'q', 'k', '0', '1'};

// Decodes header fields from 20 bytes. False when the signature is missing.
bool ParseHeader(const std::uint8_t* bytes, ArchiveHeader& header);

// Serialises a header (the writer's side), with "04" in the unread bytes 4-5.
void FormatHeader(const ArchiveHeader& header, std::uint8_t* bytes);

class ArchiveStream final : public InputStream {
  public:
    enum class HeaderResult { kOk, kReadFailure, kNotArchive };

    // Opens `path` (program text); check isOpen().
    explicit ArchiveStream(const std::string& path);
    // Reads from an open file that the stream takes over.
    explicit ArchiveStream(std::FILE* file);

    bool isOpen() const { return static_cast<bool>(file_); }

    // Finds the header at offset 0 or through a self-extracting trailer (the
    // last 4 bytes give the archive's length) and leaves the file positioned
    // at the compressed data.
    HeaderResult ReadHeader(ArchiveHeader& header);

    void SetKey(const std::uint8_t key[4]);

    int Read(std::uint8_t* buffer, int count) override;

    std::FILE* file() const { return file_.get(); }

  private:
    FileHolder file_;
    std::uint8_t key_[4] = {0, 0, 0, 0};
};

}  // namespace qk
