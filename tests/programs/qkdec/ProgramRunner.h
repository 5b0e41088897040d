// Runs the built qkdec as a user would: in a folder of its own, with its
// standard input from a file or keys typed at a terminal, under a given
// locale, and captures the exact bytes of its standard output and its exit
// code.
#pragma once

#include <string>
#include <vector>

namespace qk::test {

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

struct RunSettings {
    std::string workDir;       // the folder it runs in
    std::string locale = "C";  // LC_ALL
    std::string input;         // standard input, as bytes
    std::string program;       // default: the built qkdec
    // Shell commands run in the program's own shell before it starts
    // (ulimit, trap).
    std::string setup;
    // Shell commands run once the program has shown its first prompt (one
    // ending in "[y/n]:" or "?:"), before `input` reaches it. The program
    // has to show one.
    std::string atPrompt;
    // Standard input closed, not even an empty file (`input` is unused).
    bool closedInput = false;
};

ProgramRun RunQkdec(const std::vector<std::string>& args, const RunSettings& settings);

// The same at a terminal (through the system's `script` command): `keys` are
// typed once the program has shown a prompt ending in "?:". Line ends in the
// output come back as CR LF, as a terminal shows them.
ProgramRun RunQkdecAtTerminal(const std::vector<std::string>& args, const RunSettings& settings,
                              const std::string& keys);

// The "%2.2f" seconds of the closing messages vary from run to run: every
// such number becomes "#.##".
std::string MaskSeconds(std::string text);

// UTF-8 text of the test source in the program's Shift-JIS.
std::string Sjis(const std::string& utf8);

}  // namespace qk::test
