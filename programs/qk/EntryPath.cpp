#include "qk/EntryPath.h"

#include <cstdint>

#include "format/EntryTable.h"

namespace qk::tool {

namespace {

// Splits at '\' the way the table reader normalised the name: the byte after
// a lead byte is never a separator.
std::vector<std::string> SplitAtSeparators(std::string_view name) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(name[i]);
        if (b == '\\') {
            parts.emplace_back();
            continue;
        }
        parts.back() += name[i];
        if (IsLeadByte(b) && i + 1 < name.size()) parts.back() += name[++i];
    }
    return parts;
}

bool IsDriveLetter(std::string_view part) {
    if (part.size() < 2 || part[1] != ':') return false;
    const char c = part[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool SplitEntryName(std::string_view name, std::vector<std::string>& components,
                    std::string& reason) {
    components.clear();
    const std::vector<std::string> parts = SplitAtSeparators(name);
    if (!name.empty() && parts.front().empty()) {
        reason = "absolute path";
        return false;
    }
    if (IsDriveLetter(parts.front())) {
        reason = "drive letter";
        return false;
    }
    for (const std::string& part : parts) {
        if (part == "..") {
            reason = "\"..\" in path";
            components.clear();
            return false;
        }
        if (part.empty() || part == ".") continue;
        components.push_back(part);
    }
    if (components.empty()) {
        reason = "empty name";
        return false;
    }
    return true;
}

std::string ShownName(std::string_view name, const NameCodec& codec) {
    std::string out;
    const std::vector<std::string> parts = SplitAtSeparators(name);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += codec.ToDisplay(parts[i]);
    }
    return out;
}

std::string WithSlashes(std::string_view name) {
    std::string out;
    const std::vector<std::string> parts = SplitAtSeparators(name);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

}  // namespace qk::tool
