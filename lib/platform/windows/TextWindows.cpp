// Text conversion on Windows, through the system's code page tables.
//
// Program text is CP932. The file system is reached through the wide API
// (see FileSystemWindows.cpp), so file names need no mode: they are always
// converted from CP932 to UTF-16, by way of the library's road to UTF-8.
// Arguments come from the wide command line; bytes piped to the program and
// written to a redirected output are taken and given as CP932, unchanged.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// shellapi.h needs the declarations of windows.h first.
#include <shellapi.h>

#include <climits>

#include "platform/Text.h"
#include "platform/TextRoad.h"
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

// Every name takes the library's one road (TextRoad.h) to UTF-8 and from
// there to UTF-16: the characters are cut where the program cuts them, so
// the file system sees a separator exactly where the program does (0x95 0x5C
// stays one character, 0xF0 before a backslash stands alone), and a pair the
// program does not split converts as the character it is, IBM extensions
// (0xFA-0xFC) included.
std::wstring NameToWide(std::string_view programText) {
    return ToWide(road::FromProgramText(programText, road::Target::kUtf8, false), CP_UTF8);
}

std::wstring ConsoleTextToWide(std::string_view programText) {
    return ToWide(road::FromProgramText(programText, road::Target::kUtf8, true), CP_UTF8);
}

std::string WideToProgramText(std::wstring_view wide) {
    return road::FromUtf8(FromWide(wide, CP_UTF8));
}

bool WideToProgramName(std::wstring_view wide, std::string& text) {
    text = WideToProgramText(wide);
    return NameToWide(text) == wide;
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

// The file system receives NameToWide's form of a name; this is the same
// text in UTF-8, in which a backslash or a dot is only ever that character.
// Win32 takes a slash for a separator as well, so slashes come back as
// backslashes: a check for ".." components sees what Windows sees.
std::string ToNativePath(std::string_view programText) {
    std::string native = road::FromProgramText(programText, road::Target::kUtf8, false);
    for (char& c : native) {
        if (c == '/') c = '\\';
    }
    return native;
}

// Every narrow text reaches the program as program text already: the
// arguments through ProgramArguments (the wide command line), the lines
// typed at the console through ReadConsoleLine.
std::string FromNative(std::string_view native) {
    return std::string(native);
}

// Text for a redirected output is the program text itself, but for the
// user's own characters that CP932 lacks, which come out as their UTF-8
// bytes; a console is written in UTF-16 by WriteConsole (ConsoleWindows.cpp).
std::string ToConsole(std::string_view programText) {
    const bool carried = programText.find(road::kPathCarrier) != std::string_view::npos ||
                         programText.find(road::kDisplayCarrier) != std::string_view::npos;
    if (!carried) return std::string(programText);
    return road::FromProgramText(programText, road::Target::kCp932, true);
}

namespace road {

bool Cp932CharacterToUtf8(std::string_view character, std::string& utf8) {
    utf8.clear();
    wchar_t wide[4];
    const int n =
        ::MultiByteToWideChar(windows::kProgramCodePage, MB_ERR_INVALID_CHARS, character.data(),
                              static_cast<int>(character.size()), wide, 4);
    // One character in, one printable character out (code page 932 as
    // Windows applies it reads 0x80 as U+0080, a control).
    if (n != 1 || wide[0] < 0xA0) return false;
    utf8 = windows::FromWide(std::wstring_view(wide, 1), CP_UTF8);
    return !utf8.empty();
}

// Only a character that comes back as itself: no best-fit look-alikes.
bool Utf8CharacterToCp932(std::string_view character, std::string& cp932) {
    cp932.clear();
    const std::wstring wide = windows::ToWide(character, CP_UTF8);
    if (wide.empty()) return false;
    bool lossless = false;
    cp932 = windows::FromWide(wide, windows::kProgramCodePage, &lossless);
    return lossless && !cp932.empty() && windows::ToWide(cp932, windows::kProgramCodePage) == wide;
}

}  // namespace road

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
    // A character that code page 932 lacks travels as the carriers of its
    // UTF-8 bytes, as under a UTF-8 locale elsewhere.
    for (int i = 1; i < count; ++i) args.push_back(windows::WideToProgramText(wide[i]));
    ::LocalFree(wide);
    return args;
}

}  // namespace qk::platform
