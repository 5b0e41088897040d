// The standard streams as the program's user sees them: whether they reach a
// terminal, how wide it is, and standard output for raw bytes.
#pragma once

namespace qk::platform {

enum class StandardStream { kInput, kOutput, kError };

// True when the stream is connected to a terminal (not a file or a pipe).
bool IsTerminal(StandardStream stream);

// Columns of the terminal on standard error, or 80 when it cannot be told.
int TerminalWidth();

// Makes standard output carry bytes unchanged (no line-end translation).
void SetBinaryOutput();

}  // namespace qk::platform
