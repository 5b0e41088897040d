#include "qkdec/CommandLine.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace qk {

CommandLine ReadCommandLine(const std::vector<std::string>& args, const FolderQuestion& askFolder) {
    CommandLine line;
    for (const std::string& arg : args) {
        if (arg.empty() || arg[0] != '-') {
            line.plainWords.push_back(arg);
            continue;
        }
        const char option = arg.size() > 1 ? arg[1] : '\0';
        const std::string rest = arg.size() > 2 ? arg.substr(2) : std::string();
        if (option == 'd') {
            if (rest.empty()) {
                if (std::optional<std::string> folder = askFolder()) line.outputDir = *folder;
            } else {
                line.outputDir = rest;
            }
        } else if (option == 'p' && !rest.empty()) {
            line.settings.commandLinePassword = rest;
        } else if (option == 'y') {
            line.settings.answerAllYes = true;
        } else {
            line.illegalOption = arg;
            break;
        }
    }
    if (line.outputDir) AppendSeparator(*line.outputDir);
    return line;
}

void AppendSeparator(std::string& folder) {
    if (!folder.empty() && folder.back() != platform::kSeparator) folder += platform::kSeparator;
}

}  // namespace qk
