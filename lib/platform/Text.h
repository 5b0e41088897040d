// Text encoding at the edges of the program.
//
// Inside the program all text is Shift-JIS (code page 932, where 0x5C is a
// backslash): archive names, messages, paths. The console and the file system
// speak the platform's encoding. On Windows and under a C, POSIX or Shift-JIS
// locale the bytes pass unchanged; under a UTF-8 locale they are converted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qk::platform {

enum class TextMode { kPassThrough, kUtf8 };

// Decides the mode from the process locale (call once at start-up, after
// setlocale). Tests may force a mode.
void InitTextMode();
void SetTextMode(TextMode mode);
TextMode CurrentTextMode();

// Program text -> file system name. Under UTF-8, a byte sequence that is not
// valid CP932 becomes "%XX" per byte, so the result never gains a separator
// or a ".." that the original did not have.
std::string ToNativePath(std::string_view programText);
// The same under `mode` instead of the process's mode, for a caller whose
// names follow a setting of its own (qk's --charset). Windows has one form.
std::string ToNativePath(std::string_view programText, TextMode mode);

// Native (argument, typed line) -> program text. Under UTF-8, characters that
// CP932 cannot hold travel as characters of the user-defined row 0xF0, one
// per byte, which ToNativePath and ToConsole turn back into those bytes.
std::string FromNative(std::string_view native);

// The command-line arguments after the program name, as program text. On
// Windows they are taken from the wide command line, so that names typed in
// any code page arrive intact; elsewhere each argument goes through FromNative.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Program text -> console bytes.
std::string ToConsole(std::string_view programText);

// Strict conversions used by tools: false when the text cannot be converted.
bool Cp932ToUtf8(std::string_view cp932, std::string& utf8);
bool Utf8ToCp932(std::string_view utf8, std::string& cp932);

}  // namespace qk::platform
