// How entry names (Shift-JIS bytes, CP932) meet the user: on the console, as
// file names on disk, and as names typed on the command line.
#pragma once

#include <string>
#include <string_view>

namespace qk::tool {

enum class Charset {
    kAuto,   // UTF-8 under a UTF-8 locale, CP932 otherwise
    kCp932,  // names stay CP932; bytes that are no CP932 character become %XX
    kUtf8,   // names are converted to and from UTF-8; bad bytes become %XX
    kRaw,    // the bytes as they stand, no conversion and no check
};

// Parses "auto", "cp932" (or "sjis", "shift_jis"), "utf-8" (or "utf8"), "raw".
bool ParseCharset(std::string_view text, Charset& charset);

// True when `text` is a sequence of whole CP932 characters.
bool IsValidCp932(std::string_view text);

// A path as the user typed it or the file system gave it, for a message:
// unchanged but for control characters, which become %XX.
std::string ShowNative(std::string_view native);

// "%XX" for each byte.
std::string PercentEscape(std::string_view bytes);

// The conversions of one run of the program, under one resolved charset.
class NameCodec {
  public:
    // `localeIsUtf8` resolves kAuto.
    NameCodec(Charset charset, bool localeIsUtf8);

    Charset charset() const { return charset_; }

    // CP932 text -> what the user sees. Characters that CP932 does not define
    // and control characters become %XX (except under kRaw).
    std::string ToDisplay(std::string_view cp932) const;
    // CP932 text -> the bytes the file system gets for one path component:
    // as ToDisplay, but control characters stay, and a '/' byte (only
    // possible as the second byte of a broken character) is always escaped.
    std::string ToFileName(std::string_view cp932) const;
    // User or file-system text -> CP932. False when a character has no CP932
    // form; `cp932` then holds what could be converted, the rest unchanged.
    bool FromNative(std::string_view native, std::string& cp932) const;

  private:
    std::string Convert(std::string_view cp932, bool escapeControls) const;
    Charset charset_;
};

}  // namespace qk::tool
