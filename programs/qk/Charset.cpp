#include "qk/Charset.h"

#include "platform/Text.h"

namespace qk::tool {

namespace {

// CP932's own lead bytes (wider than the range the format's name scan skips:
// 0xF0-0xFC lead the user-defined and vendor characters).
bool IsCp932Lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Length of the CP932 character starting at `i`.
std::size_t CharacterLength(std::string_view text, std::size_t i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    return (IsCp932Lead(b) && i + 1 < text.size()) ? 2 : 1;
}

bool IsControl(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

}  // namespace

bool ParseCharset(std::string_view text, Charset& charset) {
    if (text == "auto") {
        charset = Charset::kAuto;
    } else if (text == "cp932" || text == "sjis" || text == "shift_jis") {
        charset = Charset::kCp932;
    } else if (text == "utf-8" || text == "utf8") {
        charset = Charset::kUtf8;
    } else if (text == "raw") {
        charset = Charset::kRaw;
    } else {
        return false;
    }
    return true;
}

bool IsValidCp932(std::string_view text) {
    std::string ignored;
    return platform::Cp932ToUtf8(text, ignored);
}

std::string ShowNative(std::string_view native) {
    std::string out;
    for (std::size_t i = 0; i < native.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(native[i]);
        out += IsControl(b) ? PercentEscape(native.substr(i, 1)) : std::string(1, native[i]);
    }
    return out;
}

std::string PercentEscape(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

NameCodec::NameCodec(Charset charset, bool localeIsUtf8) : charset_(charset) {
    if (charset_ == Charset::kAuto) charset_ = localeIsUtf8 ? Charset::kUtf8 : Charset::kCp932;
}

std::string NameCodec::Convert(std::string_view cp932, bool escapeControls) const {
    std::string out;
    std::size_t i = 0;
    while (i < cp932.size()) {
        const unsigned char b = static_cast<unsigned char>(cp932[i]);
        if (b < 0x80) {
            if (escapeControls && IsControl(b)) {
                out += PercentEscape(cp932.substr(i, 1));
            } else {
                out += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        // One character at a time, so that a bad one costs only itself.
        const std::size_t n = CharacterLength(cp932, i);
        const std::string_view ch = cp932.substr(i, n);
        std::string utf8;
        if (!platform::Cp932ToUtf8(ch, utf8)) {
            out += PercentEscape(ch);
        } else {
            out += charset_ == Charset::kUtf8 ? utf8 : std::string(ch);
        }
        i += n;
    }
    return out;
}

std::string NameCodec::ToDisplay(std::string_view cp932) const {
    if (charset_ == Charset::kRaw) return std::string(cp932);
    return Convert(cp932, true);
}

std::string NameCodec::ToFileName(std::string_view cp932) const {
#ifdef _WIN32
    // The Windows side of the platform takes file names as CP932 and converts
    // them to UTF-16 itself.
    if (charset_ != Charset::kRaw) return NameCodec(Charset::kCp932, false).Convert(cp932, false);
#endif
    std::string out;
    if (charset_ == Charset::kRaw) {
        for (char c : cp932) out += c == '/' ? PercentEscape("/") : std::string(1, c);
        return out;
    }
    return Convert(cp932, false);
}

bool NameCodec::FromNative(std::string_view native, std::string& cp932) const {
    cp932.clear();
    switch (charset_) {
        case Charset::kRaw:
            cp932 = native;
            return true;
        case Charset::kCp932:
        case Charset::kAuto:
            cp932 = native;
            return IsValidCp932(native);
        case Charset::kUtf8:
            break;
    }
    if (platform::Utf8ToCp932(native, cp932)) return true;
    cp932 = platform::FromNative(native);
    return false;
}

}  // namespace qk::tool
