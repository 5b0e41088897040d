// The qkdec program as a function, so that the tests can run it in-process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qk {

// Shows "QK InputDirName:" with `prompt` and reads the folder as one line;
// none when nothing could be read.
std::optional<std::string> InputDirName(std::string_view prompt);

// The whole program: `args` are the arguments after the program name, as the
// system gave them. Returns the exit code: 1 for an illegal option or an
// empty command line, 2 when some archive could not be processed to its end,
// 0 otherwise.
int RunProgram(const std::vector<std::string>& args);

}  // namespace qk
