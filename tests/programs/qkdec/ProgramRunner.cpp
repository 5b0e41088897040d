#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "platform/Text.h"
#include "support/TestSupport.h"

namespace qk::test {

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs `command` in the program's folder with its output into `io`, and
// collects that and the exit code.
ProgramRun Collect(const RunSettings& settings, const TempDir& io, const std::string& command) {
    const std::string full = "cd " + Quote(settings.workDir) + " && " + command + " >" +
                             Quote(io.path() + "/out") + "; echo $? >" + Quote(io.path() + "/rc");
    EXPECT_EQ(std::system(full.c_str()), 0) << full;
    return {std::atoi(ReadText(io.path() + "/rc").c_str()), ReadText(io.path() + "/out")};
}

// The input `io`/in, held back until the program has shown a prompt (at most
// 20 s) and `then` has run.
std::string WaitForPrompt(const TempDir& io, const std::string& then) {
    return "{ for i in $(seq 400); do grep -qF -e '?:' -e '[y/n]:' " + Quote(io.path() + "/out") +
           " 2>/dev/null && break; sleep 0.05; done; " + then + "; cat " +
           Quote(io.path() + "/in") + "; }";
}

std::string Program(const std::vector<std::string>& args, const RunSettings& settings) {
    std::string command = "LC_ALL=" + settings.locale + " TZ=UTC " +
                          Quote(settings.program.empty() ? QKDEC_PATH : settings.program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    return command;
}

}  // namespace

// The shell gives the exit code without any OS header in the test.
ProgramRun RunQkdec(const std::vector<std::string>& args, const RunSettings& settings) {
    const TempDir io;
    WriteFileBytes(io.path() + "/in", Bytes(settings.input.begin(), settings.input.end()));
    const std::string program = "( " + settings.setup + (settings.setup.empty() ? "" : "; ") +
                                Program(args, settings) + " )";
    if (!settings.atPrompt.empty()) {
        return Collect(settings, io, WaitForPrompt(io, settings.atPrompt) + " | " + program);
    }
    return Collect(settings, io,
                   program + (settings.closedInput ? " <&-" : " <" + Quote(io.path() + "/in")));
}

ProgramRun RunQkdecAtTerminal(const std::vector<std::string>& args, const RunSettings& settings,
                              const std::string& keys) {
    const TempDir io;
    WriteFileBytes(io.path() + "/in", Bytes(keys.begin(), keys.end()));
    // The program shows its prompt only once the terminal has stopped echoing.
    return Collect(settings, io,
                   WaitForPrompt(io, "true") + " | script -qec " + Quote(Program(args, settings)) +
                       " /dev/null");
}

std::string MaskSeconds(std::string text) {
    static const std::regex seconds("[0-9]+\\.[0-9][0-9]");
    return std::regex_replace(text, seconds, "#.##");
}

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    EXPECT_TRUE(platform::Utf8ToCp932(utf8, cp932)) << utf8;
    return cp932;
}

}  // namespace qk::test
