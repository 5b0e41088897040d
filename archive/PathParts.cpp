#include "archive/PathParts.h"

#include "archive/EntryTable.h"
#include "platform/Text.h"

namespace qk {

namespace {

// True when one component of `text`, cut at `separator` (double-byte
// characters kept whole when `sjis`), is "..".
bool HasParentComponent(std::string_view text, char separator, bool sjis) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            if (text.substr(start, i - start) == "..") return true;
            start = i + 1;
        } else if (sjis && IsLeadByte(static_cast<std::uint8_t>(text[i])) && i + 1 < text.size()) {
            ++i;
        }
    }
    return false;
}

bool IsAbsoluteOrDrive(std::string_view text, char separator) {
    if (text.empty()) return false;
    if (text[0] == separator || text[0] == '/' || text[0] == '\\') return true;
    const char c = text[0];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && text.size() >= 2 && text[1] == ':';
}

}  // namespace

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

bool LeavesFolder(std::string_view name, char separator) {
    if (IsAbsoluteOrDrive(name, separator) || HasParentComponent(name, separator, true)) {
        return true;
    }
    // The file system sees the converted name, in which a byte the text
    // conversion cannot keep together with its neighbour stands alone; check
    // that form as well.
    const std::string native = platform::ToNativePath(name);
    return IsAbsoluteOrDrive(native, separator) || HasParentComponent(native, separator, false);
}

}  // namespace qk
