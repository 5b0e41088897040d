// What a file's mode says it is, for the POSIX side of the folder calls.
#pragma once

#include <sys/stat.h>

#include "platform/Directory.h"

namespace qk::platform {

inline EntryKind KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return EntryKind::kSymbolicLink;
    if (S_ISDIR(mode)) return EntryKind::kDirectory;
    if (S_ISREG(mode)) return EntryKind::kFile;
    return EntryKind::kOther;
}

}  // namespace qk::platform
