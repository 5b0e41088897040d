// Conversions between program text (CP932) and the UTF-16 that the Windows
// wide API speaks, shared by the Windows side of the platform layer.
//
// Every file and folder name goes through Cp932ToWide and the wide API, so a
// Japanese name comes out right whatever the system's ANSI code page is.
#pragma once

#include <string>
#include <string_view>

namespace qk::platform::windows {

// The code page of program text.
constexpr unsigned kProgramCodePage = 932;

// Text in code page `codePage` -> UTF-16. Bytes that do not form a character
// of the code page become the code page's default character; they never turn
// into a separator.
std::wstring ToWide(std::string_view text, unsigned codePage);
// UTF-16 -> code page `codePage`. `lossless` (when given) tells whether every
// character had an exact counterpart; best-fit look-alikes are not used.
std::string FromWide(std::wstring_view wide, unsigned codePage, bool* lossless = nullptr);

inline std::wstring Cp932ToWide(std::string_view text) {
    return ToWide(text, kProgramCodePage);
}
inline std::string WideToCp932(std::wstring_view wide, bool* lossless = nullptr) {
    return FromWide(wide, kProgramCodePage, lossless);
}

}  // namespace qk::platform::windows
