// Windows side of the console: the console API where a console is attached,
// stdio where the program's input or output is redirected, and the runtime's
// _getch for keys.
//
// Program text is CP932. A console whose output code page is 932 gets it
// byte for byte (WriteConsoleA); any other console gets it converted to
// UTF-16 (WriteConsoleW), so Japanese messages read right on every system. Redirected
// output receives the CP932 bytes unchanged (with the runtime's CR LF line
// ends), as does redirected input.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: the runtime headers below rely on its definitions.
#include <conio.h>

#include <algorithm>
#include <cstdio>

// windows.h maps WriteConsole to WriteConsoleA or WriteConsoleW; the name here
// is the platform layer's own.
#undef WriteConsole

#include "console/Console.h"
#include "platform/PartialFile.h"
#include "platform/Text.h"
#include "platform/windows/WideText.h"

namespace qk::platform {

namespace {

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode);
}

// Length of the longest start of `text`, at most `limit` bytes, that ends
// with a whole character.
std::size_t WholeCharacters(std::string_view text, std::size_t limit) {
    std::size_t length = 0;
    while (length < text.size()) {
        const BYTE b = static_cast<BYTE>(text[length]);
        const std::size_t next =
            length + (::IsDBCSLeadByteEx(windows::kProgramCodePage, b) ? 2 : 1);
        if (next > text.size() || next > limit) break;
        length = next;
    }
    return length;
}

// A double-byte character split between two WriteConsole calls would reach
// the console as two broken halves; its first byte waits for the next call.
std::string gHeldLeadByte;

// Writes program text to the console, straight through the console API: the
// runtime's stdout would pass the bytes through the C locale's code page on
// their way to a console, which is not 932 on most systems.
void WriteToConsole(HANDLE console, std::string_view programText) {
    std::string text = gHeldLeadByte;
    text.append(programText);
    const std::size_t complete = WholeCharacters(text, text.size());
    gHeldLeadByte = text.substr(complete);
    text.resize(complete);

    const bool bytesUnchanged = ::GetConsoleOutputCP() == windows::kProgramCodePage;
    std::string_view rest = text;
    while (!rest.empty()) {
        // Pieces of whole characters: old consoles refuse a single write
        // beyond 64 KiB.
        const std::size_t length = std::max<std::size_t>(WholeCharacters(rest, 8192), 1);
        const std::string_view piece = rest.substr(0, length);
        rest.remove_prefix(length);
        DWORD written = 0;
        if (bytesUnchanged) {
            ::WriteConsoleA(console, piece.data(), static_cast<DWORD>(piece.size()), &written,
                            nullptr);
        } else {
            const std::wstring wide = windows::ConsoleTextToWide(piece);
            ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written,
                            nullptr);
        }
    }
}

// Runs on a thread of its own that the system starts for the event. The
// partial file is marked for deletion and the process ends at once
// (TerminateProcess: no runtime clean-up that could wait for a lock the
// interrupted thread holds); closing its handles deletes the file. _getch
// leaves the console's mode alone, so there is nothing to restore.
BOOL WINAPI EndOnControlEvent(DWORD event) {
    UINT code = 0;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            code = 130;  // 128 + SIGINT, as a POSIX shell reports an interrupted program
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            code = 129;  // 128 + SIGHUP
            break;
        default:
            return FALSE;
    }
    DiscardPartialFiles();
    ::TerminateProcess(::GetCurrentProcess(), code);
    return TRUE;
}

}  // namespace

void InstallInterruptHandlers() {
    ::SetConsoleCtrlHandler(EndOnControlEvent, TRUE);
}

void WriteConsole(std::string_view programText) {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsConsole(output)) {
        // What stdio holds goes first, so that the order on screen stays.
        std::fflush(stdout);
        WriteToConsole(output, programText);
        return;
    }
    const std::string bytes = ToConsole(programText);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void FlushConsole() {
    std::fflush(stdout);
}

bool ReadConsoleLine(std::string& line) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (!IsConsole(input)) {
        // Redirected input: CP932 bytes, taken as they are.
        std::string bytes;
        int c = std::getc(stdin);
        if (c == EOF) return false;
        while (c != EOF && c != '\n') {
            if (bytes.size() > kMaxConsoleLine) return false;
            bytes += static_cast<char>(c);
            c = std::getc(stdin);
        }
        if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
        if (bytes.size() > kMaxConsoleLine) return false;
        line = bytes;
        return true;
    }
    // The console edits and echoes the line; it arrives in UTF-16 with its
    // CR LF, whatever the console's code page.
    std::fflush(stdout);
    std::wstring wide;
    for (;;) {
        wchar_t buffer[256];
        DWORD read = 0;
        if (!::ReadConsoleW(input, buffer, 256, &read, nullptr) || read == 0) break;
        wide.append(buffer, read);
        if (wide.back() == L'\n') break;
        if (wide.size() > kMaxConsoleLine) return false;
    }
    // Nothing, or Ctrl+Z at the start of the line: the end of the input.
    if (wide.empty() || wide[0] == L'\x1A') return false;
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r')) wide.pop_back();
    if (wide.size() > kMaxConsoleLine) return false;
    line = windows::WideToProgramText(wide);
    return true;
}

bool InputIsTerminal() {
    return IsConsole(::GetStdHandle(STD_INPUT_HANDLE));
}

// _getch reads the console without echo and without line editing; nothing
// needs to be switched, and nothing to be restored. A function or cursor key
// arrives as two codes (0 or 0xE0, then the key's code), read one at a time.
KeyReader::KeyReader() {
    std::fflush(stdout);
    active_ = InputIsTerminal();
}

KeyReader::~KeyReader() = default;

int KeyReader::ReadKey() {
    if (!active_) {
        const int c = std::getc(stdin);
        return c == EOF ? -1 : c;
    }
    return ::_getch();
}

void KeyReader::DiscardPending() {
    if (!active_) return;
    while (::_kbhit()) ::_getch();
}

}  // namespace qk::platform
