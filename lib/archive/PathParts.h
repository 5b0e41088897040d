// A path split into its parts, and names as the console may show them. The
// check of entry names before extraction is extract/EntryName.h.
#pragma once

#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace qk {

// The five parts of a path, split at the last separator and at the last "."
// of the name. Shift-JIS aware: the second byte of a double-byte character is
// never taken for a separator or a dot (0x95 0x5C is one character, not a
// character and a backslash). `directory + name == full` and
// `base + extension == name` always hold.
class PathParts {
  public:
    // Splits `path` at `separator` (the platform's by default).
    explicit PathParts(std::string_view path, char separator = platform::kSeparator);
    // Splits `directory` directly followed by `relative`: no separator is put
    // between them, the directory text carries its own.
    PathParts(std::string_view directory, std::string_view relative,
              char separator = platform::kSeparator);

    std::string full;       // the whole path
    std::string name;       // after the last separator; the whole path when there is none
    std::string directory;  // up to and including the last separator; empty when there is none
    std::string base;       // name up to its last "."
    std::string extension;  // name from its last "." on, the "." included; empty without one

  private:
    void Split(char separator);
};

// Position of the last `wanted` byte of `text`, skipping the second byte of
// every double-byte character; npos when there is none.
std::size_t FindLastCharacter(std::string_view text, char wanted);

// A name or path as the console may show it: every byte below 0x20 and 0x7F
// becomes %XX (two upper-case hex digits, the form the program uses for
// bytes that are no character), so that no control byte of an archive
// reaches the terminal. A double-byte lead whose second byte is such a
// control byte is shown as %XX as well. Other bytes are kept (see
// platform::ShownText, which this is).
std::string ShownName(std::string_view name);

}  // namespace qk
