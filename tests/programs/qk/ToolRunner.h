// Runs the built qk program through the shell, as a user would, and collects
// what it printed and its exit status.
#pragma once

#include <string>

namespace qk::test {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `script` with /bin/sh in `dir`, with $QK and $QKDEC naming the built
// programs, TZ=UTC and a UTF-8 locale; `input` is its standard input.
RunResult RunShell(const std::string& dir, const std::string& script,
                   const std::string& input = "");

// Runs qk with `args` (shell words) in `dir`.
inline RunResult RunQk(const std::string& dir, const std::string& args,
                       const std::string& input = "") {
    return RunShell(dir, "\"$QK\" " + args, input);
}

}  // namespace qk::test
