#include "format/ArchiveHeader.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qk::test {

int MemoryStream::Read(std::uint8_t* buffer, int count) {
    ++reads;
    requested.push_back(count);
    const std::size_t left = data_.size() - pos_;
    const std::size_t n = std::min<std::size_t>(
        {left, static_cast<std::size_t>(count), static_cast<std::size_t>(chunkLimit_)});
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<int>(n);
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    int high = -1;
    for (char c : hex) {
        const int v = nibble(c);
        if (v < 0) continue;  // blanks between bytes are allowed
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

namespace {

constexpr std::uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

}  // namespace

std::string Sha256Hex(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes message(data, data + size);
    const std::uint64_t bitLength = static_cast<std::uint64_t>(size) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    for (int i = 7; i >= 0; --i) message.push_back(static_cast<std::uint8_t>(bitLength >> (8 * i)));
    for (std::size_t off = 0; off < message.size(); off += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t* p = &message[off + 4 * i];
            w[i] = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                   (std::uint32_t{p[2]} << 8) | p[3];
        }
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6],
                      hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = hh + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) +
                                     ((e & f) ^ (~e & g)) + kSha256K[i] + w[i];
            const std::uint32_t t2 =
                (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
    }
    std::uint8_t digest[32];
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(h[i] >> (24 - 8 * j));
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
    std::string bits;
    for (int i = width - 1; i >= 0; --i) bits += ((value >> i) & 1) ? '1' : '0';
    Bits(bits);
}

void BitWriter::AlignToByte() {
    used_ = 0;
}

Bytes BitWriter::bytes() const {
    return out_;
}

namespace {

class JsonParser {
  public:
    explicit JsonParser(const std::string& text) : s_(text) {}

    Json Value() {
        Skip();
        if (pos_ >= s_.size()) throw std::runtime_error("json: unexpected end");
        const char c = s_[pos_];
        Json v;
        if (c == '{') {
            v.kind = Json::kObject;
            ++pos_;
            Skip();
            if (s_[pos_] == '}') {
                ++pos_;
                return v;
            }
            for (;;) {
                Skip();
                const std::string key = String();
                Skip();
                Expect(':');
                v.fields[key] = Value();
                Skip();
                if (s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = Json::kArray;
            ++pos_;
            Skip();
            if (s_[pos_] == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                v.items.push_back(Value());
                Skip();
                if (s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                Expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = Json::kString;
            v.text = String();
            return v;
        }
        if (s_.compare(pos_, 4, "null") == 0) {
            pos_ += 4;
            return v;
        }
        if (s_.compare(pos_, 4, "true") == 0) {
            pos_ += 4;
            v.kind = Json::kBool;
            v.boolean = true;
            return v;
        }
        if (s_.compare(pos_, 5, "false") == 0) {
            pos_ += 5;
            v.kind = Json::kBool;
            return v;
        }
        v.kind = Json::kNumber;
        std::size_t used = 0;
        v.number = std::stod(s_.substr(pos_, 40), &used);
        pos_ += used;
        return v;
    }

  private:
    void Skip() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    void Expect(char c) {
        if (pos_ >= s_.size() || s_[pos_] != c)
            throw std::runtime_error(std::string("json: expected ") + c);
        ++pos_;
    }
    std::string String() {
        Expect('"');
        std::string out;
        while (pos_ < s_.size() && s_[pos_] != '"') {
            char c = s_[pos_++];
            if (c == '\\') {
                const char e = s_[pos_++];
                switch (e) {
                    case 'n':
                        c = '\n';
                        break;
                    case 't':
                        c = '\t';
                        break;
                    case 'r':
                        c = '\r';
                        break;
                    case 'u': {
                        const unsigned code = std::stoul(s_.substr(pos_, 4), nullptr, 16);
                        pos_ += 4;
                        if (code < 0x80) {
                            out += static_cast<char>(code);
                        } else if (code < 0x800) {
                            out += static_cast<char>(0xC0 | (code >> 6));
                            out += static_cast<char>(0x80 | (code & 0x3F));
                        } else {
                            out += static_cast<char>(0xE0 | (code >> 12));
                            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                            out += static_cast<char>(0x80 | (code & 0x3F));
                        }
                        continue;
                    }
                    default:
                        c = e;
                        break;
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
    std::ifstream in(VectorsDir() + "/" + name + ".expect.json");
    std::stringstream text;
    text << in.rdbuf();
    return ParseJson(text.str());
}

std::vector<std::string> VectorNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(VectorsDir())) {
        if (e.path().extension() == ".qk1") names.push_back(e.path().stem().string());
    }
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
