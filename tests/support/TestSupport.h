// Helpers shared by the test suites: in-memory streams, hex, SHA-256, the
// reference archives and their expectations, temporary folders.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "codec/InputStream.h"

namespace qk::test {

using Bytes = std::vector<std::uint8_t>;

// An InputStream over bytes in memory, at most `chunkLimit` bytes a Read.
class MemoryStream : public InputStream {
  public:
    explicit MemoryStream(Bytes data, int chunkLimit = 1 << 30)
        : data_(std::move(data)), chunkLimit_(chunkLimit) {}
    int Read(std::uint8_t* buffer, int count) override;
    int reads = 0, endReads = 0;  // the calls, and those that found the data ended
    std::vector<int> requested;

  private:
    Bytes data_;
    std::size_t pos_ = 0;
    int chunkLimit_;
};

Bytes FromHex(const std::string& hex);  // blanks between the bytes are skipped
std::string ToHex(const std::uint8_t* data, std::size_t size);
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);
Bytes ReadFileBytes(const std::string& path);
// The CP932 form of a UTF-8 text; throws std::invalid_argument for a
// character that has none, so a test never runs on a wrong name.
std::string Sjis(const std::string& utf8);
// Bytes that do not compress, the same for the same seed.
Bytes Noise(std::size_t size, std::uint32_t seed);
void WriteFileBytes(const std::string& path, const Bytes& data);

// Fields written MSB first, for hand-made streams.
struct BitWriter {
    Bytes bytes;
    int used = 0;  // bits of the last byte taken, 0 when it is full
    BitWriter& Field(std::uint32_t value, int width);
};

// A stream under the code of an all-ones block (every length 31, 256 slots):
// symbol s < 256 is 1 then s in 8 bits, s >= 256 is 0 then s - 256 in 9 bits
// (the literal c is 512 + c), and a length symbol its number in 7 bits.
struct OnesStream : BitWriter {
    OnesStream() { bytes.assign(560, 0xFF); }
    OnesStream& Symbol(unsigned s) {
        return Field(s < 256 ? s | 256 : s - 256, 9 + (s >= 256)), *this;
    }
    OnesStream& Length(unsigned symbol) { return Field(symbol, 7), *this; }
    OnesStream& Literals(const std::string& text) {
        for (char c : text) Symbol(512 + static_cast<std::uint8_t>(c));
        return *this;
    }
};

// A value of the expectation files: objects, arrays, numbers, literals and
// strings without escapes.
struct Json {
    bool null = true;
    std::string text;  // a string's characters, or a number's text
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json& operator[](const std::string& key) const;
    const Json& operator[](std::size_t i) const { return items.at(i); }
    std::int64_t Int() const { return std::stoll(text); }
    bool IsNull() const { return null; }
};
Json ParseJson(const std::string& text);

// The reference archives shipped beside the project, and the parsed
// NAME.expect.json of one.
std::string VectorsDir();
std::vector<std::string> VectorNames();
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
