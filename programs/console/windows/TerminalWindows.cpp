// Windows side of the terminal queries: a stream reaches a terminal when it
// is a console handle (the NUL device is a character device too, so the
// runtime's _isatty would take it for one).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: the runtime headers below rely on its definitions.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "console/Terminal.h"

namespace qk::platform {

namespace {

HANDLE HandleOf(StandardStream stream) {
    const DWORD id = stream == StandardStream::kInput    ? STD_INPUT_HANDLE
                     : stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE
                                                         : STD_ERROR_HANDLE;
    return ::GetStdHandle(id);
}

}  // namespace

bool IsTerminal(StandardStream stream) {
    const HANDLE handle = HandleOf(stream);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

int TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(HandleOf(StandardStream::kError), &info)) {
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 0) return width;
    }
    return 80;
}

void SetBinaryOutput() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

}  // namespace qk::platform
