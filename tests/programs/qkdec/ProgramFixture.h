// The built qkdec run as a user runs it: in a folder of its own, with its
// standard input from a file (or closed, or keys typed at a terminal), under
// a given locale, capturing the exact bytes of its standard output and its
// exit code. The shell gives the exit code without any OS header in the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk::test {

// What qkdec shows first on every run.
inline const std::string kBanner =
    "\n qkdec  : QuillKnot Decode Program for Windows95/NT Console\n"
    "        : Version 1.04 (Mar 10 1998)\n\n";

struct ProgramRun {
    int exitCode = -1;
    std::string output;
};

struct RunSettings {
    std::string workDir;
    std::string locale = "C";  // LC_ALL
    std::string input;         // standard input, as bytes
    std::string program;       // default: the built qkdec
    std::string setup;         // shell commands before it starts (ulimit, trap)
    // Shell commands run once it has shown its first prompt (one ending in
    // "[y/n]:" or "?:"), before `input` reaches it.
    std::string atPrompt;
    bool closedInput = false;  // standard input closed, not even an empty file
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// `args` run as `settings` say; with `keys`, at a terminal (through the
// system's `script` command), where line ends come back as CR LF.
inline ProgramRun RunQkdec(const std::vector<std::string>& args, const RunSettings& settings,
                           const std::string* keys = nullptr) {
    const TempDir io;
    const std::string in = Quote(io.path() + "/in"), out = Quote(io.path() + "/out");
    const std::string input = keys ? *keys : settings.input;
    WriteFileBytes(io.path() + "/in", Bytes(input.begin(), input.end()));
    std::string program = "LC_ALL=" + settings.locale + " TZ=UTC " +
                          Quote(settings.program.empty() ? QKDEC_PATH : settings.program);
    for (const std::string& arg : args) program += " " + Quote(arg);
    // The input held back until the program has shown a prompt (at most 20 s).
    const std::string waiting = "{ for i in $(seq 400); do grep -qF -e '?:' -e '[y/n]:' " + out +
                                " 2>/dev/null && break; sleep 0.05; done; " +
                                (settings.atPrompt.empty() ? "" : settings.atPrompt + "; ") +
                                "cat " + in + "; } | ";
    std::string command = "cd " + Quote(settings.workDir) + " && ";
    if (keys) {
        command += waiting + "script -qec " + Quote(program) + " /dev/null";
    } else {
        program = "( " + settings.setup + (settings.setup.empty() ? "" : "; ") + program + " )";
        command += !settings.atPrompt.empty()
                       ? waiting + program
                       : program + (settings.closedInput ? " <&-" : " <" + in);
    }
    command += " >" + out + "; echo $? >" + Quote(io.path() + "/rc");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const Bytes output = ReadFileBytes(io.path() + "/out"), rc = ReadFileBytes(io.path() + "/rc");
    return {std::atoi(std::string(rc.begin(), rc.end()).c_str()),
            std::string(output.begin(), output.end())};
}

// The "%2.2f" seconds of the closing messages vary from run to run.
inline std::string MaskSeconds(const std::string& text) {
    return std::regex_replace(text, std::regex("[0-9]+\\.[0-9][0-9]"), "#.##");
}

// UTF-8 text of the test source in the program's Shift-JIS.
inline std::string Sjis(const std::string& utf8) {
    std::string cp932;
    EXPECT_TRUE(platform::Utf8ToCp932(utf8, cp932)) << utf8;
    return cp932;
}

class ProgramFixture : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return dir_.path() + "/" + relative; }

    void WriteArchive(const std::string& name, const std::vector<ArchiveEntry>& entries,
                      const std::string& password = "") {
        WriteOptions options;
        options.usePassword = !password.empty();
        options.password = password;
        Bytes archive;
        ASSERT_EQ(qk::WriteArchive(entries, options, archive, nullptr), qk::Status::kOk);
        WriteFileBytes(Path(name), archive);
    }

    ProgramRun Run(const std::vector<std::string>& args, const std::string& input = "",
                   const std::string& locale = "C") {
        RunSettings settings;
        settings.workDir = dir_.path();
        settings.input = input;
        settings.locale = locale;
        return RunQkdec(args, settings);
    }

    TempDir dir_;
};

}  // namespace qk::test
