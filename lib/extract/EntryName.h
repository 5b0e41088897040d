// An entry's stored name as the file system will get it, and the one check
// that decides whether it may be extracted.
//
// The name (program text, Shift-JIS, separators as the table reader left
// them) is cut into components where the format sees a separator (never
// after a lead byte); each component is converted on its own
// (platform::ToNativePath, with its %XX escapes), and the check is made on
// exactly those converted bytes, the ones the file system receives one folder
// at a time: a name the file system would read in another way than the
// program (a separator inside a character, a "..", a device name on Windows)
// is refused, whatever the program text looked like. One pass, linear in the
// name's length, no recursion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace qk::extract {

// Why a name may not be extracted.
enum class Refusal {
    kNone,
    // Leaving the output folder:
    kAbsolute,      // starts with a separator (a UNC name too)
    kDriveLetter,   // starts with a letter and ':' ("C:" alone too)
    kParentFolder,  // a ".." component, in the stored or in the converted form
    // Names the file system cannot take as they are:
    kNoFileName,      // empty, or ending in a separator or "."
    kSplitCharacter,  // the converted form holds a separator (or a NUL) the program does not see
    kWindowsName,     // Windows: a device name, ':', < > " | ? *, a control character,
                      // a trailing dot or blank
    // Limits of the file system, known before anything is written:
    kNameTooLong,  // a component longer than a name may be
    kPathTooLong,  // the output folder and the name longer than a path may be
};

// True for the refusals of names that would lead outside the output folder.
inline bool LeadsOutside(Refusal refusal) {
    return refusal == Refusal::kAbsolute || refusal == Refusal::kDriveLetter ||
           refusal == Refusal::kParentFolder;
}

// The limits the names are held against (platform/FolderHandle.h counts).
struct NameLimits {
    std::size_t nameMax = 255;
    std::size_t pathMax = 4095;
    std::size_t rootLength = 0;  // the output folder's path with its separator
};

class EntryName {
  public:
    // Cuts, converts and checks `name`. `separator` is the one the table was
    // read with; `mode` the conversion of the names. The components are kept
    // (also when the name is refused, as far as they were read).
    Refusal Parse(std::string_view name, char separator, platform::TextMode mode,
                  const NameLimits& limits);

    // Components kept: the folders, then the file. "." and empty components
    // on the way are left out, as the file system leaves them.
    std::size_t count() const { return native_.size(); }
    // Component k as the file system gets it.
    const std::string& native(std::size_t k) const { return native_[k]; }
    const std::vector<std::string>& natives() const { return native_; }
    // Where component k ends in the stored name.
    std::size_t end(std::size_t k) const { return ends_[k]; }
    // The component a length refusal is about.
    std::size_t failedComponent() const { return failed_; }

    // The form under which the file system tells this file from others
    // (platform::SameNameKey of each component, one separator between).
    std::string SameFileKey() const;

  private:
    std::vector<std::string> native_;
    std::vector<std::size_t> ends_;
    std::size_t failed_ = 0;
};

}  // namespace qk::extract
