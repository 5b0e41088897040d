#include "archive/PathParts.h"

#include <initializer_list>

#include "format/EntryTable.h"
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

// Whether `first` and `second` form one double-byte character: by the
// format's rule (the lead alone decides) or by CP932's (lead and trail).
using PairRule = bool (*)(std::uint8_t first, std::uint8_t second);

bool FormatPair(std::uint8_t first, std::uint8_t) {
    return IsLeadByte(first);
}

bool Cp932Pair(std::uint8_t first, std::uint8_t second) {
    const bool lead = (first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC);
    const bool trail = (second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFC);
    return lead && trail;
}

bool IsControl(std::uint8_t b) {
    return b < 0x20 || b == 0x7F;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

// CON, NUL, COM1 and the like: Windows opens the device for them in every
// folder, whatever follows the first dot and however the blanks before it.
bool IsDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (EqualsIgnoringCase(base, device)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        return EqualsIgnoringCase(base.substr(0, 3), "COM") ||
               EqualsIgnoringCase(base.substr(0, 3), "LPT");
    }
    return false;
}

// One component (separator-free, a pair kept whole by `pairs`) that Windows
// cannot hold as a file or folder name of its own.
bool IsUnfitComponent(std::string_view component, PairRule pairs) {
    // "." stays where it is; ".." is the business of LeavesFolder.
    if (component.empty() || component == "." || component == "..") return false;
    if (component.back() == '.' || component.back() == ' ') return true;
    for (std::size_t i = 0; i < component.size(); ++i) {
        const std::uint8_t b = static_cast<std::uint8_t>(component[i]);
        if (i + 1 < component.size() && pairs(b, static_cast<std::uint8_t>(component[i + 1]))) {
            ++i;
            continue;
        }
        if (IsControl(b) ||
            std::string_view(":<>\"|?*").find(static_cast<char>(b)) != std::string_view::npos) {
            return true;
        }
    }
    return IsDeviceName(component);
}

// True when some component of `name`, cut at both separators outside the
// pairs that `pairs` keeps together, is unfit for Windows.
bool HasUnfitComponent(std::string_view name, PairRule pairs) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (IsUnfitComponent(name.substr(start, i - start), pairs)) return true;
            start = i + 1;
        } else if (i + 1 < name.size() && pairs(static_cast<std::uint8_t>(name[i]),
                                                static_cast<std::uint8_t>(name[i + 1]))) {
            ++i;
        }
    }
    return false;
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

bool UnfitForWindows(std::string_view name) {
    return HasUnfitComponent(name, FormatPair) || HasUnfitComponent(name, Cp932Pair);
}

std::string ShownName(std::string_view name) {
    return platform::ShownText(name);
}

}  // namespace qk
