// Helpers shared by the test suites: in-memory streams, hex, SHA-256, a small
// JSON reader for the reference archives' expectations, temporary folders.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codec/InputStream.h"
#include "format/ArchiveHeader.h"

namespace qk::test {

using Bytes = std::vector<std::uint8_t>;

// An InputStream over bytes in memory, delivering at most `chunkLimit` bytes
// per Read (to exercise short reads) and counting the calls.
class MemoryStream : public InputStream {
  public:
    explicit MemoryStream(Bytes data, int chunkLimit = 1 << 30)
        : data_(std::move(data)), chunkLimit_(chunkLimit) {}
    int Read(std::uint8_t* buffer, int count) override;
    int reads = 0;
    int endReads = 0;  // the calls that found the data ended
    std::vector<int> requested;

  private:
    Bytes data_;
    std::size_t pos_ = 0;
    int chunkLimit_;
};

Bytes FromHex(const std::string& hex);
std::string ToHex(const std::uint8_t* data, std::size_t size);
inline std::string ToHex(const Bytes& b) {
    return ToHex(b.data(), b.size());
}
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& data);

// Writes bit strings ("0110...") and fields MSB first, for hand-made streams.
class BitWriter {
  public:
    void Bits(const std::string& bits);
    void Field(std::uint32_t value, int width);
    void AlignToByte() { used_ = 0; }
    Bytes bytes() const { return out_; }

  private:
    Bytes out_;
    int used_ = 0;  // bits used in the last byte, 0..7 (0: no partial byte)
};

// A minimal JSON value, enough for the expectation files.
struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json& operator[](const std::string& key) const;
    const Json& operator[](std::size_t i) const { return items.at(i); }
    std::int64_t Int() const { return static_cast<std::int64_t>(number); }
    bool IsNull() const { return kind == kNull; }
};
Json ParseJson(const std::string& text);

// The reference archives shipped beside the project.
std::string VectorsDir();
std::vector<std::string> VectorNames();
// The parsed NAME.expect.json of a reference archive.
Json LoadVectorExpectation(const std::string& name);

// A fresh empty folder under the system's temporary folder, removed on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace qk::test
