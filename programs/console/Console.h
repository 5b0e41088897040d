// The console: standard output for every text the program shows, standard
// input for answers, and the keyboard for the masked password entry.
//
// Texts handed in and out are program text (Shift-JIS); the platform side
// converts them for the console (see platform/Text.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qk::platform {

// Writes program text to standard output, converted for the console.
void WriteConsole(std::string_view programText);

// Makes everything written so far visible.
void FlushConsole();

// The longest line ReadConsoleLine takes, and the most keys a password may
// have: an answer, a folder name or a password is never longer.
constexpr std::size_t kMaxConsoleLine = 4096;

// Reads one line from standard input without its line feed (and without a
// carriage return before it), as program text. False when the input has
// ended before anything could be read, or when the line runs past
// kMaxConsoleLine bytes (then nothing more of it is read); `line` is then
// untouched.
bool ReadConsoleLine(std::string& line);

// True when standard input is a terminal, so that keys can be read one by one.
bool InputIsTerminal();

// Installs what ends the program when it is interrupted: SIGINT, SIGTERM,
// SIGHUP and SIGQUIT (POSIX; one the program was started with ignored stays
// ignored, as under nohup), or Ctrl+C, Ctrl+Break and the closing of the
// console (Windows), remove the file being written (platform/PartialFile.h),
// bring the terminal back to its mode and end the program as the signal
// would (exit status 128+n; 130 for Ctrl+C on Windows). SIGXFSZ is ignored,
// so that a file-size limit makes a write fail like a full disk instead of
// ending the program. Call once at start-up.
void InstallInterruptHandlers();

// Keys typed at the terminal, one byte at a time and without echo, for as long
// as the object lives; the terminal's previous mode comes back on destruction
// (and when the program is interrupted meanwhile). Only for a terminal input.
class KeyReader {
  public:
    KeyReader();
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    // The next byte typed, or -1 when the input has ended.
    int ReadKey();

    // Drops what has been typed but not read yet (the rest of an escape
    // sequence, say).
    void DiscardPending();

  private:
    bool active_ = false;
};

}  // namespace qk::platform
