// Conversions between program text (CP932) and the UTF-16 that the Windows
// wide API speaks, shared by the Windows side of the platform layer.
//
// Every file and folder name goes through NameToWide and the wide API, so a
// Japanese name comes out right whatever the system's ANSI code page is.
#pragma once

#include <string>
#include <string_view>

namespace qk::platform::windows {

// The code page of program text.
constexpr unsigned kProgramCodePage = 932;

// Text in code page `codePage` -> UTF-16, as the system converts it. Bytes
// that do not form a character of the code page become its default character.
// Either separator of a wide path.
inline bool IsSlash(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::wstring ToWide(std::string_view text, unsigned codePage);
// UTF-16 -> code page `codePage`. `lossless` (when given) tells whether every
// character had an exact counterpart; best-fit look-alikes are not used.
std::string FromWide(std::wstring_view wide, unsigned codePage, bool* lossless = nullptr);

// A file or folder name (program text) -> the UTF-16 name the file system
// receives: the library's text road to UTF-8 (TextRoad.h), then UTF-16. The
// text is cut into characters by the program's own rule, so the file system
// sees a separator exactly where the program does: 0x95 0x5C stays one
// character, and 0xF0 before a backslash stays a name of its own, although
// code page 932 would read that pair as one character. Bytes that are no
// character become "%XX".
std::wstring NameToWide(std::string_view programText);

// Program text for a console -> UTF-16: as NameToWide, and the display
// carriers of ShownText come out as their characters too.
std::wstring ConsoleTextToWide(std::string_view programText);

// UTF-16 from the system (an argument, a typed line, a name in a folder) ->
// program text: CP932 where it holds the character, carriers elsewhere.
std::string WideToProgramText(std::wstring_view wide);

// A UTF-16 name from the system -> program text that names it exactly, that
// is, that NameToWide turns back into `wide`. False when there is none (a
// lone surrogate); `text` then holds the nearest form.
bool WideToProgramName(std::wstring_view wide, std::string& text);

inline std::string WideToCp932(std::wstring_view wide, bool* lossless = nullptr) {
    return FromWide(wide, kProgramCodePage, lossless);
}

}  // namespace qk::platform::windows
