// An open folder, and what is done by name inside it: the one way the
// extraction road (lib/extract) touches the file system below the output
// folder.
//
// Folders are opened one level at a time, each relative to the handle of its
// parent and never following a link, so that no path is resolved by name
// through a link that may stand in place of a folder, whenever it was put
// there. The names handed in are native: the bytes the file system receives
// (POSIX), or UTF-8 for the wide API (Windows), one component each, as
// extract::EntryName makes them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Directory.h"

namespace qk::platform {

// What stands at one name in a folder.
struct NameStatus {
    // The name itself (kSymbolicLink for a link, whatever it leads to, when
    // links are not followed), or what it leads to; kMissing when nothing.
    EntryKind kind = EntryKind::kMissing;
    std::int64_t size = 0;          // bytes of a file; 0 for anything else
    std::int64_t modifiedTime = 0;  // seconds since 1970-01-01 UTC
};

// How opening a folder below another one ended.
enum class ChildResult {
    kOpened,
    kMissing,     // no such name (and it was not to be made)
    kLink,        // a symbolic link, or on Windows any reparse point
    kNotFolder,   // a file or anything else that is no folder
    kMakeFailed,  // missing, and it could not be made
    kFailed,      // there, but it could not be opened
};

class FolderHandle {
  public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool valid() const;
    void Close();

    // Opens the output folder itself, `path` being program text as every
    // path of platform/FileSystem.h (empty: the current folder). A link is
    // followed here: the output folder is the user's choice.
    bool OpenRoot(const std::string& path);

    // Opens the folder `name` below this one without following a link,
    // making it first when it is missing and `make` is set.
    ChildResult OpenChild(std::string_view name, bool make, FolderHandle& child) const;

    // What stands at `name`; a link is followed only when `followLink` is set.
    NameStatus Query(std::string_view name, bool followLink) const;

    // Sets access and modification time of `name` itself (a link at the
    // name, not what it leads to).
    bool SetFileTime(std::string_view name, std::uint32_t time) const;

    // Opens the file `name` for reading in binary mode (a link at the name
    // is followed: reading goes nowhere it should not); null on failure.
    std::FILE* OpenForRead(std::string_view name) const;

    // A second handle of the same folder.
    bool Duplicate(FolderHandle& copy) const;

    // The longest name of one file in this folder: bytes on POSIX systems,
    // UTF-16 units on Windows.
    std::size_t NameMax() const;

  private:
    friend class OutputFileWriter;
#ifdef _WIN32
    void* handle_ = nullptr;  // a HANDLE; null when closed
#else
    int descriptor_ = -1;
#endif
};

// The longest path below the output folder that the system takes, counted as
// NameMax counts (the output folder's own path included, no terminator).
std::size_t PathMax();

// The length of the output folder's path as the path limit counts it, with
// the separator that follows it: on Windows the full path (a relative folder
// is measured from the current one).
std::size_t RootPathLength(const std::string& path);

// Length of a native name as NameMax counts it.
std::size_t NameUnits(std::string_view name);

// The form of one native name under which the file system tells names
// apart: the name itself on POSIX systems; on Windows its UTF-16 form with
// every letter in upper case, as the file system compares names.
std::string SameNameKey(std::string_view name);

}  // namespace qk::platform
