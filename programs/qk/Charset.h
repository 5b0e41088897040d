// How entry names (Shift-JIS bytes, CP932) meet the user: on the console, as
// file names on disk, and as names typed on the command line.
#pragma once

#include <string>
#include <string_view>

#include "platform/Text.h"

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

    // The library's text mode of this charset.
    platform::TextMode mode() const;

    // CP932 text -> what the user sees: the library's console road, with
    // control characters and bytes that are no CP932 character as %XX
    // (except under kRaw).
    std::string ToDisplay(std::string_view cp932) const;
    // CP932 text -> the bytes the file system gets for one path component:
    // the library's file-name road (control characters stay; a '/' that the
    // format reads as the second byte of a character is escaped with it).
    std::string ToFileName(std::string_view cp932) const;
    // A password as the user gave or typed it -> its key bytes, by the rule
    // both programs share (platform::PasswordBytes).
    std::string PasswordKey(std::string_view native) const;
    // User or file-system text -> CP932. False when a character has no CP932
    // form; `cp932` then holds what could be converted, the rest unchanged.
    bool FromNative(std::string_view native, std::string& cp932) const;

  private:
    Charset charset_;
};

}  // namespace qk::tool
