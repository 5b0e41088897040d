// The qk program: the everyday commands over qk1 archives (list, test,
// extract, print, add), on the same library as qkdec.
#pragma once

#include <string>
#include <vector>

namespace qk::tool {

// Runs qk with the arguments after the program name; `localeIsUtf8` decides
// what --charset=auto means. Returns the exit status.
int RunTool(const std::vector<std::string>& args, bool localeIsUtf8);

}  // namespace qk::tool
