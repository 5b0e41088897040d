// The one road between program text (CP932) and the UTF-8 or CP932 bytes
// that the console and the file system get, shared by every platform. Only
// the conversion of a single character is the platform's (TextPosix.cpp,
// TextWindows.cpp).
//
// Characters: a byte 0x00-0x7F is itself; 0xA1-0xDF a half-width katakana.
// Two bytes form one character when the format reads them as one (its lead
// bytes 0x80-0x9F and 0xE0-0xEF take whatever follows), or when CP932 does
// and the format would not split them (a lead 0xF0-0xFC before a trail byte
// other than 0x5C, which the format takes for a separator). A character the
// code page does not define, or that would come out as a control character,
// becomes "%XX" per byte, so the converted text never gains a separator, a
// dot or a control that the format did not see.
//
// Carriers: a character of the user's own text (an argument, a typed line, a
// name the file system gave) that CP932 lacks travels in program text as
// one carrier per byte: 0x00 and two upper-case hex digits. No archive name
// can hold a zero byte, so no archive name can come out as a carried byte.
// ShownName turns carriers into display carriers (0x7F and two hex digits)
// for the texts that go through a C string on their way to the console; the
// same function escapes every DEL of a name, so there, too, only the user's
// own bytes come out raw.
#pragma once

#include <string>
#include <string_view>

namespace qk::platform::road {

constexpr char kPathCarrier = '\0';
constexpr char kDisplayCarrier = '\x7F';

// The platform's conversion of one CP932 character (one or two bytes) to
// UTF-8: false when the code page does not define it or it is no single
// printable character (C0 and C1 controls are refused).
bool Cp932CharacterToUtf8(std::string_view character, std::string& utf8);
// The platform's conversion of one UTF-8 character to CP932: false when
// CP932 lacks it (no best-fit look-alikes).
bool Utf8CharacterToCp932(std::string_view character, std::string& cp932);

enum class Target { kUtf8, kCp932 };

// Program text -> UTF-8 or checked CP932 as described above. Path carriers
// become their bytes; display carriers too when `displayCarriers`.
std::string FromProgramText(std::string_view text, Target target, bool displayCarriers);

// UTF-8 (or any bytes under a UTF-8 locale) -> program text: each character
// that CP932 holds converted, everything else carried byte by byte.
std::string FromUtf8(std::string_view native);

// True when `text` holds a path carrier.
bool HasCarrier(std::string_view text);

// "%XX" per byte.
void AppendEscaped(std::string& out, std::string_view bytes);

}  // namespace qk::platform::road
