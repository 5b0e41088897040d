#include "app/ProgramRunner.h"

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

}  // namespace

ProgramRun RunQkdec(const std::vector<std::string>& args, const RunSettings& settings) {
    const TempDir io;
    const std::string in = io.path() + "/in", out = io.path() + "/out", rc = io.path() + "/rc";
    WriteFileBytes(in, Bytes(settings.input.begin(), settings.input.end()));
    // The shell gives the exit code without any OS header in the test.
    std::string command = "cd " + Quote(settings.workDir) + " && LC_ALL=" + settings.locale +
                          " TZ=UTC " +
                          Quote(settings.program.empty() ? QKDEC_PATH : settings.program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " <" + Quote(in) + " >" + Quote(out) + "; echo $? >" + Quote(rc);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    ProgramRun run;
    run.output = ReadText(out);
    run.exitCode = std::atoi(ReadText(rc).c_str());
    return run;
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
