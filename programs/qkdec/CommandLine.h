// The options of the command line: -d, -dDIR, -pPASSWORD, -y.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "qkdec/Settings.h"

namespace qk {

struct CommandLine {
    Settings settings;
    // The output folder of -d or -dDIR (program text), with its final
    // separator; none when no -d succeeded.
    std::optional<std::string> outputDir;
    // Every argument that is not an option, in order (program text): the
    // archives, or in a self-extracting run the password words.
    std::vector<std::string> plainWords;
    // The first illegal option as it was given; nothing after it is read.
    std::optional<std::string> illegalOption;
};

// Asks for the output folder for a -d that stands alone; none when nothing
// could be read.
using FolderQuestion = std::function<std::optional<std::string>()>;

// Reads `args` (the arguments after the program name, as the system gave
// them). Only the second character of an option counts, so -yes is -y; a
// later option overrides an earlier one of its kind.
CommandLine ReadCommandLine(const std::vector<std::string>& args, const FolderQuestion& askFolder);

// Gives a folder text (Shift-JIS) its final `separator` unless its last
// character is one; the text is read character by character, so a double-byte
// character whose second byte equals the separator still gets one. The empty
// text stays empty: it stands for the current folder, where a lone separator
// would be the root.
void AppendSeparator(std::string& folder, char separator);

}  // namespace qk
