// Text encoding at the edges of the program.
//
// Inside the program all text is Shift-JIS (code page 932, where 0x5C is a
// backslash): archive names, messages, paths. The console and the file system
// speak the platform's encoding. Under a C, POSIX or Shift-JIS locale the
// bytes pass unchanged; under a UTF-8 locale they are converted, every
// character as the system's CP932 conversion reads it (the user-defined area
// 0xF040-0xF9FC as U+E000-U+E757), bytes that are no character as "%XX" (see
// TextRoad.h for the rule). On Windows file names always take the UTF-8 road
// on their way to UTF-16.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qk::platform {

enum class TextMode {
    kPassThrough,  // bytes unchanged
    kCp932,        // CP932 kept, bytes that are no CP932 character as %XX
    kUtf8,         // converted to and from UTF-8
};

// Decides the mode from the process locale (call once at start-up, after
// setlocale). Tests may force a mode.
void InitTextMode();
void SetTextMode(TextMode mode);
TextMode CurrentTextMode();

// Program text -> file system name. Under UTF-8, a byte sequence that is not
// valid CP932 becomes "%XX" per byte, so the result never gains a separator
// or a ".." that the original did not have, and is always valid UTF-8 but for
// the carried bytes of the user's own text.
std::string ToNativePath(std::string_view programText);

// Native (argument, typed line, a name from the file system) -> program
// text. Under UTF-8, characters that CP932 cannot hold travel as carriers
// (a zero byte and two hex digits per byte, which no archive name can hold),
// which ToNativePath and ToConsole turn back into those bytes.
std::string FromNative(std::string_view native);

// The command-line arguments after the program name, as program text. On
// Windows they are taken from the wide command line, so that names typed in
// any code page arrive intact; elsewhere each argument goes through FromNative.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Program text -> console bytes. Carriers (also ShownText's) come out as
// their bytes. Control characters of the text pass: names get to the console
// through ShownText.
std::string ToConsole(std::string_view programText);

// A name or path as the console may show it (program text): every byte below
// 0x20 and 0x7F becomes %XX, and a format lead byte before one with it; the
// carriers of the user's own text become carriers that survive a C string.
std::string ShownText(std::string_view programText);

// The conversions above under a given mode rather than the process's (for a
// program that chooses its own, as qk's --charset does). On POSIX the plain
// forms are these under CurrentTextMode().
std::string ToNativePathAs(std::string_view programText, TextMode mode);
std::string FromNativeAs(std::string_view native, TextMode mode);
std::string ToConsoleAs(std::string_view programText, TextMode mode);

// The key bytes of a password given or typed as program text: its CP932
// bytes when all of it has a CP932 form, else the bytes the user gave.
std::string PasswordBytes(std::string_view programText);

// Strict conversions used by tools: false when the text cannot be converted.
bool Cp932ToUtf8(std::string_view cp932, std::string& utf8);
bool Utf8ToCp932(std::string_view utf8, std::string& cp932);

}  // namespace qk::platform
