// Folder trees: listing a folder, telling links from what they point at, and
// the executable bit of a written program file.
//
// Paths are program text, converted for the file system as in
// platform/FileSystem.h. Names returned by ListDirectory are converted back
// with FromNative.
#pragma once

#include <string>
#include <vector>

namespace qk::platform {

// What a directory entry is, without following a symbolic link.
enum class EntryKind { kMissing, kFile, kDirectory, kSymbolicLink, kOther };

struct DirectoryEntry {
    std::string name;  // the entry's own name, no folder part
    EntryKind kind = EntryKind::kOther;
};

// The entries of a folder except "." and "..", in no particular order. False
// when the folder cannot be read.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries);

// The kind of `path` itself: a symbolic link is reported as a link, whatever
// it points at.
EntryKind QueryEntryKind(const std::string& path);

// Lets the owner, and whoever may read the file, run it as a program. A no-op
// where the file system has no such bit.
bool MakeExecutable(const std::string& path);

}  // namespace qk::platform
