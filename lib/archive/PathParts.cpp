#include "archive/PathParts.h"

#include "format/EntryTable.h"
#include "platform/Text.h"

namespace qk {

std::size_t FindLastCharacter(std::string_view text, char wanted) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t b = static_cast<std::uint8_t>(text[i]);
        if (text[i] == wanted) {
            found = i;
        } else if (IsLeadByte(b)) {
            ++i;  // the trail byte is not examined; a lead byte at the end stops the walk
        }
    }
    return found;
}

PathParts::PathParts(std::string_view path, char separator) : full(path) {
    Split(separator);
}

PathParts::PathParts(std::string_view directory, std::string_view relative, char separator) {
    full.reserve(directory.size() + relative.size());
    full.append(directory).append(relative);
    Split(separator);
}

void PathParts::Split(char separator) {
    const std::size_t p = FindLastCharacter(full, separator);
    const std::size_t k = p == std::string::npos ? 0 : p + 1;
    directory = full.substr(0, k);
    name = full.substr(k);
    const std::size_t d = FindLastCharacter(name, '.');
    if (d == std::string::npos) {
        base = name;
        extension.clear();
    } else {
        base = name.substr(0, d);
        extension = name.substr(d);
    }
}

std::string ShownName(std::string_view name) {
    return platform::ShownText(name);
}

}  // namespace qk
