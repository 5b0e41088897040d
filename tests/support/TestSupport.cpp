#include "support/TestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "format/ByteOrder.h"
#include "platform/Text.h"

namespace qk::test {

int MemoryStream::Read(std::uint8_t* buffer, int count) {
    ++reads;
    requested.push_back(count);
    const std::size_t n =
        std::min<std::size_t>({data_.size() - pos_, std::size_t(count), std::size_t(chunkLimit_)});
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    endReads += n == 0;
    return static_cast<int>(n);
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i < hex.size(); ++i)
        if (hex[i] != ' ') out.push_back(std::uint8_t(std::stoi(hex.substr(i++, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; ++i)
        out += {"0123456789abcdef"[data[i] >> 4], "0123456789abcdef"[data[i] & 15]};
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
    const auto r = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes m(data, data + size);
    m.push_back(0x80);
    m.resize((m.size() + 71) / 64 * 64);
    WriteBigEndian32(std::uint32_t(std::uint64_t{size} >> 29), &m[m.size() - 8]);
    WriteBigEndian32(std::uint32_t(size << 3), &m[m.size() - 4]);
    for (std::size_t off = 0; off < m.size(); off += 64) {
        std::uint32_t w[64], v[8];
        for (int i = 0; i < 64; ++i)
            w[i] = i < 16 ? ReadBigEndian32(&m[off + 4 * i])
                          : w[i - 16] + (r(w[i - 15], 7) ^ r(w[i - 15], 18) ^ (w[i - 15] >> 3)) +
                                w[i - 7] + (r(w[i - 2], 17) ^ r(w[i - 2], 19) ^ (w[i - 2] >> 10));
        std::copy(h, h + 8, v);
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = v[7] + (r(v[4], 6) ^ r(v[4], 11) ^ r(v[4], 25)) +
                                     ((v[4] & v[5]) ^ (~v[4] & v[6])) + kK[i] + w[i];
            const std::uint32_t t2 = (r(v[0], 2) ^ r(v[0], 13) ^ r(v[0], 22)) +
                                     ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
            std::copy_backward(v, v + 7, v + 8);
            v[4] += t1;
            v[0] = t1 + t2;
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
    for (int i = 0; i < 8; ++i) WriteBigEndian32(h[i], &m[4 * i]);
    return ToHex(m.data(), 32);
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    if (!platform::Utf8ToCp932(utf8, cp932)) throw std::invalid_argument("no CP932 form: " + utf8);
    return cp932;
}

Bytes Noise(std::size_t size, std::uint32_t seed) {
    Bytes data(size);
    for (std::uint8_t& b : data)
        b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
    return data;
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

BitWriter& BitWriter::Field(std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i, used = (used + 1) % 8) {
        if (used == 0) bytes.push_back(0);
        bytes.back() |= std::uint8_t(((value >> i) & 1) << (7 - used));
    }
    return *this;
}

namespace {

Json ParseValue(const std::string& s, std::size_t& at) {
    const auto next = [&] {
        while (std::isspace(static_cast<unsigned char>(s.at(at)))) ++at;
        return s[at];
    };
    Json v;
    v.null = false;
    const char open = next();
    if (open == '{' || open == '[') {
        for (++at; next() != '}' && s[at] != ']';) {
            if (s[at] == ',') ++at;
            if (open == '[') {
                v.items.push_back(ParseValue(s, at));
                continue;
            }
            const std::string key = ParseValue(s, at).text;
            if (next() != ':') throw std::runtime_error("json: no ':' after " + key);
            v.fields[key] = ParseValue(s, ++at);
        }
        ++at;
    } else if (open == '"') {
        const std::size_t end = s.find('"', at + 1);
        v.text = s.substr(at + 1, end - at - 1);
        at = end + 1;
    } else {
        const std::size_t end = s.find_first_of(",]} \t\r\n", at);
        v.text = s.substr(at, end - at);
        v.null = v.text == "null";
        at = end;
    }
    return v;
}

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    static const Json kMissing;
    const auto it = fields.find(key);
    return it == fields.end() ? kMissing : it->second;
}

Json ParseJson(const std::string& text) {
    std::size_t at = 0;
    return ParseValue(text, at);
}

std::string VectorsDir() {
    return QK_VECTORS_DIR;
}

std::vector<std::string> VectorNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(VectorsDir()))
        if (e.path().extension() == ".qk1") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

Json LoadVectorExpectation(const std::string& name) {
    const Bytes text = ReadFileBytes(VectorsDir() + "/" + name + ".expect.json");
    return ParseJson(std::string(text.begin(), text.end()));
}

TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    do path_ = (base / ("qktest-" + std::to_string(rd()))).string();
    while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace qk::test
