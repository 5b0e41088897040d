// POSIX side of the terminal queries.
#include <sys/ioctl.h>
#include <unistd.h>

#include "console/Terminal.h"

namespace qk::platform {

bool IsTerminal(StandardStream stream) {
    const int fd = stream == StandardStream::kInput    ? STDIN_FILENO
                   : stream == StandardStream::kOutput ? STDOUT_FILENO
                                                       : STDERR_FILENO;
    return ::isatty(fd) == 1;
}

int TerminalWidth() {
    struct winsize size;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void SetBinaryOutput() {
    // POSIX streams never translate line ends.
}

}  // namespace qk::platform
