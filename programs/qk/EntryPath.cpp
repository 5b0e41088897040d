#include "qk/EntryPath.h"

#include <cstdint>

#include "format/EntryTable.h"
#include "platform/Text.h"

namespace qk::tool {

std::string ShownName(std::string_view name, const NameCodec& codec) {
    std::string out;
    const std::vector<std::string> parts = SplitAtSeparators(name, '\\');
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += codec.ToDisplay(parts[i]);
    }
    return out;
}

std::string WithSlashes(std::string_view name) {
    std::string out;
    const std::vector<std::string> parts = SplitAtSeparators(name, '\\');
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

extract::RoadSettings RoadSettingsFor(const NameCodec& codec) {
    extract::RoadSettings settings;
    settings.separator = '\\';
    settings.textMode = codec.charset() == Charset::kUtf8 ? platform::TextMode::kUtf8
                                                          : platform::TextMode::kPassThrough;
    return settings;
}

std::string RefusalText(extract::Refusal refusal) {
    switch (refusal) {
        case extract::Refusal::kAbsolute:
            return "absolute path";
        case extract::Refusal::kDriveLetter:
            return "drive letter";
        case extract::Refusal::kParentFolder:
            return "\"..\" in path";
        case extract::Refusal::kNoFileName:
            return "no file name";
        case extract::Refusal::kSplitCharacter:
            return "the file system would cut the name inside a character";
        case extract::Refusal::kWindowsName:
            return "a name Windows cannot give a file";
        case extract::Refusal::kNameTooLong:
            return "a name longer than the file system allows";
        case extract::Refusal::kPathTooLong:
            return "the path is longer than the system allows";
        default:
            return "refused";
    }
}

}  // namespace qk::tool
