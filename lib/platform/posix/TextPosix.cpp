// Text conversion on POSIX systems, through iconv.
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace qk::platform {

namespace {

TextMode gMode = TextMode::kPassThrough;

// One iconv conversion descriptor, closed on destruction.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of `in`; false when any of it cannot be converted.
    bool Convert(std::string_view in, std::string& out) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[64];
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t r = ::iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
        }
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        if (::iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            return false;
        }
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        return true;
    }

  private:
    iconv_t cd_;
};

Converter& FromCp932() {
    static Converter converter("UTF-8", "CP932");
    return converter;
}

Converter& ToCp932() {
    static Converter converter("CP932", "UTF-8");
    return converter;
}

bool IsCp932Lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Byte length of the UTF-8 sequence that starts at `text[i]`: its lead
// byte's length, cut at the first byte that is not a continuation (1 for a
// stray byte).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    std::size_t n = 1;
    if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
    } else if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    }
    std::size_t k = 1;
    while (k < n && i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80)
        ++k;
    return k;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char b : bytes) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
}

bool IsCp932Trail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// The format's own double-byte rule, which decides what is a separator.
bool IsFormatLead(unsigned char b) {
    return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// A UTF-8 character that CP932 cannot hold (an accented letter in a folder
// name, say) still has to reach the file system unchanged. FromNative carries
// each of its bytes as one character of the user-defined row 0xF0, which no
// real text uses, and the conversion back turns that character into the byte.
constexpr unsigned char kCarrierLead = 0xF0;
constexpr int kLowTrails = 0x7E - 0x40 + 1;  // 63 trails 0x40-0x7E, then 0x80 on

void AppendCarried(std::string& out, unsigned char raw) {
    if (raw < 0x80) {
        out += static_cast<char>(raw);
        return;
    }
    const int k = raw - 0x80;
    out += static_cast<char>(kCarrierLead);
    out += static_cast<char>(k < kLowTrails ? 0x40 + k : 0x80 + (k - kLowTrails));
}

// The raw byte a carrier character stands for, or -1.
int CarriedByte(unsigned char lead, unsigned char trail) {
    if (lead != kCarrierLead) return -1;
    if (trail >= 0x40 && trail <= 0x7E) return 0x80 + (trail - 0x40);
    if (trail >= 0x80 && trail < 0x80 + (128 - kLowTrails))
        return 0x80 + kLowTrails + (trail - 0x80);
    return -1;
}

// CP932 -> UTF-8 one character at a time, so that a bad character costs only
// itself: it is written as %XX per byte. Two bytes form one character when
// CP932 says so or when the format's scan does (then a trail byte that looks
// like a separator is escaped with its lead, as the format does not split
// there); so the escaped text never gains a separator or a "..".
std::string Cp932ToUtf8Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3 / 2);
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const bool hasNext = i + 1 < text.size();
        const unsigned char next = hasNext ? static_cast<unsigned char>(text[i + 1]) : 0;
        const bool pair = hasNext && ((IsCp932Lead(b) && IsCp932Trail(next)) || IsFormatLead(b));
        if (pair && CarriedByte(b, next) >= 0) {
            out += static_cast<char>(CarriedByte(b, next));
            i += 2;
            continue;
        }
        const std::size_t n = pair ? 2 : 1;
        const std::string_view ch = text.substr(i, n);
        std::string converted;
        if (FromCp932().Convert(ch, converted)) {
            out += converted;
        } else {
            AppendEscaped(out, ch);
        }
        i += n;
    }
    return out;
}

}  // namespace

void InitTextMode() {
    const char* codeset = ::nl_langinfo(CODESET);
    gMode = (codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0))
                ? TextMode::kUtf8
                : TextMode::kPassThrough;
}

void SetTextMode(TextMode mode) {
    gMode = mode;
}
TextMode CurrentTextMode() {
    return gMode;
}

std::string ToNativePath(std::string_view programText) {
    return ToNativePath(programText, gMode);
}

std::string ToNativePath(std::string_view programText, TextMode mode) {
    if (mode == TextMode::kPassThrough) return std::string(programText);
    return Cp932ToUtf8Escaped(programText);
}

std::string ToConsole(std::string_view programText) {
    return ToNativePath(programText);
}

std::string FromNative(std::string_view native) {
    if (gMode == TextMode::kPassThrough) return std::string(native);
    std::string out;
    out.reserve(native.size());
    std::size_t i = 0;
    while (i < native.size()) {
        const unsigned char b = static_cast<unsigned char>(native[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const std::size_t n = Utf8Length(native, i);
        const std::string_view ch = native.substr(i, n);
        std::string converted;
        if (ToCp932().Convert(ch, converted)) {
            out += converted;
        } else {
            for (unsigned char raw : ch) AppendCarried(out, raw);
        }
        i += n;
    }
    return out;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromNative(argv[i]));
    return args;
}

bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) {
    utf8.clear();
    return FromCp932().Convert(cp932, utf8);
}

bool Utf8ToCp932(std::string_view utf8, std::string& cp932) {
    cp932.clear();
    return ToCp932().Convert(utf8, cp932);
}

}  // namespace qk::platform
