#include "platform/TextRoad.h"

#include "platform/Text.h"

namespace qk::platform {

namespace road {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte a carrier at `text[i]` stands for, or -1 when none starts there.
int CarriedByte(std::string_view text, std::size_t i, bool displayCarriers) {
    const char c = text[i];
    if (c != kPathCarrier && !(displayCarriers && c == kDisplayCarrier)) return -1;
    if (i + 2 >= text.size()) return -1;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void AppendCarrier(std::string& out, char carrier, unsigned char raw) {
    out += carrier;
    out += kHex[raw >> 4];
    out += kHex[raw & 15];
}

bool IsFormatLead(unsigned char b) {
    return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

bool IsCp932Lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsCp932Trail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Byte length of the UTF-8 sequence at `text[i]`: its lead byte's length,
// cut at the first byte that is no continuation (1 for a stray byte).
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

}  // namespace

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (unsigned char b : bytes) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
}

std::string FromProgramText(std::string_view text, Target target, bool displayCarriers) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const int carried = CarriedByte(text, i, displayCarriers);
        if (carried >= 0) {
            out += static_cast<char>(carried);
            i += 3;
            continue;
        }
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const bool hasNext = i + 1 < text.size();
        const unsigned char next = hasNext ? static_cast<unsigned char>(text[i + 1]) : 0;
        const bool pair =
            hasNext && (IsFormatLead(b) || (IsCp932Lead(b) && IsCp932Trail(next) && next != 0x5C));
        const std::size_t n = pair ? 2 : 1;
        const std::string_view character = text.substr(i, n);
        std::string utf8;
        if ((pair || (b >= 0xA1 && b <= 0xDF)) && Cp932CharacterToUtf8(character, utf8)) {
            out += target == Target::kUtf8 ? utf8 : std::string(character);
        } else {
            AppendEscaped(out, character);
        }
        i += n;
    }
    return out;
}

std::string FromUtf8(std::string_view native) {
    std::string out;
    out.reserve(native.size());
    std::size_t i = 0;
    while (i < native.size()) {
        const unsigned char b = static_cast<unsigned char>(native[i]);
        if (b < 0x80 && b != 0) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const std::size_t n = Utf8Length(native, i);
        const std::string_view character = native.substr(i, n);
        std::string cp932;
        // Only a form that the road brings back as this very character: the
        // CP932 of U+7E8A is 0xFA 0x5C, in which the format reads a separator.
        if (b != 0 && Utf8CharacterToCp932(character, cp932) &&
            FromProgramText(cp932, Target::kUtf8, false) == character) {
            out += cp932;
        } else {
            for (unsigned char raw : character) AppendCarrier(out, kPathCarrier, raw);
        }
        i += n;
    }
    return out;
}

bool HasCarrier(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (CarriedByte(text, i, false) >= 0) return true;
    }
    return false;
}

}  // namespace road

std::string ShownText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const int carried = road::CarriedByte(text, i, false);
        if (carried >= 0) {
            road::AppendCarrier(shown, road::kDisplayCarrier, static_cast<unsigned char>(carried));
            i += 2;
            continue;
        }
        const bool hasNext = i + 1 < text.size();
        const auto isControl = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
        // A lead byte whose second byte is a control goes with it.
        const bool loneLead =
            road::IsFormatLead(b) && hasNext && isControl(static_cast<unsigned char>(text[i + 1]));
        if (isControl(b) || loneLead) {
            road::AppendEscaped(shown, text.substr(i, 1));
            continue;
        }
        shown += text[i];
        if (road::IsFormatLead(b) && hasNext) shown += text[++i];
    }
    return shown;
}

std::string ToNativePathAs(std::string_view programText, TextMode mode) {
    switch (mode) {
        case TextMode::kPassThrough:
            return std::string(programText);
        case TextMode::kCp932:
            return road::FromProgramText(programText, road::Target::kCp932, false);
        case TextMode::kUtf8:
            break;
    }
    return road::FromProgramText(programText, road::Target::kUtf8, false);
}

std::string ToConsoleAs(std::string_view programText, TextMode mode) {
    switch (mode) {
        case TextMode::kPassThrough:
            return std::string(programText);
        case TextMode::kCp932:
            return road::FromProgramText(programText, road::Target::kCp932, true);
        case TextMode::kUtf8:
            break;
    }
    return road::FromProgramText(programText, road::Target::kUtf8, true);
}

std::string FromNativeAs(std::string_view native, TextMode mode) {
    if (mode != TextMode::kUtf8) return std::string(native);
    return road::FromUtf8(native);
}

std::string PasswordBytes(std::string_view programText) {
    if (!road::HasCarrier(programText)) return std::string(programText);
    // Something of it has no CP932 form: the password is the text as the
    // user gave it, byte for byte.
    return road::FromProgramText(programText, road::Target::kUtf8, false);
}

}  // namespace qk::platform
