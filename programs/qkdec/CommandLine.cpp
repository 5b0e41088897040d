#include "qkdec/CommandLine.h"

#include "format/EntryTable.h"
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
    if (line.outputDir) AppendSeparator(*line.outputDir, platform::kSeparator);
    return line;
}

void AppendSeparator(std::string& folder, char separator) {
    if (folder.empty()) return;
    // The last character starts where the walk from the front lands; its
    // second byte may be the separator's value (0x5C in 表) without being one.
    std::size_t last = 0;
    for (std::size_t i = 0; i < folder.size();
         i += IsLeadByte(static_cast<std::uint8_t>(folder[i])) ? 2 : 1) {
        last = i;
    }
    if (last != folder.size() - 1 || folder[last] != separator) folder += separator;
}

}  // namespace qk
