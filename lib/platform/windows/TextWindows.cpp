// Text conversion on Windows, through the system's code page tables.
//
// Program text is CP932. The file system is reached through the wide API
// (see FileSystemWindows.cpp), so file names need no mode: they are always
// converted from CP932 to UTF-16. Arguments arrive in the ANSI code page;
// bytes piped to the program and written to a redirected output are taken
// and given as CP932, unchanged.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// shellapi.h needs the declarations of windows.h first.
#include <shellapi.h>

#include <climits>

#include "platform/Text.h"
#include "platform/windows/WideText.h"

namespace qk::platform {

namespace windows {

std::wstring ToWide(std::string_view text, unsigned codePage) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int length = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), n);
    return wide;
}

std::string FromWide(std::wstring_view wide, unsigned codePage, bool* lossless) {
    if (lossless) *lossless = true;
    if (wide.empty() || wide.size() > INT_MAX) return {};
    const int length = static_cast<int>(wide.size());
    // UTF-8 takes neither the flag nor the default-character report.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* report = utf8 ? nullptr : &usedDefault;
    const int n =
        ::WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr, report);
    if (n <= 0) {
        if (lossless) *lossless = false;
        return {};
    }
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, flags, wide.data(), length, text.data(), n, nullptr, report);
    if (lossless && usedDefault) *lossless = false;
    return text;
}

namespace {

// The program's rule for the first byte of a double-byte character.
bool StartsDoubleByte(unsigned char b) {
    return (b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// What a character that has no single UTF-16 counterpart becomes: the
// code page's own default character, the middle dot.
constexpr wchar_t kNoCharacter = L'\u30FB';

}  // namespace

std::wstring NameToWide(std::string_view programText) {
    std::wstring wide;
    wide.reserve(programText.size());
    std::size_t i = 0;
    while (i < programText.size()) {
        const unsigned char b = static_cast<unsigned char>(programText[i]);
        if (b < 0x80) {
            wide += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        // A lead byte at the end of the text stands alone.
        const std::size_t length = StartsDoubleByte(b) && i + 1 < programText.size() ? 2 : 1;
        wchar_t converted[4];
        const int n = ::MultiByteToWideChar(kProgramCodePage, 0, programText.data() + i,
                                            static_cast<int>(length), converted, 4);
        // One character in, one character out, and never a separator: 0x80
        // 0x5C is one character to the program but two to code page 932.
        const bool single = n == 1 && converted[0] >= 0x80;
        wide += single ? converted[0] : kNoCharacter;
        i += length;
    }
    return wide;
}

bool WideToProgramName(std::wstring_view wide, std::string& text) {
    bool lossless = false;
    text = FromWide(wide, kProgramCodePage, &lossless);
    return lossless && NameToWide(text) == wide;
}

}  // namespace windows

namespace {

TextMode gMode = TextMode::kPassThrough;

// Strict CP932 -> UTF-16: false on a byte sequence the code page does not
// define.
bool StrictCp932ToWide(std::string_view cp932, std::wstring& wide) {
    wide.clear();
    if (cp932.empty()) return true;
    if (cp932.size() > INT_MAX) return false;
    const int length = static_cast<int>(cp932.size());
    const int n = ::MultiByteToWideChar(windows::kProgramCodePage, MB_ERR_INVALID_CHARS,
                                        cp932.data(), length, nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<std::size_t>(n));
    return ::MultiByteToWideChar(windows::kProgramCodePage, MB_ERR_INVALID_CHARS, cp932.data(),
                                 length, wide.data(), n) == n;
}

}  // namespace

// The mode only matters where file names are narrow; it is kept so that code
// and tests that set it behave the same on every platform.
void InitTextMode() {
    gMode = TextMode::kPassThrough;
}
void SetTextMode(TextMode mode) {
    gMode = mode;
}
TextMode CurrentTextMode() {
    return gMode;
}

// The file system receives NameToWide's form of a name, which keeps the
// program's own reading of it. Code page 932 as Windows applies it reads a
// few odd bytes differently (0x80 is a character of its own there, so a 0x5C
// after it is a backslash); the name is given in that reading, so that a name
// that climbs out of its folder under either reading is refused, on Windows
// as elsewhere. It comes in UTF-8, in which a backslash or a dot is only ever
// that character. Win32 takes a slash for a separator as well, so slashes
// come back as backslashes: a check for ".." components sees what Windows sees.
std::string ToNativePath(std::string_view programText) {
    std::wstring wide = windows::ToWide(programText, windows::kProgramCodePage);
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    return windows::FromWide(wide, CP_UTF8);
}

std::string ToNativePath(std::string_view programText, TextMode) {
    return ToNativePath(programText);
}

// Arguments of main() come in the ANSI code page (932 on a Japanese system,
// where this changes nothing).
std::string FromNative(std::string_view native) {
    const unsigned ansi = ::GetACP();
    if (ansi == windows::kProgramCodePage) return std::string(native);
    bool ascii = true;
    for (const char c : native) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::string(native);
    return windows::WideToCp932(windows::ToWide(native, ansi));
}

// Text for a redirected output or a console in code page 932 is the program
// text itself; a console in another code page is written in UTF-16 by
// WriteConsole (ConsoleWindows.cpp).
std::string ToConsole(std::string_view programText) {
    return std::string(programText);
}

bool Cp932ToUtf8(std::string_view cp932, std::string& utf8) {
    utf8.clear();
    std::wstring wide;
    if (!StrictCp932ToWide(cp932, wide)) return false;
    utf8 = windows::FromWide(wide, CP_UTF8);
    return true;
}

bool Utf8ToCp932(std::string_view utf8, std::string& cp932) {
    cp932.clear();
    if (utf8.empty()) return true;
    if (utf8.size() > INT_MAX) return false;
    const int length = static_cast<int>(utf8.size());
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, wide.data(), n);
    bool lossless = false;
    cp932 = windows::WideToCp932(wide, &lossless);
    return lossless;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) {
        for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
        return args;
    }
    for (int i = 1; i < count; ++i) {
        std::string text;
        // A character that code page 932 lacks cannot be named in program
        // text; it arrives as the code page's substitute, and the file it
        // names then cannot be opened, as with the narrow arguments.
        if (!windows::WideToProgramName(wide[i], text)) {
            text = windows::FromWide(wide[i], windows::kProgramCodePage);
        }
        args.push_back(std::move(text));
    }
    ::LocalFree(wide);
    return args;
}

}  // namespace qk::platform
