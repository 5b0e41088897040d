// Text conversion on POSIX systems, through iconv.
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Text.h"
#include "platform/TextRoad.h"

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

}  // namespace

namespace road {

bool Cp932CharacterToUtf8(std::string_view character, std::string& utf8) {
    utf8.clear();
    if (!FromCp932().Convert(character, utf8) || utf8.empty()) return false;
    // One character, and no control: U+0080-U+009F are two bytes C2 80-9F.
    const unsigned char first = static_cast<unsigned char>(utf8[0]);
    if (first < 0x20 || first == 0x7F) return false;
    if (first == 0xC2 && utf8.size() > 1 && static_cast<unsigned char>(utf8[1]) < 0xA0)
        return false;
    return true;
}

// Only a character that comes back as itself: a look-alike (U+00A5 as the
// backslash 0x5C, say) would change what the user's text means.
bool Utf8CharacterToCp932(std::string_view character, std::string& cp932) {
    cp932.clear();
    std::string back;
    return ToCp932().Convert(character, cp932) && !cp932.empty() &&
           FromCp932().Convert(cp932, back) && back == character;
}

}  // namespace road

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
    return ToNativePathAs(programText, gMode);
}

std::string ToConsole(std::string_view programText) {
    return ToConsoleAs(programText, gMode);
}

std::string FromNative(std::string_view native) {
    return FromNativeAs(native, gMode);
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
