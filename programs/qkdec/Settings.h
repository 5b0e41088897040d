// The two program-wide settings that the command line fixes before the first
// archive and the console interaction reads.
#pragma once

#include <optional>
#include <string>

namespace qk {

struct Settings {
    // The password given on the command line (program text), used for every
    // archive instead of asking.
    std::optional<std::string> commandLinePassword;
    // Every question is answered yes (-y).
    bool answerAllYes = false;
};

}  // namespace qk
