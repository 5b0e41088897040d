#include "support/TestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace qk::test {

int MemoryStream::Read(std::uint8_t* buffer, int count) {
    ++reads;
    requested.push_back(count);
    const std::size_t n =
        std::min<std::size_t>({data_.size() - pos_, static_cast<std::size_t>(count),
                               static_cast<std::size_t>(chunkLimit_)});
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    endReads += n == 0;
    return static_cast<int>(n);
}

Bytes FromHex(const std::string& hex) {
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;  // blanks between bytes
    Bytes out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += "0123456789abcdef"[data[i] >> 4];
        out += "0123456789abcdef"[data[i] & 15];
    }
    return out;
}

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint32_t kK[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    const auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes m(data, data + size);
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i)
        m.push_back(static_cast<std::uint8_t>(std::uint64_t{size} * 8 >> (8 * i)));
    for (std::size_t off = 0; off < m.size(); off += 64) {
        std::uint32_t w[64], v[8];
        for (int i = 0; i < 64; ++i) {
            const std::uint8_t* p = &m[off + 4 * (i % 16)];
            w[i] = i < 16
                       ? std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                             std::uint32_t{p[2]} << 8 | p[3]
                       : w[i - 16] + (rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3)) +
                             w[i - 7] +
                             (rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10));
        }
        std::copy(h, h + 8, v);
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = v[7] + (rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25)) +
                                     ((v[4] & v[5]) ^ (~v[4] & v[6])) + kK[i] + w[i];
            const std::uint32_t t2 = (rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22)) +
                                     ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
            std::copy_backward(v, v + 7, v + 8);
            v[4] += t1;
            v[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
    std::uint8_t digest[32];
    for (int i = 0; i < 32; ++i)
        digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return ToHex(digest, 32);
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void BitWriter::Bits(const std::string& bits) {
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        if (used_ == 0) out_.push_back(0);
        if (c == '1') out_.back() |= static_cast<std::uint8_t>(0x80 >> used_);
        used_ = (used_ + 1) % 8;
    }
}

void BitWriter::Field(std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) Bits((value >> i) & 1 ? "1" : "0");
}

namespace {

// Recursive descent over what the expectation files and the tools' output use.
class JsonParser {
  public:
    explicit JsonParser(const std::string& text) : s_(text) {}

    Json Value() {
        Json v;
        const char c = Peek();
        if (c == '{' || c == '[') {
            v.kind = c == '{' ? Json::kObject : Json::kArray;
            for (++pos_; Peek() != (c == '{' ? '}' : ']');) {
                if (c == '{') {
                    const std::string key = String();
                    Expect(':');
                    v.fields[key] = Value();
                } else {
                    v.items.push_back(Value());
                }
                if (Peek() == ',') ++pos_;
            }
            ++pos_;
        } else if (c == '"') {
            v.kind = Json::kString;
            v.text = String();
        } else if (s_.compare(pos_, 4, "null") == 0) {
            pos_ += 4;
        } else if (s_.compare(pos_, 4, "true") == 0 || s_.compare(pos_, 5, "false") == 0) {
            v.kind = Json::kBool;
            v.boolean = c == 't';
            pos_ += v.boolean ? 4 : 5;
        } else {
            v.kind = Json::kNumber;
            std::size_t used = 0;
            v.number = std::stod(s_.substr(pos_, 40), &used);
            pos_ += used;
        }
        return v;
    }

  private:
    char Peek() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
        if (pos_ >= s_.size()) throw std::runtime_error("json: unexpected end");
        return s_[pos_];
    }
    void Expect(char c) {
        if (Peek() != c) throw std::runtime_error(std::string("json: expected ") + c);
        ++pos_;
    }
    // UTF-8 out; \u escapes of the Basic Multilingual Plane only.
    std::string String() {
        Expect('"');
        std::string out;
        while (pos_ < s_.size() && s_[pos_] != '"') {
            char c = s_[pos_++];
            if (c == '\\') {
                c = s_[pos_++];
                if (c == 'n' || c == 't' || c == 'r') c = c == 'n' ? '\n' : c == 't' ? '\t' : '\r';
                if (c == 'u') {
                    const unsigned u = std::stoul(s_.substr(pos_, 4), nullptr, 16);
                    pos_ += 4;
                    if (u >= 0x800) out += static_cast<char>(0xE0 | (u >> 12));
                    if (u >= 0x80)
                        out += static_cast<char>(u >= 0x800 ? 0x80 | ((u >> 6) & 0x3F)
                                                            : 0xC0 | (u >> 6));
                    out += static_cast<char>(u >= 0x80 ? 0x80 | (u & 0x3F) : u);
                    continue;
                }
            }
            out += c;
        }
        Expect('"');
        return out;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    static const Json kMissing;
    const auto it = fields.find(key);
    return it == fields.end() ? kMissing : it->second;
}

Json ParseJson(const std::string& text) {
    return JsonParser(text).Value();
}

std::string VectorsDir() {
    return QK_VECTORS_DIR;
}

Json LoadVectorExpectation(const std::string& name) {
    const Bytes text = ReadFileBytes(VectorsDir() + "/" + name + ".expect.json");
    return ParseJson(std::string(text.begin(), text.end()));
}

std::vector<std::string> VectorNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(VectorsDir()))
        if (e.path().extension() == ".qk1") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        const auto candidate = base / ("qktest-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace qk::test
