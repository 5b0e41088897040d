// POSIX side of the console: stdio for text, termios for the keyboard.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "console/Console.h"
#include "platform/PartialFile.h"
#include "platform/Text.h"

namespace qk::platform {

namespace {

// The terminal mode to restore. A signal that ends the program while keys are
// read without echo must not leave the user's terminal silent, so the handler
// below needs it outside the KeyReader.
struct termios gSavedMode;
volatile std::sig_atomic_t gRawMode = 0;

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction gPreviousActions[4];

// Only async-signal-safe calls: unlinkat (through DiscardPartialFiles),
// tcsetattr, sigaction, raise. The signal is blocked while the handler runs,
// so the raised one ends the program with the default action as soon as the
// handler returns.
extern "C" void RestoreAndReraise(int signal) {
    platform::DiscardPartialFiles();
    if (gRawMode) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedMode);
    gRawMode = 0;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction action = {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    // The other ending signals wait while one is handled.
    for (int signal : kRestoringSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kRestoringSignals) {
        struct sigaction previous;
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

void WriteConsole(std::string_view programText) {
    const std::string bytes = ToConsole(programText);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void FlushConsole() {
    std::fflush(stdout);
}

bool ReadConsoleLine(std::string& line) {
    std::string native;
    int c = std::getc(stdin);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        // Room for the carriage return before the line feed.
        if (native.size() > kMaxConsoleLine) return false;
        native += static_cast<char>(c);
        c = std::getc(stdin);
    }
    if (!native.empty() && native.back() == '\r') native.pop_back();
    if (native.size() > kMaxConsoleLine) return false;
    line = FromNative(native);
    return true;
}

bool InputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

KeyReader::KeyReader() {
    std::fflush(stdout);
    if (::tcgetattr(STDIN_FILENO, &gSavedMode) != 0) return;
    struct termios raw = gSavedMode;
    // No echo and no line editing: every key arrives at once, as typed. The
    // Enter key stays CR (no CR to LF mapping) so both forms are seen as keys.
    raw.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
    raw.c_iflag &= static_cast<tcflag_t>(~ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    struct sigaction action = {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (int signal : kRestoringSignals) sigaddset(&action.sa_mask, signal);
    for (int i = 0; i < 4; ++i) ::sigaction(kRestoringSignals[i], &action, &gPreviousActions[i]);

    gRawMode = 1;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        gRawMode = 0;
        for (int i = 0; i < 4; ++i)
            ::sigaction(kRestoringSignals[i], &gPreviousActions[i], nullptr);
        return;
    }
    active_ = true;
}

KeyReader::~KeyReader() {
    if (!active_) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedMode);
    gRawMode = 0;
    for (int i = 0; i < 4; ++i) ::sigaction(kRestoringSignals[i], &gPreviousActions[i], nullptr);
}

// Straight from the terminal, not through stdin's buffer: what has not been
// read yet stays in the terminal, where DiscardPending can drop it.
int KeyReader::ReadKey() {
    unsigned char c;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n == 1) return c;
        if (n == 0 || errno != EINTR) return -1;
    }
}

void KeyReader::DiscardPending() {
    if (active_) ::tcflush(STDIN_FILENO, TCIFLUSH);
}

}  // namespace qk::platform
