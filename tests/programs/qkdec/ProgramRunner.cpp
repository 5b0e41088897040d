#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

std::string Environment(const RunSettings& settings) {
    return "LC_ALL=" + settings.locale + " TZ=UTC ";
}

std::string ProgramCommand(const std::vector<std::string>& args, const RunSettings& settings) {
    std::string command = Quote(settings.program.empty() ? QKDEC_PATH : settings.program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    return command;
}

ProgramRun Collect(const TempDir& io) {
    ProgramRun run;
    run.output = ReadText(io.path() + "/out");
    run.exitCode = std::atoi(ReadText(io.path() + "/rc").c_str());
    return run;
}

}  // namespace

// The shell gives the exit code without any OS header in the test.
ProgramRun RunQkdec(const std::vector<std::string>& args, const RunSettings& settings) {
    const TempDir io;
    const std::string in = Quote(io.path() + "/in");
    const std::string out = Quote(io.path() + "/out");
    WriteFileBytes(io.path() + "/in", Bytes(settings.input.begin(), settings.input.end()));
    const std::string program = "( " + settings.setup + (settings.setup.empty() ? "" : "; ") +
                                Environment(settings) + ProgramCommand(args, settings) + " )";
    std::string command = "cd " + Quote(settings.workDir) + " && ";
    if (!settings.atPrompt.empty()) {
        // The input waits for the prompt (at most 20 s), then the commands run.
        command += "{ for i in $(seq 400); do grep -qF -e '?:' -e '[y/n]:' " + out +
                   " 2>/dev/null && break; sleep 0.05; done; " + settings.atPrompt + "; cat " + in +
                   "; } | " + program;
    } else {
        command += program + (settings.closedInput ? " <&-" : " <" + in);
    }
    command += " >" + out + "; echo $? >" + Quote(io.path() + "/rc");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return Collect(io);
}

bool TerminalAvailable() {
    return std::system("command -v script >/dev/null 2>&1") == 0;
}

ProgramRun RunQkdecAtTerminal(const std::vector<std::string>& args, const RunSettings& settings,
                              const std::string& keys) {
    const TempDir io;
    const std::string out = Quote(io.path() + "/out");
    WriteFileBytes(io.path() + "/keys", Bytes(keys.begin(), keys.end()));
    // The keys wait for the prompt (at most 20 s), which the program shows
    // only once the terminal has stopped echoing.
    const std::string typist = "{ for i in $(seq 400); do grep -qF '?:' " + out +
                               " 2>/dev/null && break; sleep 0.05; done; cat " +
                               Quote(io.path() + "/keys") + "; }";
    const std::string command = "cd " + Quote(settings.workDir) + " && " + typist + " | " +
                                Environment(settings) + "script -qec " +
                                Quote(ProgramCommand(args, settings)) + " /dev/null >" + out +
                                "; echo $? >" + Quote(io.path() + "/rc");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return Collect(io);
}

// Digits, a dot and two digits: the same as replacing "[0-9]+\\.[0-9][0-9]".
std::string MaskSeconds(std::string text) {
    const auto digit = [&](std::size_t i) {
        return i < text.size() && text[i] >= '0' && text[i] <= '9';
    };
    std::string masked;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!digit(i)) {
            masked += text[i++];
            continue;
        }
        std::size_t end = i;
        while (digit(end)) ++end;
        if (end < text.size() && text[end] == '.' && digit(end + 1) && digit(end + 2)) {
            masked += "#.##";
            i = end + 3;
        } else {
            masked.append(text, i, end - i);
            i = end;
        }
    }
    return masked;
}

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    EXPECT_TRUE(platform::Utf8ToCp932(utf8, cp932)) << utf8;
    return cp932;
}

}  // namespace qk::test
