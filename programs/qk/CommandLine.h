// The qk command line: a command letter, its options and its operands, in the
// convention of the common archivers (qk x archive.qk1 -o out '*.txt').
#pragma once

#include <string>
#include <vector>

#include "qk/Charset.h"

namespace qk::tool {

enum class Command { kNone, kList, kTest, kExtract, kPrint, kAdd, kHelp };

// What extraction does with a file that already exists.
enum class ExistingPolicy { kAsk, kOverwrite, kSkip, kKeepBoth };

struct Options {
    Command command = Command::kNone;
    std::vector<std::string> operands;  // archives, names, files as typed

    Charset charset = Charset::kAuto;
    bool quiet = false;
    bool help = false;
    bool version = false;

    bool json = false;  // l
    // x
    std::string outputDir;
    ExistingPolicy existing = ExistingPolicy::kAsk;
    // every command that reads or writes an archive
    bool passwordGiven = false;
    std::string password;  // as typed, platform encoding
    // a
    bool askPassword = false;
    bool largeModel = false;
    bool insertInner = false;
    int searchDepth = 0;
    int level = 6;  // 1 fastest .. 9 smallest
    bool sfx = false;
    std::string sfxProgram;
    std::string baseDir;
    // An input that cannot be taken is left out with a message, and the
    // command ends with exit status 2, instead of writing nothing.
    bool skipErrors = false;
};

// Reads the arguments after the program name. Options may stand anywhere
// after the command; "--" ends them. False with a message in `error` for an
// unknown command or option, a missing value or missing operands.
bool ParseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error);

// The name a command is typed as ("x" for kExtract).
const char* CommandName(Command command);

}  // namespace qk::tool
