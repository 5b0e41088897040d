#include "ToolRunner.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/TestSupport.h"

namespace qk::test {

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

RunResult RunShell(const std::string& dir, const std::string& script, const std::string& input) {
    // The captured streams live in a folder of their own, out of the way of
    // the files the commands list and write.
    static TempDir io;
    std::ofstream(io.path() + "/script", std::ios::binary) << script << "\n";
    std::ofstream(io.path() + "/stdin", std::ios::binary) << input;
    const std::string command =
        "cd '" + dir +
        "' && QK='" QK_PROGRAM "' QKDEC='" QKDEC_PROGRAM "' TZ=UTC LC_ALL=C.UTF-8 /bin/sh '" +
        io.path() + "/script' <'" + io.path() + "/stdin' >'" + io.path() + "/stdout' 2>'" +
        io.path() + "/stderr'; echo $? >'" + io.path() + "/status'";
    RunResult result;
    if (std::system(command.c_str()) == -1) return result;
    result.status = std::atoi(ReadText(io.path() + "/status").c_str());
    result.out = ReadText(io.path() + "/stdout");
    result.err = ReadText(io.path() + "/stderr");
    return result;
}

}  // namespace qk::test
