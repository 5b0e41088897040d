#include "extract/EntryName.h"

#include <cstdint>
#include <initializer_list>

#include "format/EntryTable.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"

namespace qk::extract {

namespace {

// Where the file system of this platform splits a native name.
bool IsNativeSeparator(char c) {
    return c == '/' || (platform::kSeparator == '\\' && c == '\\');
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsUpper(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (UpperAscii(text[i]) != upper[i]) return false;
    }
    return true;
}

// CON, NUL, COM1 and the like (also COM0, and COM with a superscript digit
// as Windows reads them): Windows opens the device for them in every folder,
// whatever follows the first dot and however many blanks stand before it.
bool IsDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (EqualsUpper(base, device)) return true;
    }
    if (base.size() < 4) return false;
    const std::string_view stem = base.substr(0, 3);
    if (!EqualsUpper(stem, "COM") && !EqualsUpper(stem, "LPT")) return false;
    const std::string_view digit = base.substr(3);
    if (digit.size() == 1) return digit[0] >= '0' && digit[0] <= '9';
    // ¹ ² ³ in UTF-8.
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// A native component (UTF-8 on Windows) that Windows cannot give a file of
// its own, or would give to another one.
bool UnfitForWindows(std::string_view name) {
    if (name.back() == '.' || name.back() == ' ') return true;
    for (char c : name) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x20 || b == 0x7F ||
            std::string_view(":<>\"|?*").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return IsDeviceName(name);
}

// The refusal that wins when a name has several faults: leaving the folder
// first, then names the file system cannot take, then the limits.
int Rank(Refusal refusal) {
    if (LeadsOutside(refusal)) return 3;
    if (refusal == Refusal::kNameTooLong || refusal == Refusal::kPathTooLong) return 1;
    return refusal == Refusal::kNone ? 0 : 2;
}

}  // namespace

Refusal EntryName::Parse(std::string_view name, char separator, platform::TextMode mode,
                         const NameLimits& limits) {
    native_.clear();
    ends_.clear();
    failed_ = 0;
    Refusal verdict = Refusal::kNone;
    const auto refuse = [&](Refusal refusal) {
        if (Rank(refusal) > Rank(verdict)) verdict = refusal;
    };
    if (name.empty()) return Refusal::kNoFileName;
    if (name[0] == separator || name[0] == '/' || name[0] == '\\') refuse(Refusal::kAbsolute);
    const char first = UpperAscii(name[0]);
    if (name.size() >= 2 && first >= 'A' && first <= 'Z' && name[1] == ':') {
        refuse(Refusal::kDriveLetter);
    }

    std::size_t pathLength = limits.rootLength;
    bool lastDropped = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != separator) {
            // The byte after a lead byte is never a separator.
            if (IsLeadByte(static_cast<std::uint8_t>(name[i])) && i + 1 < name.size()) ++i;
            continue;
        }
        const std::string_view component = name.substr(start, i - start);
        start = i + 1;
        lastDropped = component.empty() || component == ".";
        if (lastDropped) continue;
        if (component == "..") {
            refuse(Refusal::kParentFolder);
            continue;
        }
#ifdef _WIN32
        // Windows gets every name in UTF-16 from the program text, whatever
        // the mode of the console: ToNativePath's form is what it sees.
        (void)mode;
        std::string native = platform::ToNativePath(component);
#else
        std::string native = platform::ToNativePathAs(component, mode);
#endif
        // The file system splits the converted bytes at its own separators: a
        // piece ".." there leads up, any other split is a name the program
        // did not mean.
        std::size_t pieceStart = 0;
        for (std::size_t k = 0; k <= native.size(); ++k) {
            if (k < native.size() && native[k] == '\0') refuse(Refusal::kSplitCharacter);
            if (k < native.size() && !IsNativeSeparator(native[k])) continue;
            const std::string_view piece(native.data() + pieceStart, k - pieceStart);
            if (piece == "..") refuse(Refusal::kParentFolder);
            if (k < native.size()) refuse(Refusal::kSplitCharacter);
            pieceStart = k + 1;
        }
        if (native.empty() || native == "." || native == "..") refuse(Refusal::kSplitCharacter);
        if (platform::kSeparator == '\\' && !native.empty() && UnfitForWindows(native)) {
            refuse(Refusal::kWindowsName);
        }
        const std::size_t units = platform::NameUnits(native);
        pathLength += (native_.empty() ? 0 : 1) + units;
        if (verdict == Refusal::kNone) {
            if (units > limits.nameMax) {
                verdict = Refusal::kNameTooLong;
                failed_ = native_.size();
            } else if (pathLength > limits.pathMax) {
                verdict = Refusal::kPathTooLong;
                failed_ = native_.size();
            }
        }
        native_.push_back(std::move(native));
        ends_.push_back(i);
    }
    if (native_.empty() || lastDropped) refuse(Refusal::kNoFileName);
    return verdict;
}

std::string EntryName::SameFileKey() const {
    std::string key;
    for (std::size_t k = 0; k < native_.size(); ++k) {
        if (k) key += '/';
        key += platform::SameNameKey(native_[k]);
    }
    return key;
}

}  // namespace qk::extract
