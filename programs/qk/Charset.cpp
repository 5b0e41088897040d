#include "qk/Charset.h"

#include "platform/Text.h"

namespace qk::tool {

namespace {

[[maybe_unused]] bool IsControl(unsigned char b) {
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
#ifdef _WIN32
    // Paths are program text here (the wide command line): characters that
    // CP932 lacks are carried, and come out as their own bytes.
    return platform::ToConsole(platform::ShownText(native));
#else
    std::string out;
    for (std::size_t i = 0; i < native.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(native[i]);
        out += IsControl(b) ? PercentEscape(native.substr(i, 1)) : std::string(1, native[i]);
    }
    return out;
#endif
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

// The library's text road does every conversion; the charset only picks its
// mode.
platform::TextMode NameCodec::mode() const {
    switch (charset_) {
        case Charset::kUtf8:
            return platform::TextMode::kUtf8;
        case Charset::kCp932:
        case Charset::kAuto:
            return platform::TextMode::kCp932;
        case Charset::kRaw:
            break;
    }
    return platform::TextMode::kPassThrough;
}

std::string NameCodec::ToDisplay(std::string_view cp932) const {
    if (charset_ == Charset::kRaw) return std::string(cp932);
    return platform::ToConsoleAs(platform::ShownText(cp932), mode());
}

std::string NameCodec::ToFileName(std::string_view cp932) const {
    if (charset_ == Charset::kRaw) {
        std::string out;
        for (char c : cp932) out += c == '/' ? PercentEscape("/") : std::string(1, c);
        return out;
    }
#ifdef _WIN32
    // The Windows side of the platform takes file names as program text and
    // converts them to UTF-16 itself, by the same road; what is no character
    // is escaped here already, so that no '/' stands inside a component.
    return platform::ToNativePathAs(cp932, platform::TextMode::kCp932);
#else
    return platform::ToNativePathAs(cp932, mode());
#endif
}

std::string NameCodec::PasswordKey(std::string_view native) const {
    return platform::PasswordBytes(platform::FromNativeAs(native, mode()));
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
